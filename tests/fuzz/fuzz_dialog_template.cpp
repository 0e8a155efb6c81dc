// The dialog-template builder on arbitrary descriptions and message fonts.
// The template is measured, built into a block of exactly that length and
// parsed back field by field; builds into shorter blocks must stay inside
// them and write only whole pieces of the full template.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <memory>
#include <vector>

#include "support/dialog_template.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr uint8_t kUntouched = 0xA5;

std::u16string TakeText(FuzzedDataProvider& in, size_t maxUnits) {
  const size_t units = in.ConsumeIntegralInRange<size_t>(0, maxUnits);
  std::u16string text;
  for (size_t i = 0; i < units; ++i) {
    const char16_t c = in.ConsumeIntegral<char16_t>();
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) { return U16(p) | (static_cast<uint32_t>(U16(p + 2)) << 16); }

size_t Round4(size_t n) { return (n + 3) & ~static_cast<size_t>(3); }

// Checks the built template against its description; returns where the
// header and each control end.
std::vector<size_t> Parse(const uint8_t* t, size_t length, const DialogSpec& spec,
                          const DialogFont* message) {
  FUZZ_CHECK(length >= 32);
  FUZZ_CHECK(U16(t) == 1 && U16(t + 2) == 0xFFFF && U32(t + 4) == 0);
  FUZZ_CHECK(U32(t + 8) == spec.exStyle);
  FUZZ_CHECK(U32(t + 12) == (spec.style | dlg::kVisible));
  FUZZ_CHECK(U16(t + 16) == spec.itemCount);
  FUZZ_CHECK(static_cast<int16_t>(U16(t + 18)) == spec.x);
  FUZZ_CHECK(static_cast<int16_t>(U16(t + 20)) == spec.y);
  FUZZ_CHECK(static_cast<int16_t>(U16(t + 22)) == spec.cx);
  FUZZ_CHECK(static_cast<int16_t>(U16(t + 24)) == spec.cy);
  FUZZ_CHECK(U16(t + 26) == 0 && U16(t + 28) == 0 && U16(t + 30) == 0);
  size_t at = 32;
  if (spec.style & dlg::kSetFont) {
    const DialogFont font = message ? *message : FallbackDialogFont();
    const char16_t* face = font.faceName;
    size_t units = 0;
    while (units < size_t{dlg::kFaceUnits - 1} && face[units] != 0) ++units;
    const uint16_t points = spec.pointSize ? spec.pointSize : font.pointSize;
    FUZZ_CHECK(length >= 38 + 2 * (units + 1));
    FUZZ_CHECK(U16(t + 32) == points);
    FUZZ_CHECK(U16(t + 34) == font.weight && t[36] == font.italic && t[37] == font.charSet);
    for (size_t i = 0; i < units; ++i) FUZZ_CHECK(U16(t + 38 + 2 * i) == face[i]);
    FUZZ_CHECK(U16(t + 38 + 2 * units) == 0);
    at = Round4(38 + 2 * (units + 1));
  }
  std::vector<size_t> ends{at};
  for (uint16_t k = 0; k < spec.itemCount; ++k) {
    const DialogItemSpec& item = spec.items[k];
    FUZZ_CHECK(at % 4 == 0 && length - at >= 28);
    const uint8_t* p = t + at;
    uint32_t style = item.style | dlg::kVisible;
    if ((item.style & (dlg::kChild | dlg::kPopup)) == 0) style |= dlg::kChild;
    FUZZ_CHECK(U32(p) == 0 && U32(p + 4) == item.exStyle && U32(p + 8) == style);
    FUZZ_CHECK(static_cast<int16_t>(U16(p + 12)) == item.x);
    FUZZ_CHECK(static_cast<int16_t>(U16(p + 14)) == item.y);
    FUZZ_CHECK(static_cast<int16_t>(U16(p + 16)) == item.cx);
    FUZZ_CHECK(static_cast<int16_t>(U16(p + 18)) == item.cy);
    FUZZ_CHECK(U32(p + 20) == item.id);
    size_t field = 4;
    if (item.className[0] == 0xFFFF) {
      FUZZ_CHECK(U16(p + 24) == 0xFFFF && U16(p + 26) == item.className[1]);
    } else {
      size_t units = 0;
      while (item.className[units] != 0) ++units;
      FUZZ_CHECK(length - at >= 24 + 2 * (units + 1) + 4);
      for (size_t i = 0; i <= units; ++i) FUZZ_CHECK(U16(p + 24 + 2 * i) == item.className[i]);
      field = 2 * (units + 1);
    }
    FUZZ_CHECK(U16(p + 24 + field) == 0 && U16(p + 26 + field) == 0);
    at += Round4(24 + field + 4);
    ends.push_back(at);
  }
  FUZZ_CHECK(at == length);
  return ends;
}

// a * b / c rounded half away from zero, by quotient and remainder.
int32_t ReferenceMulDiv(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  const int64_t n = static_cast<int64_t>(a) * b;
  int64_t q = n / c;
  const int64_t r = n % c;
  const int64_t twice = 2 * (r < 0 ? -r : r);
  if (twice >= (c < 0 ? -static_cast<int64_t>(c) : c)) q += (n < 0) == (c < 0) ? 1 : -1;
  return q > INT32_MAX || q < INT32_MIN ? -1 : static_cast<int32_t>(q);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Init();
  FuzzedDataProvider in(data, size);

  // The font arithmetic beside the builder.
  const int32_t a = in.ConsumeIntegral<int32_t>();
  const int32_t b = in.ConsumeIntegral<int32_t>();
  const int32_t c = in.ConsumeIntegral<int32_t>();
  FUZZ_CHECK(MulDivRounded(a, b, c) == ReferenceMulDiv(a, b, c));
  const uint16_t points = PointSizeFromHeight(a, c);
  FUZZ_CHECK(points >= 1);
  if (a != 0 && c > 0 && a != INT32_MIN) {
    const int32_t exact = ReferenceMulDiv(a < 0 ? -a : a, 72, c);
    FUZZ_CHECK(points == (exact <= 0 ? dlg::kFallbackPointSize : exact > 0xFFFF ? 0xFFFF : exact));
  }

  DialogSpec spec{};
  spec.style = in.ConsumeIntegral<uint32_t>();
  spec.exStyle = in.ConsumeIntegral<uint32_t>();
  spec.pointSize = in.ConsumeIntegral<uint16_t>();
  spec.x = in.ConsumeIntegral<int16_t>();
  spec.y = in.ConsumeIntegral<int16_t>();
  spec.cx = in.ConsumeIntegral<int16_t>();
  spec.cy = in.ConsumeIntegral<int16_t>();
  DialogFont font{};
  const bool withFont = in.ConsumeBool();
  if (withFont) {
    // Any bytes, the face possibly filling all 32 units without a terminator.
    for (char16_t& c : font.faceName) c = in.ConsumeIntegral<char16_t>();
    font.pointSize = in.ConsumeIntegral<uint16_t>();
    font.weight = in.ConsumeIntegral<uint16_t>();
    font.italic = in.ConsumeIntegral<uint8_t>();
    font.charSet = in.ConsumeIntegral<uint8_t>();
  }

  const uint16_t count = in.ConsumeIntegralInRange<uint16_t>(0, 40);
  std::vector<std::u16string> classes(count);
  std::vector<DialogItemSpec> items(count);
  for (uint16_t k = 0; k < count; ++k) {
    DialogItemSpec& item = items[k];
    if (in.ConsumeBool()) {
      classes[k] = {0xFFFF, in.ConsumeIntegral<char16_t>()};
    } else {
      classes[k] = TakeText(in, 40);
      if (!classes[k].empty() && classes[k][0] == 0xFFFF) classes[k][0] = u'x';
    }
    item.className = classes[k].c_str();
    item.style = in.ConsumeIntegral<uint32_t>();
    item.exStyle = in.ConsumeIntegral<uint32_t>();
    item.id = in.ConsumeIntegral<uint16_t>();
    item.x = in.ConsumeIntegral<int16_t>();
    item.y = in.ConsumeIntegral<int16_t>();
    item.cx = in.ConsumeIntegral<int16_t>();
    item.cy = in.ConsumeIntegral<int16_t>();
  }
  spec.itemCount = count;
  spec.items = count ? items.data() : nullptr;
  const DialogFont* message = withFont ? &font : nullptr;

  size_t length = 0;
  FUZZ_CHECK(!BuildDialogTemplateFor(&spec, message, nullptr, &length));
  FUZZ_CHECK(length >= 32 && length % 4 == 0);

  std::unique_ptr<uint8_t[]> full(new uint8_t[length]);
  std::memset(full.get(), kUntouched, length);
  size_t given = length;
  FUZZ_CHECK(BuildDialogTemplateFor(&spec, message, full.get(), &given));
  FUZZ_CHECK(given == length);
  const std::vector<size_t> ends = Parse(full.get(), length, spec, message);

  // A shorter block: false, the full length reported, the pieces that fit
  // written as in the full template and nothing else touched.
  const size_t shorter = in.ConsumeIntegralInRange<size_t>(0, length - 1);
  std::unique_ptr<uint8_t[]> part(new uint8_t[shorter ? shorter : 1]);
  std::memset(part.get(), kUntouched, shorter);
  given = shorter;
  FUZZ_CHECK(!BuildDialogTemplateFor(&spec, message, part.get(), &given));
  FUZZ_CHECK(given == length);
  size_t fits = 0;
  for (size_t end : ends) {
    if (end > shorter) break;
    fits = end;
  }
  FUZZ_CHECK(std::memcmp(part.get(), full.get(), fits) == 0);
  for (size_t i = fits; i < shorter; ++i) FUZZ_CHECK(part[i] == kUntouched);
  return 0;
}
