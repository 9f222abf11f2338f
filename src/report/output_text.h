#pragma once

#include <string>
#include <string_view>

// Text from outside the program (registry data, folder and file names, launcher files, a
// fetched page) made safe to print on a terminal and to parse as JSON.
namespace hivewise {

// True for well-formed UTF-8 only: no overlong forms, no surrogates, nothing above U+10FFFF,
// no cut sequence.
bool IsStrictUtf8(std::string_view text);

// Text in the ANSI code page (what the registry's texts become) as UTF-8.
std::string AnsiToUtf8(std::string_view ansi);

// A JSON string literal, quotes included, of ANSI text.
std::string JsonString(std::string_view ansi);
// The same appended to `json`.
void AppendJsonString(std::string& json, std::string_view ansi);

// A JSON string literal of a host name or path: UTF-8 as it stands when it is well-formed,
// otherwise its bytes read as the ANSI code page, so that the output is always valid.
std::string JsonHostString(std::string_view host);

// UTF-8 text with every control character but the line break and the tab shown as '?':
// an escape sequence in a key name must not retitle or rewrite the user's terminal.
std::string TerminalSafe(std::string_view utf8);

// The same for one field of a line: line breaks and tabs become blanks as well.
std::string TerminalField(std::string_view utf8);

}  // namespace hivewise
