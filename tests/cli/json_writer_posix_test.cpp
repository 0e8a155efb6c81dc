// The JSON writer's strings as a real parser (python3's json module) reads
// them back.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/json_writer.h"
#include "tests/fixtures/archive_builder.h"

namespace {

// The decoded string, as UTF-8 in hex, for each JSON line of `lines` (member
// "s"), as python3's json module reads it; empty when python3 is missing.
std::vector<std::string> ParseBack(const std::string& lines, bool* ran) {
  const std::string path = fixture::TempPath("json-lines");
  *ran = fixture::WriteBytesToFile(path, fixture::ToBytes(lines));
  const std::string command =
      "python3 -c 'import json, sys\n"
      "for line in open(sys.argv[1], encoding=\"utf-8\", errors=\"strict\"):\n"
      "    print(json.loads(line)[\"s\"].encode(\"utf-8\").hex())' " +
      path + " 2>&1";
  std::vector<std::string> decoded;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  while (pipe && std::fgets(buffer, sizeof buffer, pipe)) {
    std::string line = buffer;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    decoded.push_back(line);
  }
  const int status = pipe ? pclose(pipe) : -1;
  std::remove(path.c_str());
  *ran = *ran && status == 0;
  return decoded;
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char digits[3];
  for (unsigned char c : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", c);
    out += digits;
  }
  return out;
}

TEST(JsonWriter, EveryByteStringReadsBackAsItsUtf8OrLatin1Reading) {
  struct Case {
    std::string in;
    std::string decoded;  // UTF-8 of what a parser must see
  };
  const std::vector<Case> cases = {
      {"plain/path data.grf", "plain/path data.grf"},
      {"quote\" back\\slash /", "quote\" back\\slash /"},
      {std::string("\x00\x01\x08\t\n\x0b\x0c\r\x1b\x1f\x7f", 11),
       std::string("\x00\x01\x08\t\n\x0b\x0c\r\x1b\x1f\x7f", 11)},
      // well-formed UTF-8 of two, three and four bytes passes through
      {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xed\x9f\xbf\xf4\x8f\xbf\xbf",
       "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xed\x9f\xbf\xf4\x8f\xbf\xbf"},
      // legacy code-page names: each stray byte reads as Latin-1
      {"\xb5\xa5\xc0\xcc\xc5\xcd.grf", "\xc2\xb5\xc2\xa5\xc3\x80\xc3\x8c\xc3\x85\xc3\x8d.grf"},
      // stray bytes: a lone continuation, truncated before ASCII, overlong forms, a
      // surrogate, beyond U+10FFFF, never valid, truncated at the end
      {"\x80 \xf0\x9f\x98x \xc0\xaf \xe0\x80\xaf \xed\xa0\x80 "
       "\xf4\x90\x80\x80 \xfe\xff \xe2\x82",
       "\xc2\x80 \xc3\xb0\xc2\x9f\xc2\x98x \xc3\x80\xc2\xaf \xc3\xa0\xc2\x80\xc2\xaf "
       "\xc3\xad\xc2\xa0\xc2\x80 \xc3\xb4\xc2\x90\xc2\x80\xc2\x80 "
       "\xc3\xbe\xc3\xbf \xc3\xa2\xc2\x82"},
  };
  std::string lines;
  for (const Case& c : cases) lines += JsonObjectWriter().String("s", c.in).Finish() + "\n";
  bool ran = false;
  const std::vector<std::string> decoded = ParseBack(lines, &ran);
  if (!ran && decoded.empty()) GTEST_SKIP() << "python3 is not available";
  ASSERT_TRUE(ran) << (decoded.empty() ? "" : decoded.back());
  ASSERT_EQ(decoded.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i)
    EXPECT_EQ(decoded[i], Hex(cases[i].decoded)) << "case " << i;
}

}  // namespace
