#pragma once
// Archive names are bytes in the game's code page (CP949 unless told
// otherwise). The tool works on their UTF-8 form: the file system's names
// (through iconv on Linux, MultiByteToWideChar on Windows, whose wide file
// API takes them from UTF-8) and what it prints. A name that does not
// convert is never guessed at.

#include <string>
#include <string_view>

class NameConverter {
 public:
  NameConverter() = default;
  NameConverter(const NameConverter&) = delete;
  NameConverter& operator=(const NameConverter&) = delete;
  ~NameConverter();

  // encoding: the code page's name (null: CP949). raw: names are taken as
  // they are (Windows: through the system's ANSI code page). False, with
  // *error set, for an encoding the system does not know.
  bool Open(const char* encoding, bool raw, std::string* error);
  // The UTF-8 form of an archive name; false when a byte sequence does not
  // convert.
  bool ToUtf8(std::string_view name, std::string* out);
  // The archive name of a UTF-8 one (a file's name being added); false when
  // a character has no exact form in the code page.
  bool FromUtf8(std::string_view name, std::string* out);

 private:
  bool raw_ = false;
#ifdef _WIN32
  unsigned codePage_ = 0;
#else
  void* iconv_ = nullptr;
  void* back_ = nullptr;  // UTF-8 to the code page
#endif
};

// The name of a Windows code page from its text: "949", "CP949", "windows-949"
// or "UTF-8"; 0 when it is none.
unsigned CodePageNumber(const char* encoding);
