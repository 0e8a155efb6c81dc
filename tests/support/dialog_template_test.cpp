#include "support/dialog_template.h"
#include <gtest/gtest.h>
#include <algorithm>

TEST(DialogTemplate, NothingIsWrittenPastTheBuffer) {
  const DialogItemSpec items[] = {{dlg::kStaticClass, 0, 0, 1000, 7, 7, 186, 8},
                                  {dlg::kProgressClass, 0, 0, 1001, 7, 22, 186, 15},
                                  {dlg::kStaticClass, 0, 0, 1003, 7, 45, 186, 8}};
  const DialogSpec spec = {dlg::kSetFont, 0, 3, 0, 0, 0, 200, 100, items};
  const DialogFont font = FallbackDialogFont();
  size_t length = 0;
  EXPECT_FALSE(BuildDialogTemplateFor(&spec, &font, nullptr, &length));
  std::vector<uint8_t> full(length);
  EXPECT_TRUE(BuildDialogTemplateFor(&spec, &font, full.data(), &length));
  // Cut short anywhere: whole records (ending at 64, 96, 160) up to the cut, then nothing.
  for (size_t given : {size_t{0}, size_t{63}, size_t{95}, size_t{136}, full.size() - 1}) {
    std::vector<uint8_t> b(given + 16, 0xCC);
    length = given;
    EXPECT_FALSE(BuildDialogTemplateFor(&spec, &font, b.data(), &length));
    EXPECT_EQ(length, full.size());
    const size_t whole = given < 64 ? 0 : given < 96 ? 64 : given < 160 ? 96 : 160;
    EXPECT_TRUE(std::equal(b.begin(), b.begin() + whole, full.begin())) << given;
    EXPECT_EQ(std::count(b.begin() + whole, b.end(), 0xCC), b.end() - b.begin() - whole) << given;
  }
}
