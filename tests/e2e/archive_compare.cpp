#include "tests/e2e/archive_compare.h"

#include <map>
#include <vector>

#include "grf/grf.h"
#include "support/text.h"

namespace {

using Contents = std::map<std::string, std::vector<unsigned char>>;

struct Reader {
  GrfArchive* archive;
  Contents* contents;
  bool ok;
  std::string* why;
};

std::string Folded(const char* name) {
  std::string s(name);
  for (char& c : s) c = static_cast<char>(AsciiLower(static_cast<unsigned char>(c)));
  return s;
}

bool ReadOne(uint32_t, uint32_t, const EntryView* view, void* context) {
  auto* r = static_cast<Reader*>(context);
  std::vector<unsigned char> data(view->realSize);
  if (!GrfReadEntry(r->archive, view->name, data.data(), view->realSize, nullptr)) {
    *r->why = std::string("cannot read ") + view->name;
    r->ok = false;
    return false;
  }
  (*r->contents)[Folded(view->name)] = std::move(data);
  return true;
}

bool Load(const std::string& path, Contents* contents, std::string* why) {
  GrfArchive* archive = nullptr;
  if (!GrfOpen(path.c_str(), GRF_OPEN_READ_ONLY, nullptr, &archive)) {
    *why = "cannot open " + path;
    return false;
  }
  Reader r{archive, contents, true, why};
  const bool walked = GrfForEachEntry(archive, &ReadOne, &r);
  GrfClose(&archive);
  if (!walked && r.ok) *why = "enumeration failed in " + path;
  return walked && r.ok;
}

}  // namespace

bool SameArchiveContent(const std::string& first, const std::string& second, std::string* why) {
  Contents a, b;
  if (!Load(first, &a, why) || !Load(second, &b, why)) return false;
  if (a.size() != b.size()) {
    *why = std::to_string(a.size()) + " entries against " + std::to_string(b.size());
    return false;
  }
  for (const auto& [name, data] : a) {
    auto it = b.find(name);
    if (it == b.end()) {
      *why = name + " missing";
      return false;
    }
    if (it->second != data) {
      *why = name + " differs";
      return false;
    }
  }
  return true;
}
