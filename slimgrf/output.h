#pragma once
// How the tool prints: entry names as text (converted through the archive's
// code page, control bytes escaped) or as JSON members, and lines on stdout
// whose loss is noticed.

#include <cstdio>
#include <string>

class JsonObjectWriter;
class NameConverter;

// An entry name for the console: its UTF-8 form when it converts, else its
// bytes, with control bytes escaped either way.
std::string ShownName(NameConverter* names, const std::string& raw);
// ShownName in single quotes.
std::string QuotedName(NameConverter* names, const std::string& raw);
// Adds `key` (the UTF-8 form when the name converts, else its bytes, which
// the writer escapes as \u00XX where they are not UTF-8) and `key`_hex (the
// bytes in hex).
void AddJsonName(JsonObjectWriter* json, const char* key, NameConverter* names,
                 const std::string& raw);

// Writes a line and a newline to the stream; false after a write error
// (remembered: OutputFailed).
bool PrintOutputLine(FILE* stream, const std::string& line);
bool OutputFailed();

// A problem with one entry or archive, on stderr: "PREFIX: TEXT".
void PrintProblem(const std::string& prefix, const std::string& text);
