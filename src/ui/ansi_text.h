#pragma once

#include <QString>
#include <string>
#include <string_view>

// The program's texts are ANSI (Windows-1252); Qt's are UTF-16.
namespace hivewise::ui {

QString FromAnsi(std::string_view text);
std::string ToAnsi(const QString& text);

}  // namespace hivewise::ui
