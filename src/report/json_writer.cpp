#include "report/json_writer.h"

#include "report/output_text.h"

namespace hivewise {

JsonWriter::~JsonWriter() {
    // A finished document ends its line, so that the shell prompt starts on its own.
    if (empty_.empty()) out_ << '\n';
}

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (empty_.empty()) return;
    out_ << (empty_.back() ? "\n" : ",\n") << std::string(2 * empty_.size(), ' ');
    empty_.back() = false;
}

void JsonWriter::Open(char bracket) {
    BeforeValue();
    out_ << bracket;
    empty_.push_back(true);
}

void JsonWriter::Close(char bracket) {
    bool wasEmpty = empty_.back();
    empty_.pop_back();
    if (!wasEmpty) out_ << '\n' << std::string(2 * empty_.size(), ' ');
    out_ << bracket;
}

JsonWriter& JsonWriter::BeginObject() {
    Open('{');
    return *this;
}

JsonWriter& JsonWriter::EndObject() {
    Close('}');
    return *this;
}

JsonWriter& JsonWriter::BeginArray() {
    Open('[');
    return *this;
}

JsonWriter& JsonWriter::EndArray() {
    Close(']');
    return *this;
}

JsonWriter& JsonWriter::Key(std::string_view name) {
    BeforeValue();
    out_ << JsonString(name) << ": ";
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::Text(std::string_view ansi) {
    BeforeValue();
    out_ << JsonString(ansi);
    return *this;
}

JsonWriter& JsonWriter::HostText(std::string_view host) {
    BeforeValue();
    out_ << JsonHostString(host);
    return *this;
}

JsonWriter& JsonWriter::Number(int64_t number) {
    BeforeValue();
    out_ << number;
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
    BeforeValue();
    out_ << (value ? "true" : "false");
    return *this;
}

JsonWriter& JsonWriter::Null() {
    BeforeValue();
    out_ << "null";
    return *this;
}

}  // namespace hivewise
