#include "support/dialog_template.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "support/diag.h"

namespace dlg {
const char16_t kButtonClass[2] = {0xFFFF, 0x0080};
const char16_t kEditClass[2] = {0xFFFF, 0x0081};
const char16_t kStaticClass[2] = {0xFFFF, 0x0082};
const char16_t kProgressClass[18] = u"msctls_progress32";
const char16_t kFallbackFace[13] = u"MS Shell Dlg";
}  // namespace dlg

namespace {

constexpr size_t kHeaderFixed = 30;      // through the menu and class words
constexpr size_t kHeaderNoFont = 32;     // plus the empty title
constexpr size_t kFontFixed = 38;        // plus point size, weight, italic, charset
constexpr size_t kItemFixed = 24;        // helpID .. id
constexpr size_t kItemTrailer = 4;       // empty title and extra count
constexpr size_t kMaxFaceUnits = dlg::kFaceUnits - 1;

void Store16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void Store32(uint8_t* p, uint32_t v) {
  Store16(p, static_cast<uint16_t>(v));
  Store16(p + 2, static_cast<uint16_t>(v >> 16));
}

void StoreUnits(uint8_t* p, const char16_t* units, size_t count) {
  for (size_t i = 0; i < count; ++i) Store16(p + 2 * i, static_cast<uint16_t>(units[i]));
}

size_t Units(const char16_t* text) { return std::char_traits<char16_t>::length(text); }

// Stops at the terminator, so reads nothing past it.
size_t BoundedUnits(const char16_t* text, size_t limit) {
  return static_cast<size_t>(std::find(text, text + limit, u'\0') - text);
}

bool AddChecked(size_t* total, size_t add) {
  if (add > SIZE_MAX - *total) return false;
  *total += add;
  return true;
}

size_t RoundUp4(size_t n) { return (n + 3) & ~size_t{3}; }

bool IsOrdinal(const char16_t* cls) { return cls[0] == 0xFFFF; }

// A control's record: the fixed fields, the class (the ordinal pair or the
// terminated name), an empty title and extra count, padded to 4. A class name
// in memory is far shorter than the address space, so only the sum of the
// records can overflow (in 32 bits).
size_t ItemLength(const DialogItemSpec& item) {
  const size_t cls = IsOrdinal(item.className) ? 4 : 2 * (Units(item.className) + 1);
  return RoundUp4(kItemFixed + cls + kItemTrailer);
}

// The font fields that go into the header.
struct HeaderFont {
  const char16_t* face;
  size_t faceUnits;
  uint16_t pointSize;
  uint16_t weight;
  uint8_t italic;
  uint8_t charSet;
};

HeaderFont ChooseFont(const DialogSpec& spec, const DialogFont& message) {
  HeaderFont f{};
  f.face = message.faceName;
  f.faceUnits = BoundedUnits(message.faceName, kMaxFaceUnits);
  f.pointSize = spec.pointSize ? spec.pointSize : message.pointSize;
  f.weight = message.weight;
  f.italic = message.italic;
  f.charSet = message.charSet;
  return f;
}

void WriteHeader(uint8_t* p, size_t headerLength, const DialogSpec& spec, const HeaderFont* font) {
  std::memset(p, 0, headerLength);
  Store16(p + 0, 1);
  Store16(p + 2, 0xFFFF);
  Store32(p + 8, spec.exStyle);
  Store32(p + 12, spec.style | dlg::kVisible);
  Store16(p + 16, spec.itemCount);
  Store16(p + 18, static_cast<uint16_t>(spec.x));
  Store16(p + 20, static_cast<uint16_t>(spec.y));
  Store16(p + 22, static_cast<uint16_t>(spec.cx));
  Store16(p + 24, static_cast<uint16_t>(spec.cy));
  // menu, class and title stay 0
  if (font) {
    Store16(p + 32, font->pointSize);
    Store16(p + 34, font->weight);
    p[36] = font->italic;
    p[37] = font->charSet;
    StoreUnits(p + 38, font->face, font->faceUnits);  // terminator already zero
  }
}

void WriteItem(uint8_t* p, size_t itemLength, const DialogItemSpec& item) {
  std::memset(p, 0, itemLength);
  uint32_t style = item.style | dlg::kVisible;
  if ((item.style & (dlg::kChild | dlg::kPopup)) == 0) style |= dlg::kChild;
  Store32(p + 4, item.exStyle);
  Store32(p + 8, style);
  Store16(p + 12, static_cast<uint16_t>(item.x));
  Store16(p + 14, static_cast<uint16_t>(item.y));
  Store16(p + 16, static_cast<uint16_t>(item.cx));
  Store16(p + 18, static_cast<uint16_t>(item.cy));
  Store32(p + 20, item.id);
  if (IsOrdinal(item.className))
    StoreUnits(p + 24, item.className, 2);
  else
    StoreUnits(p + 24, item.className, Units(item.className));
  // title and extra count stay 0
}

}  // namespace

