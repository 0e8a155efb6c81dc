#include "support/dialog_template.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/diag.h"

namespace {

uint16_t Load16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
uint32_t Load32(const std::vector<uint8_t>& b, size_t at) {
  return Load16(b, at) | (static_cast<uint32_t>(Load16(b, at + 2)) << 16);
}
std::u16string LoadString(const std::vector<uint8_t>& b, size_t at) {
  std::u16string s;
  for (uint16_t c; (c = Load16(b, at)) != 0; at += 2) s.push_back(c);
  return s;
}

DialogFont FontWithFace(const char16_t* face, uint16_t points) {
  DialogFont f{};
  for (int i = 0; face[i] && i < dlg::kFaceUnits; ++i) f.faceName[i] = face[i];
  f.pointSize = points;
  f.weight = 400;
  f.italic = 1;
  f.charSet = 1;
  return f;
}

std::vector<uint8_t> Build(const DialogSpec& spec, const DialogFont* font) {
  size_t length = 0;
  EXPECT_FALSE(BuildDialogTemplateFor(&spec, font, nullptr, &length));
  std::vector<uint8_t> bytes(length, 0xCC);
  size_t given = length;
  EXPECT_TRUE(BuildDialogTemplateFor(&spec, font, bytes.data(), &given));
  EXPECT_EQ(given, length);
  return bytes;
}

int g_debugAsserts = 0;
void CountAssert(const char*, const char*, int) { ++g_debugAsserts; }

}  // namespace

TEST(DialogTemplate, MainWindowLengthFollowsTheFace) {
  DialogFont fallback = FallbackDialogFont();
  std::vector<uint8_t> bytes = Build(kMainWindowDialog, &fallback);
  EXPECT_EQ(bytes.size(), 256u);  // 64-byte header, 4 statics of 32, progress bar of 64

  DialogFont eight = FontWithFace(u"Segoe UI", 9);
  EXPECT_EQ(Build(kMainWindowDialog, &eight).size(), 248u);

  // No message font at all: the fallback face.
  EXPECT_EQ(Build(kMainWindowDialog, nullptr).size(), 256u);
}

TEST(DialogTemplate, MainWindowBytes) {
  DialogFont font = FontWithFace(u"Tahoma", 8);
  std::vector<uint8_t> b = Build(kMainWindowDialog, &font);
  ASSERT_EQ(b.size(), 52u + 4 * 32 + 64);
  EXPECT_EQ(Load16(b, 0), 1);
  EXPECT_EQ(Load16(b, 2), 0xFFFF);
  EXPECT_EQ(Load32(b, 4), 0u);
  EXPECT_EQ(Load32(b, 8), 0x10u);          // WS_EX_ACCEPTFILES
  EXPECT_EQ(Load32(b, 12), 0x10CA0848u);   // WS_VISIBLE added
  EXPECT_EQ(Load16(b, 16), 5);
  EXPECT_EQ(Load16(b, 22), 200);
  EXPECT_EQ(Load16(b, 24), 100);
  EXPECT_EQ(Load16(b, 26), 0);  // menu
  EXPECT_EQ(Load16(b, 28), 0);  // class
  EXPECT_EQ(Load16(b, 30), 0);  // title
  EXPECT_EQ(Load16(b, 32), 8);  // point size from the message font
  EXPECT_EQ(Load16(b, 34), 400);
  EXPECT_EQ(b[36], 1);
  EXPECT_EQ(b[37], 1);
  EXPECT_EQ(LoadString(b, 38), u"Tahoma");
  EXPECT_EQ(Load16(b, 50), 0);  // padding to 52 is zero

  struct Expect {
    size_t at;
    uint32_t style;
    uint16_t id;
    int16_t y;
  };
  const Expect controls[] = {
      {52, 0x58000080, 1000, 7},   {84, 0x50000001, 1001, 22}, {148, 0x50000080, 1003, 45},
      {180, 0x50000080, 1006, 61}, {212, 0x58000082, 1002, 84},
  };
  for (const Expect& c : controls) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(Load32(b, c.at), 0u);
    EXPECT_EQ(Load32(b, c.at + 4), 0u);
    EXPECT_EQ(Load32(b, c.at + 8), c.style);
    EXPECT_EQ(Load16(b, c.at + 12), 7);
    EXPECT_EQ(Load16(b, c.at + 14), static_cast<uint16_t>(c.y));
    EXPECT_EQ(Load16(b, c.at + 16), 186);
    EXPECT_EQ(Load32(b, c.at + 20), c.id);
  }
  EXPECT_EQ(Load16(b, 52 + 24), 0xFFFF);
  EXPECT_EQ(Load16(b, 52 + 26), 0x0082);
  EXPECT_EQ(Load32(b, 52 + 28), 0u);  // empty title, no extra data
  EXPECT_EQ(LoadString(b, 84 + 24), u"msctls_progress32");
  EXPECT_EQ(Load32(b, 84 + 24 + 36), 0u);
}

