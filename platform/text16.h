// UTF-16 text in fixed arrays with a terminating 0 unit, as every record, setting and slot keeps it,
// and printf-style formatting into such arrays (the subset the program's texts use).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvelon {

// Number of units before the first 0 unit, at most capacity.
size_t text16Length(const char16_t* text, size_t capacity);

// The first length units of text, less a high surrogate at their end whose partner a cut left out,
// so that a text cut to its field never ends in half a character.
size_t wholeCharacterLength(const char16_t* text, size_t length);

// Copies at most capacity - 1 units of source, never half a surrogate pair, and terminates; source
// may be null (empty).
void copyText16(char16_t* destination, size_t capacity, const char16_t* source);

// Copies an ASCII/Latin-1 text, one byte per unit, at most capacity - 1 units, and terminates.
void copyBytesToText16(char16_t* destination, size_t capacity, const char* source);

// Compares two 0-terminated texts.
bool equalText16(const char16_t* a, const char16_t* b);

// Formats into destination (capacity units, always terminated, output cut to fit between whole
// characters) and returns the
// length written. Conversions: %d %i %u %x %X %c %s (const char16_t*) %S (const char*) %I64u %I64d
// %lld %llu %%, with the flags '-' and '0' and a decimal width.
int format16(char16_t* destination, size_t capacity, const char16_t* format, ...);
int vformat16(char16_t* destination, size_t capacity, const char16_t* format, va_list arguments);

// Conversions for files, logs and tests; a lone surrogate (texts from the network are not trusted)
// becomes U+FFFD.
std::string toUtf8(const char16_t* text);
std::u16string fromUtf8(const std::string& text);

}  // namespace tarvelon
