#pragma once
// Contents of the latest first occurrences, by key, so that a later
// duplicate is proven against memory instead of decoding its candidate
// again.
//
// A content is lent while its entry is in flight (workers may still read it,
// nothing writes it) and owned from the entry's write on. When the bytes
// exceed the budget the oldest contents are let go: owned ones are freed,
// lent ones only forgotten (their entry frees them). Nothing here throws.

#include <cstdint>
#include <list>
#include <unordered_map>

#include "engine/content_index.h"

class RecentContents {
 public:
  explicit RecentContents(uint64_t budget) noexcept : budget_(budget) {}
  RecentContents(const RecentContents&) = delete;
  RecentContents& operator=(const RecentContents&) = delete;
  ~RecentContents();

  // Lends a content of key.size bytes from the pool under a key not held
  // yet; false when it is not remembered (too big, or memory ran out).
  bool Lend(const ContentKey& key, unsigned char* content) noexcept;
  // Takes over the content lent under the key; false when it was let go
  // meanwhile, and the lender keeps it.
  bool Adopt(const ContentKey& key) noexcept;
  // The content held under the key, or null.
  const unsigned char* Find(const ContentKey& key) const noexcept;

 private:
  struct Held {
    unsigned char* content;
    bool owned;
  };
  void Trim() noexcept;

  uint64_t budget_;
  uint64_t bytes_ = 0;
  std::unordered_map<ContentKey, Held, ContentKeyHash> held_;
  std::list<ContentKey> order_;  // oldest first (a list: made without allocating)
};
