#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// Writes one JSON value, indented two blanks a level, for the command line's --json
// output. Strings go through output_text, so the result is valid UTF-8 whatever the
// registry or the host's file names hold.
namespace hivewise {

class JsonWriter {
  public:
    explicit JsonWriter(std::ostream& out) : out_(out) {}
    ~JsonWriter();

    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    // The name of the next member of the open object.
    JsonWriter& Key(std::string_view name);
    JsonWriter& Text(std::string_view ansi);      // text in the ANSI code page
    JsonWriter& HostText(std::string_view host);  // a host file name or path
    JsonWriter& Number(int64_t number);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

  private:
    void BeforeValue();
    void Open(char bracket);
    void Close(char bracket);

    std::ostream& out_;
    std::vector<bool> empty_;  // per open container: nothing written in it yet
    bool afterKey_ = false;
};

}  // namespace hivewise
