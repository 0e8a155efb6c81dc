#include "engine/recent_contents.h"

#include "support/pool.h"

RecentContents::~RecentContents() {
  for (auto& entry : held_)
    if (entry.second.owned) PoolFree(entry.second.content);
}

bool RecentContents::Lend(const ContentKey& key, unsigned char* content) noexcept {
  // A content that would push out most of the others is not worth holding.
  if (key.size > budget_ / 4 || held_.count(key)) return false;
  try {
    order_.push_back(key);
    held_.emplace(key, Held{content, false});
  } catch (...) {
    if (order_.size() > held_.size()) order_.pop_back();
    return false;
  }
  bytes_ += key.size;
  Trim();
  return true;
}

bool RecentContents::Adopt(const ContentKey& key) noexcept {
  const auto found = held_.find(key);
  if (found == held_.end()) return false;
  found->second.owned = true;
  return true;
}

const unsigned char* RecentContents::Find(const ContentKey& key) const noexcept {
  const auto found = held_.find(key);
  return found == held_.end() ? nullptr : found->second.content;
}

void RecentContents::Trim() noexcept {
  while (bytes_ > budget_) {
    const ContentKey oldest = order_.front();
    order_.pop_front();
    const auto found = held_.find(oldest);
    if (found->second.owned) PoolFree(found->second.content);
    held_.erase(found);
    bytes_ -= oldest.size;
  }
}
