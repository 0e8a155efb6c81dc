// The JSON writer's strings as a real parser, python3's json module, reads them back.

#include <gtest/gtest.h>
#include "cli/console/json_writer.h"
#include "tests/fixtures/archive_builder.h"

namespace {
TEST(JsonWriter, EveryByteStringReadsBackAsItsUtf8OrLatin1Reading) {
  const std::pair<std::string, std::string> rows[] = {  // a string, and the UTF-8 a parser must read
      {"quote\" back\\slash /", "quote\" back\\slash /"},
      {std::string("\x00\x01\x08\t\n\x0b\x0c\r\x1b\x1f\x7f", 11), std::string("\x00\x01\x08\t\n\x0b\x0c\r\x1b\x1f\x7f", 11)},
      // well-formed UTF-8 of two, three and four bytes passes through
      {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xed\x9f\xbf\xf4\x8f\xbf\xbf", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xed\x9f\xbf\xf4\x8f\xbf\xbf"},
      // stray bytes read as Latin-1: legacy names, a lone continuation, truncated
      // before ASCII, overlong, a surrogate, beyond U+10FFFF, never valid, cut at the end
      {"\xb5\xc0.grf \x80 \xf0\x9f\x98x \xc0\xaf \xe0\x80\xaf \xed\xa0\x80 \xf4\x90\x80\x80 \xfe\xff \xe2\x82",
       "\xc2\xb5\xc3\x80.grf \xc2\x80 \xc3\xb0\xc2\x9f\xc2\x98x \xc3\x80\xc2\xaf \xc3\xa0\xc2\x80\xc2\xaf "
       "\xc3\xad\xc2\xa0\xc2\x80 \xc3\xb4\xc2\x90\xc2\x80\xc2\x80 \xc3\xbe\xc3\xbf \xc3\xa2\xc2\x82"},
  };
  std::string lines, expected, read;
  for (const auto& [in, decoded] : rows) {
    lines += JsonObjectWriter().String("s", in).Finish() + "\n";
    expected += decoded + "\xff";
  }
  const std::string path = fixture::TempPath("json-lines");
  ASSERT_TRUE(fixture::WriteBytesToFile(path, fixture::ToBytes(lines)));
  // Each member "s" in UTF-8, followed by 0xFF (never part of UTF-8).
  FILE* pipe = popen(("python3 -c 'import json, sys\nfor line in open(sys.argv[1], encoding=\"utf-8\"):\n"
                      "    sys.stdout.buffer.write(json.loads(line)[\"s\"].encode(\"utf-8\") + b\"\\xff\")' " + path + " 2>&1").c_str(), "r");
  char buffer[4096];
  for (size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) read.append(buffer, n);
  const int status = pipe ? pclose(pipe) : -1;
  std::remove(path.c_str());
  if (status == 127 << 8) GTEST_SKIP() << "python3 is not available";
  ASSERT_EQ(status, 0) << read;
  EXPECT_EQ(read, expected) << lines;
}
}  // namespace
