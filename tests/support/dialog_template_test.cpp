// The dialog template read back field by field as the extended template format lays it out,
// with and without the font; cut short, whole records up to the cut and nothing past it.

#include "support/dialog_template.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <climits>
#include <string>
#include <vector>

namespace {
struct Reader {
  const std::vector<uint8_t>& b;
  size_t at = 0;
  uint32_t U8() { return b.at(at++); }
  uint32_t U16() { return U8() | U8() << 8; }
  uint32_t U32() { return U16() | U16() << 16; }
  std::u16string Sz() {
    std::u16string s;
    for (uint32_t c; (c = U16()) != 0;) s += static_cast<char16_t>(c);
    return s;
  }
  void Align() { at = (at + 3) & ~size_t{3}; }
};

// Point sizes from a font's height: rounded, the fallback for none or nothing, at most 0xFFFF.
TEST(DialogTemplate, PointSizeFromAFontsHeight) {
  const int rows[][3] = {{0, 96, 8}, {-16, 96, 12}, {16, 96, 12}, {-11, 72, 11}, {-12, 0, 9}, {-1, 72, 1}, {1, 96, 1},
                         {-1, 200, 8}, {-96, 96, 72}, {-1, 1, 72}, {-100000, 72, 0xFFFF}, {INT32_MIN, 72, 0xFFFF}};
  for (const auto& r : rows) EXPECT_EQ(PointSizeFromHeight(r[0], r[1]), r[2]) << r[0] << " " << r[1];
}

TEST(DialogTemplate, FieldsWhereTheFormatPutsThemAndNothingPastTheBuffer) {
  const DialogFont fallback = FallbackDialogFont();  // when no message font can be had
  EXPECT_TRUE(fallback.pointSize == 8 && std::u16string(fallback.faceName) == u"MS Shell Dlg");
  const DialogItemSpec items[] = {{dlg::kStaticClass, 0x1, 0x20, 1000, 7, -7, 186, 8},
                                  {dlg::kProgressClass, dlg::kPopup, 0, 1001, 7, 22, 186, 15},
                                  {u"Edit", dlg::kChild | 0x1, 0, 1003, -1, 45, 186, 8}};  // a named class: padded to 4
  DialogFont font{{}, 9, 700, 1, 0xEE};
  std::fill_n(font.faceName, dlg::kFaceUnits, u'A');  // no room for its end: cut to 31, an odd length, so padded
  const DialogSpec noItems = {0, 0, 3, 0, 0, 0, 1, 1, nullptr};  // malformed: false, length 0
  size_t noLength = 512;
  EXPECT_FALSE(BuildDialogTemplateFor(&noItems, &font, std::vector<uint8_t>(512).data(), &noLength) || noLength ||
               BuildDialogTemplateFor(&noItems, &font, nullptr, nullptr));
  for (const uint32_t style : {dlg::kSetFont | 0x80u, 0x80u}) {
    const DialogSpec spec = {style, 0x100, 3, 0, 10, -20, 200, 100, items};
    size_t length = 0;
    EXPECT_FALSE(BuildDialogTemplateFor(&spec, &font, nullptr, &length));
    std::vector<uint8_t> full(length);
    ASSERT_TRUE(BuildDialogTemplateFor(&spec, &font, full.data(), &length));
    Reader r{full};
    EXPECT_EQ(std::vector<uint32_t>({r.U16(), r.U16(), r.U32(), r.U32(), r.U32(), r.U16(), r.U16(), r.U16(), r.U16(),
                                     r.U16(), r.U16(), r.U16(), r.U16()}),
              std::vector<uint32_t>({1, 0xFFFF, 0, 0x100, style | dlg::kVisible, 3, 10, 0xFFEC, 200, 100, 0, 0, 0}));
    if (style & dlg::kSetFont) {
      EXPECT_EQ(std::vector<uint32_t>({r.U16(), r.U16(), r.U8(), r.U8()}), std::vector<uint32_t>({9, 700, 1, 0xEE}));
      EXPECT_EQ(r.Sz(), std::u16string(dlg::kFaceUnits - 1, u'A'));
    }
    std::vector<size_t> ends = {(r.Align(), r.at)};  // where the header and each item end
    for (const DialogItemSpec& item : items) {
      const uint32_t added = dlg::kVisible | (item.style & (dlg::kChild | dlg::kPopup) ? 0 : dlg::kChild);
      EXPECT_EQ(std::vector<uint32_t>({r.U32(), r.U32(), r.U32(), r.U16(), r.U16(), r.U16(), r.U16(), r.U32()}),
                std::vector<uint32_t>({0, item.exStyle, item.style | added, static_cast<uint16_t>(item.x),
                                       static_cast<uint16_t>(item.y), static_cast<uint16_t>(item.cx),
                                       static_cast<uint16_t>(item.cy), item.id}));
      if (item.className[0] == 0xFFFF) EXPECT_TRUE(r.U16() == 0xFFFF && r.U16() == 0x0082);  // the Static atom
      else EXPECT_EQ(r.Sz(), item.className);
      EXPECT_EQ(r.U32(), 0u) << "no title, no extra data";
      ends.push_back((r.Align(), r.at));
    }
    EXPECT_EQ(ends.back(), full.size());
    for (size_t given : {size_t{0}, ends[0] - 1, ends[1], ends[2] - 1, full.size() - 1}) {
      std::vector<uint8_t> b(given + 16, 0xCC);
      length = given;
      EXPECT_FALSE(BuildDialogTemplateFor(&spec, &font, b.data(), &length));
      EXPECT_EQ(length, full.size());
      const size_t whole = given < ends[0] ? 0 : *(std::upper_bound(ends.begin(), ends.end(), given) - 1);
      EXPECT_TRUE(std::equal(b.begin(), b.begin() + whole, full.begin())) << given;
      EXPECT_EQ(std::count(b.begin() + whole, b.end(), 0xCC), b.end() - b.begin() - whole) << given;
    }
  }
}
}  // namespace
