#include "cli/json_result.h"

#include <ostream>
#include <streambuf>
#include <string>

#include "cli/exit_status.h"
#include "report/json_writer.h"

namespace hivewise::cli {
namespace {

// Passes everything on to `target` and keeps a copy.
class CopyingBuffer : public std::streambuf {
  public:
    explicit CopyingBuffer(std::streambuf* target) : target_(target) {}
    const std::string& Copy() const { return copy_; }

  protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        copy_ += traits_type::to_char_type(c);
        return target_ ? target_->sputc(traits_type::to_char_type(c)) : c;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        copy_.append(text, static_cast<size_t>(count));
        return target_ ? target_->sputn(text, count) : count;
    }
    int sync() override { return target_ ? target_->pubsync() : 0; }

  private:
    std::streambuf* target_;
    std::string copy_;
};

// Holds everything back until it is settled, then passes it on to `target`.
class HeldBuffer : public std::streambuf {
  public:
    explicit HeldBuffer(std::streambuf* target) : target_(target) {}
    bool Settled() const { return settled_; }
    void Settle() {
        if (settled_) return;
        settled_ = true;
        target_->sputn(held_.data(), static_cast<std::streamsize>(held_.size()));
        std::string().swap(held_);
    }
    // What was held, when the command was never settled.
    const std::string& Held() const { return held_; }

  protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        if (settled_) return target_->sputc(traits_type::to_char_type(c));
        held_ += traits_type::to_char_type(c);
        return c;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        if (settled_) return target_->sputn(text, count);
        held_.append(text, static_cast<size_t>(count));
        return count;
    }
    int sync() override { return settled_ ? target_->pubsync() : 0; }

  private:
    std::streambuf* target_;
    std::string held_;
    bool settled_ = false;
};

// What stderr said, without the usage line that follows a wrong command line: that is
// help for a person, not part of the failure.
std::string Message(const std::string& said) {
    std::string message;
    size_t start = 0;
    while (start < said.size()) {
        size_t end = said.find('\n', start);
        if (end == std::string::npos) end = said.size();
        std::string_view line(said.data() + start, end - start);
        if (!line.empty() && line.rfind("Usage: ", 0) != 0) {
            if (!message.empty()) message += '\n';
            message += line;
        }
        start = end + 1;
    }
    return message;
}

}  // namespace

bool JsonAsked(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        std::string_view word = argv[i];
        if (word == "--json") return true;
        if (word == "--prefix") {
            ++i;  // its value, which may be any word
        } else if (word == "reg") {
            return false;
        }
    }
    return false;
}

int RunForJson(std::ostream& out, std::ostream& err,
               const std::function<int(std::ostream& out, std::ostream& err)>& command) {
    out.flush();
    HeldBuffer holding(out.rdbuf());
    std::ostream held(&holding);
    CopyingBuffer copying(err.rdbuf());
    std::ostream copied(&copying);
    int status = command(held, copied);
    copied.flush();
    held.flush();
    if (holding.Settled()) {
        // The command settled its status before it wrote its result.
    } else if (status == kExitDone || status == kExitPartial) {
        out << holding.Held();
    } else {
        std::string message = Message(copying.Copy());
        WriteJsonError(out, status, message.empty() ? "The command failed." : message);
    }
    out.flush();
    return status;
}

void SettleHeldOutput(std::ostream& out) {
    if (auto* holding = dynamic_cast<HeldBuffer*>(out.rdbuf())) holding->Settle();
}

void WriteJsonError(std::ostream& out, int status, std::string_view message) {
    JsonWriter json(out);
    json.BeginObject().Key("error").BeginObject();
    json.Key("status").Number(status).Key("message").HostText(message);
    json.EndObject().EndObject();
}

}  // namespace hivewise::cli
