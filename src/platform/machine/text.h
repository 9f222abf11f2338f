#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Text conversions and case rules shared by the registry and the file layer.
// Registry names and string data are kept as UTF-16 (as the registry keeps them);
// the program's own view is the Windows-1252 ANSI code page, the terminal's is UTF-8.
namespace hivewise {

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Windows-1252. Characters without a mapping become '?', as WideCharToMultiByte does.
std::string Utf16ToAnsi(std::u16string_view text);
// The same into `out`, whose memory is reused: one ANSI character per UTF-16 unit.
void Utf16ToAnsiInto(std::u16string_view text, std::string& out);
// UTF-16LE bytes (an odd last byte ignored) to ANSI, into `out`.
void Utf16BytesToAnsiInto(std::string_view bytes, std::string& out);
std::u16string AnsiToUtf16(std::string_view text);
// One ANSI character's UTF-16 code unit.
char16_t AnsiCharToUtf16(char c);

// Lower-case mapping used for comparing names (ASCII, Latin-1, Latin Extended-A,
// Greek and Cyrillic), the order in which the registry sorts sub-keys.
char16_t FoldChar(char16_t c);
int CompareNoCase(std::u16string_view a, std::u16string_view b);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
std::u16string FoldCase(std::u16string_view text);

// The same rules on ANSI text.
char AnsiFoldChar(char c);
bool AnsiEqualsNoCase(std::string_view a, std::string_view b);
std::string AnsiLower(std::string_view text);

// String value data is UTF-16LE bytes.
std::u16string BytesToUtf16(std::string_view bytes);
std::string Utf16ToBytes(std::u16string_view text);

}  // namespace hivewise
