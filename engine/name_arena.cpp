#include "engine/name_arena.h"

#include <algorithm>
#include <cstring>
#include <new>

bool NameArena::Copy(std::string_view name, std::string_view* copy) noexcept {
  const size_t need = name.size() + 1;
  if (need > left_) {
    // A name longer than a block gets a block of its own.
    const size_t size = std::max(kBlockBytes, need);
    std::unique_ptr<char[]> block(new (std::nothrow) char[size]);
    if (!block) return false;
    try {
      blocks_.push_back(std::move(block));
    } catch (...) {
      return false;
    }
    free_ = blocks_.back().get();
    left_ = size;
  }
  if (!name.empty()) std::memcpy(free_, name.data(), name.size());
  free_[name.size()] = '\0';
  *copy = std::string_view(free_, name.size());
  free_ += need;
  left_ -= need;
  return true;
}