TEST(DialogTemplate, NoSetFontMeansNoFontFields) {
  const DialogItemSpec item = {dlg::kButtonClass, 0, 0, 1, 0, 0, 10, 10};
  DialogSpec spec = {u"Ignored Face", 0x80C80080, 0, 1, 12, 0, 0, 50, 20, &item};
  DialogFont font = FontWithFace(u"Anything", 9);
  std::vector<uint8_t> b = Build(spec, &font);
  ASSERT_EQ(b.size(), 32u + 32u);
  EXPECT_EQ(Load32(b, 12), 0x90C80080u);
  EXPECT_EQ(Load32(b, 32 + 20), 1u);  // the control starts right after the title
}

TEST(DialogTemplate, NamedFaceTakesSpecSizeAndSymbolCharsetOnlyForWingdings) {
  DialogFont message = FontWithFace(u"Ignored", 11);
  struct Case {
    const char16_t* face;
    uint8_t charSet;
  };
  for (Case c : {Case{u"Wingdings", 2}, Case{u"wingdings", 0}, Case{u"Wingdings 2", 0},
                 Case{u"Arial", 0}}) {
    DialogSpec spec = {c.face, dlg::kSetFont, 0, 0, 14, 0, 0, 10, 10, nullptr};
    std::vector<uint8_t> b = Build(spec, &message);
    EXPECT_EQ(b[37], c.charSet);
    EXPECT_EQ(Load16(b, 32), 14);
    EXPECT_EQ(Load16(b, 34), 0);  // weight and italic are not taken from the message font
    EXPECT_EQ(b[36], 0);
    EXPECT_EQ(LoadString(b, 38), std::u16string(c.face));
  }
}

TEST(DialogTemplate, SpecPointSizeOverridesMessageFont) {
  DialogSpec spec = kMainWindowDialog;
  spec.pointSize = 10;
  DialogFont message = FontWithFace(u"Tahoma", 8);
  EXPECT_EQ(Load16(Build(spec, &message), 32), 10);
}

TEST(DialogTemplate, ControlStylesGetVisibleAndChildOnlyWhenNeeded) {
  const DialogItemSpec items[] = {
      {dlg::kStaticClass, 0x00000000, 0, 1, 0, 0, 1, 1},
      {dlg::kStaticClass, 0x80000000, 0, 2, 0, 0, 1, 1},  // WS_POPUP
      {dlg::kStaticClass, 0x40000000, 0, 3, 0, 0, 1, 1},  // WS_CHILD
      {u"", 0x00000001, 0x200, 4, 0, 0, 1, 1},           // empty class name: a 2-byte field
  };
  DialogSpec spec = {nullptr, 0, 0, 4, 0, 0, 0, 1, 1, items};
  std::vector<uint8_t> b = Build(spec, nullptr);
  ASSERT_EQ(b.size(), 32u + 3 * 32 + 32);
  EXPECT_EQ(Load32(b, 32 + 8), 0x50000000u);
  EXPECT_EQ(Load32(b, 64 + 8), 0x90000000u);
  EXPECT_EQ(Load32(b, 96 + 8), 0x50000000u);
  EXPECT_EQ(Load32(b, 128 + 4), 0x200u);
  EXPECT_EQ(Load32(b, 128 + 8), 0x50000001u);
  EXPECT_EQ(Load16(b, 128 + 24), 0);  // the empty class name
  EXPECT_EQ(Load32(b, 128 + 26), 0u);
}

