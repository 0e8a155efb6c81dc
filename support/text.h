#pragma once
// Small routines on narrow strings and byte buffers. None of them allocates.

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#if defined(__MINGW_PRINTF_FORMAT)
#define SLIM_PRINTF_FORMAT(f, a) __attribute__((format(__MINGW_PRINTF_FORMAT, f, a)))
#elif defined(__GNUC__)
#define SLIM_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define SLIM_PRINTF_FORMAT(f, a)
#endif

// Capacity of a path buffer: the system's path limit (MAX_PATH), terminator included.
constexpr size_t kPathCapacity = 260;

// Copies at most size - 1 characters and terminates. Size 0 writes nothing.
char* CopyBounded(char* destination, const char* source, size_t size);

// Looks for a terminated string at the start of a buffer that may lack one.
// Copies byte by byte (when a destination is given) up to and including the
// first zero within the limit (source length, or the smaller of it and the
// destination size). True, with the string's length stored, when a zero byte
// was found.
bool CopyStringBounded(const void* source, size_t sourceLength, char* destination,
                       size_t destinationSize, size_t* length);

// Last occurrence of ch before the terminator, or null.
char* FindLastChar(char* text, char ch);
const char* FindLastChar(const char* text, char ch);

// Replaces every occurrence in place; returns the terminator's position.
char* ReplaceChar(char* text, char from, char to);

// Copies text with every control byte (0x00-0x1F, 0x7F) not listed in `keep`
// written as "\xNN" (lowercase hex), so that a terminal shows it instead of
// obeying it. Bounded and terminated like CopyBounded, never cutting an
// escape in half; returns the length of the whole escaped text.
size_t EscapeControlBytes(const char* text, const char* keep, char* out, size_t size);

// Exchanges the two 4-bit halves of each byte.
void SwapNibbles(void* buffer, size_t length);

// ASCII-only lowering of one byte (bytes 0x80-0xFF unchanged).
inline unsigned char AsciiLower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

// Formats with the C library's length-limited formatter, then stores a NUL in
// the last character whenever capacity is not 0: overlong results are
// truncated and always terminated. Returns the formatter's result (the length
// the whole text would have, or a negative value on an encoding error).
int FormatBounded(char* buffer, size_t capacity, const char* format, ...) SLIM_PRINTF_FORMAT(3, 4);
int FormatBoundedV(char* buffer, size_t capacity, const char* format, va_list args)
    SLIM_PRINTF_FORMAT(3, 0);

// Integer percentage of part in whole, truncated to 8 bits. For a whole above
// 65535 the result is part / (whole / 100), else part * 100 / whole; 0 for a
// whole of 0.
uint8_t PercentOf(uint32_t part, uint32_t whole);
uint8_t PercentOf64(uint64_t part, uint64_t whole);
