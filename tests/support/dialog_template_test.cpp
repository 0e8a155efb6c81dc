#include "support/dialog_template.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/diag.h"

namespace {

int g_debugAsserts = 0;
void CountAssert(const char*, const char*, int) { ++g_debugAsserts; }

const DialogItemSpec kItems[] = {
    {dlg::kStaticClass, 0, 0, 1000, 7, 7, 186, 8},
    {dlg::kProgressClass, 0, 0, 1001, 7, 22, 186, 15},
    {dlg::kStaticClass, 0, 0, 1003, 7, 45, 186, 8},
};
const DialogSpec kSpec = {dlg::kSetFont, 0, 3, 0, 0, 0, 200, 100, kItems};

}  // namespace

TEST(DialogTemplate, NothingIsWrittenPastTheBuffer) {
  DialogFont font = FallbackDialogFont();
  size_t length = 0;
  EXPECT_FALSE(BuildDialogTemplateFor(&kSpec, &font, nullptr, &length));
  ASSERT_EQ(length, 64u + 32 + 64 + 32);  // header with "MS Shell Dlg", static, progress bar
  std::vector<uint8_t> full(length);
  EXPECT_TRUE(BuildDialogTemplateFor(&kSpec, &font, full.data(), &length));

  // A buffer cut short anywhere: whole records up to the cut, then nothing.
  for (size_t given : {size_t{0}, size_t{20}, size_t{64}, size_t{95}, size_t{136}, full.size() - 1}) {
    SCOPED_TRACE(given);
    std::vector<uint8_t> b(given + 16, 0xCC);
    length = given;
    EXPECT_FALSE(BuildDialogTemplateFor(&kSpec, &font, b.data(), &length));
    EXPECT_EQ(length, full.size());
    const size_t whole = given < 64 ? 0 : given < 96 ? 64 : given < 160 ? 96 : 160;
    EXPECT_TRUE(std::equal(b.begin(), b.begin() + whole, full.begin()));
    EXPECT_TRUE(std::all_of(b.begin() + whole, b.end(), [](uint8_t v) { return v == 0xCC; }));
  }

  // A message face that fills all 32 units without a terminator is cut to 31.
  for (char16_t& unit : font.faceName) unit = u'A';
  EXPECT_FALSE(BuildDialogTemplateFor(&kSpec, &font, nullptr, &length));
  EXPECT_EQ(length, 104u + 32 + 64 + 32);  // 38 + 2 * 32, rounded up to 4
}

TEST(DialogTemplate, MalformedDescriptionsAreRefused) {
  DebugAssertHandler previous = SetDebugAssertHandler(&CountAssert);
  g_debugAsserts = 0;
  const DialogItemSpec noClass[] = {{nullptr, 0, 0, 1, 0, 0, 1, 1}};
  DialogSpec spec = {0, 0, 1, 0, 0, 0, 1, 1, noClass};
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
