#include "engine/content_index.h"

#include <new>

std::unique_ptr<ContentIndex> ContentIndex::Create() noexcept {
  return std::unique_ptr<ContentIndex>(new (std::nothrow) ContentIndex());
}

bool ContentIndex::Contains(uint32_t checksum) const noexcept {
  const auto found = names_.find(checksum);
  return found != names_.end() && !found->second.empty();
}

void ContentIndex::VisitNames(uint32_t checksum, Visitor visitor, void* context) const {
  const auto found = names_.find(checksum);
  if (found == names_.end()) return;
  for (const std::string& name : found->second) {
    if (!visitor(name.c_str(), context)) return;
  }
}

bool ContentIndex::Insert(uint32_t checksum, const char* name) noexcept {
  return Insert(checksum, name ? std::string_view(name) : std::string_view());
}

bool ContentIndex::Insert(uint32_t checksum, std::string_view name) noexcept {
  auto slot = names_.end();
  bool created = false;
  try {
    auto [position, inserted] = names_.try_emplace(checksum);
    slot = position;
    created = inserted;
    slot->second.emplace_back(name);
    return true;
  } catch (const std::bad_alloc&) {
    // Leave no empty list behind for a checksum whose first name failed.
    if (created) names_.erase(slot);
    return false;
  } catch (const std::length_error&) {
    if (created) names_.erase(slot);
    return false;
  }
}
