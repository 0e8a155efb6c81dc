#include "support/text.h"

#include <cstdio>
#include <cstring>

#include "support/diag.h"

char* CopyBounded(char* destination, const char* source, size_t size) {
  if (size == 0) {
    SLIM_DEBUG_ASSERT(!"CopyBounded with size 0");
    return destination;
  }
  size_t i = 0;
  for (; i + 1 < size && source[i] != '\0'; ++i) destination[i] = source[i];
  destination[i] = '\0';
  return destination;
}

bool CopyStringBounded(const void* source, size_t sourceLength, char* destination,
                       size_t destinationSize, size_t* length) {
  const auto* bytes = static_cast<const unsigned char*>(source);
  size_t limit = sourceLength;
  if (destination && destinationSize < limit) limit = destinationSize;
  for (size_t i = 0; i < limit; ++i) {
    if (destination) destination[i] = static_cast<char>(bytes[i]);
    if (bytes[i] == 0) {
      if (length) *length = i;
      return true;
    }
  }
  return false;
}

const char* FindLastChar(const char* text, char ch) {
  const char* found = nullptr;
  for (; *text; ++text)
    if (*text == ch) found = text;
  return found;
}

char* FindLastChar(char* text, char ch) {
  return const_cast<char*>(FindLastChar(static_cast<const char*>(text), ch));
}

char* ReplaceChar(char* text, char from, char to) {
  for (; *text; ++text)
    if (*text == from) *text = to;
  return text;
}

void SwapNibbles(void* buffer, size_t length) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  for (size_t i = 0; i < length; ++i)
    bytes[i] = static_cast<unsigned char>((bytes[i] << 4) | (bytes[i] >> 4));
}

size_t EscapeControlBytes(const char* text, const char* keep, char* out, size_t size) {
  static constexpr char kHex[] = "0123456789abcdef";
  size_t length = 0;  // of the whole escaped text
  size_t stored = 0;  // characters in out
  bool full = size == 0;
  for (const char* p = text; *p; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    const bool escape = (c < 0x20 || c == 0x7F) && std::strchr(keep, *p) == nullptr;
    const char piece[5] = {escape ? '\\' : *p, 'x', kHex[c >> 4], kHex[c & 15], '\0'};
    const size_t pieceLength = escape ? 4 : 1;
    length += pieceLength;
    if (!full && stored + pieceLength < size) {
      std::memcpy(out + stored, piece, pieceLength);
      stored += pieceLength;
    } else {
      full = true;
    }
  }
  if (size != 0) out[stored] = '\0';
  return length;
}

int FormatBoundedV(char* buffer, size_t capacity, const char* format, va_list args) {
  const int result = std::vsnprintf(capacity ? buffer : nullptr, capacity, format, args);
  if (capacity != 0) buffer[capacity - 1] = '\0';
  return result;
}

int FormatBounded(char* buffer, size_t capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = FormatBoundedV(buffer, capacity, format, args);
  va_end(args);
  return result;
}

namespace {

// part * 100 / whole for a whole of at most 65535, exact without overflow for
// any part.
uint64_t ScaledQuotient(uint64_t part, uint64_t whole) {
  return part / whole * 100 + part % whole * 100 / whole;
}

}  // namespace

uint8_t PercentOf(uint32_t part, uint32_t whole) {
  return PercentOf64(part, whole);
}

uint8_t PercentOf64(uint64_t part, uint64_t whole) {
  uint64_t percent = 0;
  if (whole > 65535) {
    percent = part / (whole / 100);
  } else if (whole != 0) {
    percent = ScaledQuotient(part, whole);
  }
  return static_cast<uint8_t>(percent);
}