TEST(DialogTemplate, ShortBufferWritesOnlyWhatFitsAndReportsFullLength) {
  DialogFont fallback = FallbackDialogFont();
  std::vector<uint8_t> full = Build(kMainWindowDialog, &fallback);

  // Room for the header, the first static and half of the progress bar.
  std::vector<uint8_t> b(64 + 32 + 40, 0xCC);
  size_t length = b.size();
  EXPECT_FALSE(BuildDialogTemplateFor(&kMainWindowDialog, &fallback, b.data(), &length));
  EXPECT_EQ(length, 256u);
  EXPECT_TRUE(std::equal(b.begin(), b.begin() + 96, full.begin()));
  for (size_t i = 96; i < b.size(); ++i) ASSERT_EQ(b[i], 0xCC) << i;

  // Too short even for the header: nothing is written.
  std::vector<uint8_t> tiny(20, 0xCC);
  length = tiny.size();
  EXPECT_FALSE(BuildDialogTemplateFor(&kMainWindowDialog, &fallback, tiny.data(), &length));
  EXPECT_EQ(length, 256u);
  for (uint8_t v : tiny) ASSERT_EQ(v, 0xCC);
}

TEST(DialogTemplate, UnterminatedMessageFaceIsCutToThirtyOneUnits) {
  DialogFont font{};
  for (int i = 0; i < dlg::kFaceUnits; ++i) font.faceName[i] = u'A' + (i % 26);
  font.pointSize = 8;
  DialogSpec spec = {nullptr, dlg::kSetFont, 0, 0, 0, 0, 0, 1, 1, nullptr};
  std::vector<uint8_t> b = Build(spec, &font);
  ASSERT_EQ(b.size(), 104u);  // 40 + 2 * 31 = 102, rounded up
  EXPECT_EQ(LoadString(b, 38).size(), 31u);
}

TEST(DialogTemplate, MalformedDescriptionsAreRefused) {
  DebugAssertHandler previous = SetDebugAssertHandler(&CountAssert);
  g_debugAsserts = 0;
  const DialogItemSpec noClass[] = {{nullptr, 0, 0, 1, 0, 0, 1, 1}};
  DialogSpec spec = {nullptr, 0, 0, 1, 0, 0, 0, 1, 1, noClass};
  uint8_t buffer[128];
  size_t length = sizeof buffer;
  EXPECT_FALSE(BuildDialogTemplateFor(&spec, nullptr, buffer, &length));
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(g_debugAsserts, 1);

  spec.items = nullptr;  // items announced but missing
  length = sizeof buffer;
  EXPECT_FALSE(BuildDialogTemplateFor(&spec, nullptr, buffer, &length));
  EXPECT_EQ(length, 0u);
  length = sizeof buffer;
  EXPECT_FALSE(BuildDialogTemplateFor(nullptr, nullptr, buffer, &length));
  EXPECT_EQ(length, 0u);
  SetDebugAssertHandler(previous);
}

TEST(DialogTemplate, PointSizeFromMessageFontHeight) {
  EXPECT_EQ(PointSizeFromHeight(-12, 96), 9);
  EXPECT_EQ(PointSizeFromHeight(-12, 120), 7);   // MulDiv(12, 72, 120) = 7.2
  EXPECT_EQ(PointSizeFromHeight(-12, 0), 9);     // no device context: 96 dpi
  EXPECT_EQ(PointSizeFromHeight(-11, 96), 8);    // 8.25 rounds down
  EXPECT_EQ(PointSizeFromHeight(-13, 96), 10);   // 9.75 rounds up
  EXPECT_EQ(PointSizeFromHeight(-15, 144), 8);   // 7.5 rounds half away from zero
  EXPECT_EQ(PointSizeFromHeight(16, 96), 12);    // a cell height is taken by magnitude
  EXPECT_EQ(PointSizeFromHeight(0, 96), 8);
}

TEST(DialogTemplate, MulDivRoundsLikeTheSystem) {
  EXPECT_EQ(MulDivRounded(12, 72, 120), 7);
  EXPECT_EQ(MulDivRounded(5, 1, 2), 3);
  EXPECT_EQ(MulDivRounded(-5, 1, 2), -3);
  EXPECT_EQ(MulDivRounded(5, 1, -2), -3);
  EXPECT_EQ(MulDivRounded(7, 3, 0), -1);
  EXPECT_EQ(MulDivRounded(0x40000000, 8, 1), -1);           // does not fit in 32 bits
  EXPECT_EQ(MulDivRounded(0x40000000, 8, 4), -1);           // 0x80000000 does not either
  EXPECT_EQ(MulDivRounded(0x40000000, 6, 4), 0x60000000);  // 64-bit intermediate
}
