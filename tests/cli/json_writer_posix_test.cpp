// The JSON writer's strings as a real parser (python3's json module) reads
// them back.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/json_writer.h"
#include "tests/fixtures/archive_builder.h"

namespace {

// The member "s" of each JSON line as python3's json module reads it, in
// UTF-8, each followed by a 0xFF byte (never part of UTF-8). *status is the
// shell's exit status (127: no python3).
std::string ParseBack(const std::string& lines, int* status) {
  const std::string path = fixture::TempPath("json-lines");
  if (!fixture::WriteBytesToFile(path, fixture::ToBytes(lines))) return "cannot write " + path;
  const std::string command =
      "python3 -c 'import json, sys\n"
      "for line in open(sys.argv[1], encoding=\"utf-8\", errors=\"strict\"):\n"
      "    sys.stdout.buffer.write(json.loads(line)[\"s\"].encode(\"utf-8\") + b\"\\xff\")' " +
      path + " 2>&1";
  std::string decoded;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  size_t n;
  while (pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) decoded.append(buffer, n);
  const int raw = pipe ? pclose(pipe) : -1;
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::remove(path.c_str());
  return decoded;
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
  std::string lines, expected;
  for (const Case& c : cases) {
    lines += JsonObjectWriter().String("s", c.in).Finish() + "\n";
    expected += c.decoded + "\xff";
  }
  int status = -1;
  const std::string decoded = ParseBack(lines, &status);
  if (status == 127) GTEST_SKIP() << "python3 is not available";
  ASSERT_EQ(status, 0) << decoded;
  EXPECT_EQ(decoded, expected) << lines;
}

}  // namespace
