#pragma once
// Copies of names kept together in a few big blocks instead of one
// allocation each; a copy stays where it is until the arena goes. Nothing
// here throws.

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

class NameArena {
 public:
  NameArena() = default;
  NameArena(const NameArena&) = delete;
  NameArena& operator=(const NameArena&) = delete;

  // A NUL-terminated copy of the name; false when memory ran out.
  bool Copy(std::string_view name, std::string_view* copy) noexcept;

 private:
  static constexpr size_t kBlockBytes = 64u << 10;
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* free_ = nullptr;  // the unused end of the newest block
  size_t left_ = 0;
};
