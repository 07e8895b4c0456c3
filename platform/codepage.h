// Code pages at the program's boundaries: Windows-1251 (the data's code page), UTF-8 (the
// sources, the terminal, JSON) and the OEM code page 866 of files marked OEM-coded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korawin::platform {

// The Unicode code point of a Windows-1251 byte (0x98, unassigned, maps to U+0098).
char32_t Cp1251ToUnicode(unsigned char c);
// The Windows-1251 byte of a code point, or nothing when the code page lacks it.
std::optional<unsigned char> UnicodeToCp1251(char32_t cp);

// Windows-1251 text to UTF-8.
std::string Cp1251ToUtf8(std::string_view text);
// UTF-8 text to Windows-1251; nothing when a character has no Windows-1251 byte or the UTF-8
// is malformed (*bad, when given, receives the byte offset of the first offending character).
std::optional<std::string> Utf8ToCp1251(std::string_view text, size_t* bad = nullptr);
// UTF-8 text to Windows-1251, with '?' for what the code page lacks (for messages and names).
std::string Utf8ToCp1251Lossy(std::string_view text);

// ANSI (Windows-1251) to OEM (866) and back, byte for byte; a character the other code page
// lacks becomes '?'.
unsigned char AnsiToOem(unsigned char c);
unsigned char OemToAnsi(unsigned char c);
void AnsiToOemInPlace(char* text, size_t n);
void OemToAnsiInPlace(char* text, size_t n);

// Case of Windows-1251 letters: Latin and Cyrillic letters (Ё/ё and the other Cyrillic letters
// of the code page included) fold between upper and lower case; other bytes stay as they are.
unsigned char UpperCp1251(unsigned char c);
unsigned char LowerCp1251(unsigned char c);
// True for a Latin or Cyrillic letter of the code page.
bool IsCp1251Letter(unsigned char c);

}  // namespace korawin::platform
