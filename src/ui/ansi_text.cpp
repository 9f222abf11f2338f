#include "ui/ansi_text.h"

#include "platform/machine/text.h"

namespace hivewise::ui {

QString FromAnsi(std::string_view text) {
    std::u16string wide = AnsiToUtf16(text);
    return QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
}

std::string ToAnsi(const QString& text) {
    return Utf16ToAnsi(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                           static_cast<size_t>(text.size())));
}

}  // namespace hivewise::ui