DialogFont FallbackDialogFont() {
  DialogFont f{};
  std::memcpy(f.faceName, dlg::kFallbackFace, sizeof dlg::kFallbackFace);
  f.pointSize = dlg::kFallbackPointSize;
  return f;
}

bool BuildDialogTemplateFor(const DialogSpec* spec, const DialogFont* messageFont,
                            void* buffer, size_t* length) {
  if (!length) return false;
  size_t given = *length;
  *length = 0;
  if (!spec || (spec->itemCount != 0 && !spec->items)) return false;
  for (uint16_t i = 0; i < spec->itemCount; ++i) {
    if (!spec->items[i].className) {
      SLIM_DEBUG_ASSERT(spec->items[i].className != nullptr);
      return false;
    }
  }

  const DialogFont fallback = FallbackDialogFont();
  HeaderFont font{};
  const bool withFont = (spec->style & dlg::kSetFont) != 0;
  size_t headerLength = kHeaderNoFont;
  if (withFont) {
    font = ChooseFont(*spec, messageFont ? *messageFont : fallback);
    headerLength = RoundUp4(kFontFixed + 2 * (font.faceUnits + 1));
  }
  static_assert(kHeaderFixed + 2 == kHeaderNoFont);

  size_t total = headerLength;
  for (uint16_t i = 0; i < spec->itemCount; ++i) {
    if (!AddChecked(&total, ItemLength(spec->items[i]))) return false;
  }
  *length = total;
  if (!buffer) return false;

  uint8_t* out = static_cast<uint8_t*>(buffer);
  if (headerLength > given) return false;
  WriteHeader(out, headerLength, *spec, withFont ? &font : nullptr);
  size_t offset = headerLength;
  for (uint16_t i = 0; i < spec->itemCount; ++i) {
    const size_t itemLength = ItemLength(spec->items[i]);
    if (itemLength > given - offset) return false;
    WriteItem(out + offset, itemLength, spec->items[i]);
    offset += itemLength;
  }
  return true;
}

int32_t MulDivRounded(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  int64_t num = static_cast<int64_t>(a) * b;
  int64_t den = c;
  if (den < 0) {
    num = -num;
    den = -den;
  }
  int64_t q = num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den);
  if (q > INT32_MAX || q < INT32_MIN) return -1;
  return static_cast<int32_t>(q);
}

uint16_t PointSizeFromHeight(int32_t lfHeight, int pixelsPerInch) {
  if (pixelsPerInch <= 0) pixelsPerInch = 96;
  if (lfHeight == 0) return dlg::kFallbackPointSize;
  int64_t magnitude = lfHeight < 0 ? -static_cast<int64_t>(lfHeight) : lfHeight;
  if (magnitude > INT32_MAX) magnitude = INT32_MAX;
  int32_t points = MulDivRounded(static_cast<int32_t>(magnitude), 72, pixelsPerInch);
  if (points <= 0) return dlg::kFallbackPointSize;
  return points > 0xFFFF ? uint16_t{0xFFFF} : static_cast<uint16_t>(points);
}
