#include "platform/machine/key_values.h"

#include "platform/machine/text.h"

namespace hivewise {
namespace {

// Real files nest three or four deep; hostile ones must not exhaust the stack.
constexpr int kMaxDepth = 32;

class Reader {
  public:
    explicit Reader(std::string_view text) : text_(text) {}

    // Reads pairs into `block` until its closing brace (or the end of the text at depth 0).
    bool ReadBlock(KeyValue& block, int depth) {
        if (depth > kMaxDepth) return false;
        for (;;) {
            SkipSpaceAndComments();
            if (pos_ >= text_.size()) return depth == 0;
            if (text_[pos_] == '}') {
                ++pos_;
                return depth > 0;
            }
            KeyValue pair;
            if (!ReadToken(pair.key)) return false;
            SkipSpaceAndComments();
            if (pos_ >= text_.size()) return false;
            if (text_[pos_] == '{') {
                ++pos_;
                pair.isBlock = true;
                if (!ReadBlock(pair, depth + 1)) return false;
            } else if (!ReadToken(pair.value)) {
                return false;
            }
            SkipCondition();
            block.children.push_back(std::move(pair));
        }
    }

  private:
    void SkipSpaceAndComments() {
        while (pos_ < text_.size()) {
            char c = text_[pos_];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                ++pos_;
            } else if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '/') {
                size_t end = text_.find('\n', pos_);
                pos_ = end == std::string_view::npos ? text_.size() : end + 1;
            } else {
                return;
            }
        }
    }

    // A platform condition such as [$WIN32] after a pair; it applies to every platform
    // here.
    void SkipCondition() {
        size_t save = pos_;
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t'))
            ++pos_;
        if (pos_ < text_.size() && text_[pos_] == '[') {
            size_t end = text_.find_first_of("]\n", pos_);
            if (end != std::string_view::npos && text_[end] == ']') {
                pos_ = end + 1;
                return;
            }
        }
        pos_ = save;
    }

    bool ReadToken(std::string& out) {
        if (pos_ >= text_.size()) return false;
        char c = text_[pos_];
        if (c == '{' || c == '}') return false;
        if (c != '"') {
            size_t start = pos_;
            while (pos_ < text_.size() && !IsBareEnd(text_[pos_]))
                ++pos_;
            out.assign(text_.substr(start, pos_ - start));
            return true;
        }
        ++pos_;
        while (pos_ < text_.size()) {
            c = text_[pos_++];
            if (c == '"') return true;
            if (c == '\\' && pos_ < text_.size()) {
                char next = text_[pos_++];
                switch (next) {
                    case 'n':
                        out.push_back('\n');
                        break;
                    case 't':
                        out.push_back('\t');
                        break;
                    case '\\':
                    case '"':
                        out.push_back(next);
                        break;
                    default:
                        out.push_back('\\');
                        out.push_back(next);
                }
                continue;
            }
            out.push_back(c);
        }
        return false;  // unclosed string
    }

    static bool IsBareEnd(char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '{' || c == '}' || c == '"';
    }

    std::string_view text_;
    size_t pos_ = 0;
};

}  // namespace

const KeyValue* KeyValue::Find(std::string_view wanted) const {
    for (const KeyValue& child : children) {
        if (AnsiEqualsNoCase(child.key, wanted)) return &child;
    }
    return nullptr;
}

std::string KeyValue::Text(std::string_view wanted) const {
    const KeyValue* pair = Find(wanted);
    return pair && !pair->isBlock ? pair->value : std::string();
}

std::optional<KeyValue> ParseKeyValues(std::string_view text) {
    // A byte-order mark some editors leave.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    KeyValue root;
    root.isBlock = true;
    Reader reader(text);
    if (!reader.ReadBlock(root, 0)) return std::nullopt;
    return root;
}

}  // namespace hivewise
