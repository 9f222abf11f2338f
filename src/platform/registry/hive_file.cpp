#include "platform/registry/hive_file.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/machine/text.h"
#include "platform/registry/hive_sections.h"
#include "platform/registry/hive_values.h"

namespace hivewise {
namespace {

constexpr uint64_t kTicksPerSecond = 10000000ULL;
constexpr uint64_t kTicks1601To1970 = 11644473600ULL * kTicksPerSecond;
constexpr std::string_view kSignature = "WINE REGISTRY Version 2";

}  // namespace

// Reads a file's sections into keys, checking every line but decoding values later.
// From `parallelFrom` bytes on, the sections of the file's latter part are listed and
// checked on a second thread meanwhile (hive_sections.h).
class HiveReader {
  public:
    HiveReader(RegistryStore& store, const std::string_view* text, HiveParseError* error,
               size_t parallelFrom)
        : store_(store),
          text_(text),
          content_(*text),
          error_(error),
          split_(content_.size() >= parallelFrom ? SplitPointOf(content_, kFirstPartShare)
                                                 : std::string_view::npos),
          reader_(content_.substr(0, split_)),
          values_(reader_, error) {}

    bool Run(RegKey* base, HiveInfo* info) {
        if (content_.size() >= (size_t{256} << 10)) store_.ReserveForFile(content_.size());
        Helper helper;
        if (split_ != std::string_view::npos) {
            helper.lister.emplace(content_, split_);
            try {
                helper.thread = std::thread(
                    [lister = &*helper.lister, stop = &helper.stop] { lister->Run(*stop); });
            } catch (const std::system_error&) {
                // No thread to be had: this one reads the rest as well.
                helper.lister.reset();
                reader_ = LineReader(content_);
            }
        }
        std::string_view line;
        if (!reader_.Next(line) || line.substr(0, kSignature.size()) != kSignature)
            return Fail(1, "not a registry file (no \"WINE REGISTRY Version 2\" line)");
        bodyEnd_ = reader_.Position();  // end of the last line that was not blank
        size_t headerEnd = bodyEnd_;
        for (;;) {
            // Most lines are plain values of a key whose values are decoded later.
            if (key_ && !eager_ && reader_.SkipPlainValue()) {
                bodyEnd_ = reader_.Position();
                continue;
            }
            if (!reader_.Next(line)) break;
            size_t start = reader_.LineStart();
            size_t first;
            char c = FirstChar(line, &first);
            if (c == 0) continue;  // blank
            if (c == '[') {
                if (!BeginSection(line.substr(first), base, start, reader_.Position()))
                    return false;
            } else if (!key_) {
                if (c != '#' && c != ';')
                    return Fail(reader_.Number(), "text before the first key");
                if (line.substr(first, 23) == ";; All keys relative to") {
                    std::string_view rel = line.substr(first + 23);
                    while (!rel.empty() && IsSpace(rel.front()))
                        rel.remove_prefix(1);
                    std::u16string decoded;
                    ParseString(std::string(rel) + '\n', '\n', &decoded);
                    info->relativeTo = decoded;
                }
                headerEnd = reader_.Position();
            } else if (c == '"' || c == '@') {
                if (eager_) {
                    RegValue value;
                    if (!values_.Read(line.substr(first), &value)) return false;
                    std::vector<RegValue>& values = key_->OwnValues();
                    values.push_back(std::move(value));
                    DropRepeatedNames(values);
                } else if (!values_.Read(line.substr(first), nullptr)) {
                    return false;
                }
            } else if (c == '#') {
                if (!Option(line.substr(first), key_)) return false;
            } else if (c != ';') {
                return Fail(reader_.Number(), "unrecognised line");
            }
            bodyEnd_ = reader_.Position();
            if (!key_) headerEnd = bodyEnd_;
        }
        if (helper.lister && !ListedSections(base, helper)) return false;
        Close();
        info->header = std::string(content_.substr(0, headerEnd));
        info->trailer = std::string(content_.substr(bodyEnd_));
        return true;
    }

  private:
    // The thread listing the latter part, stopped and joined however reading ends.
    struct Helper {
        std::optional<SectionLister> lister;
        std::atomic<bool> stop{false};
        std::thread thread;
        ~Helper() {
            stop = true;
            if (thread.joinable()) thread.join();
        }
    };
    // The number of the line being read, for a fault's message.
    int LineNumber() const {
        return listedLine_ == std::string_view::npos ? reader_.Number()
                                                     : LineNumberAt(content_, listedLine_);
    }

    // A listed line from its first character that is not blank, as the reader gives it.
    std::string_view ListedLine(size_t start) {
        listedLine_ = start;
        size_t end = content_.find('\n', start);
        std::string_view line = content_.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        size_t first;
        FirstChar(line, &first);
        return line.substr(first);
    }

    // Ends the section being read at the last line that was not blank.
    void Close() {
        if (section_) section_->length = Place(bodyEnd_ - section_->offset - section_->leadIn);
    }

    // A key line (from its '[') at `start`, with the section's lines from `body` on.
    bool BeginSection(std::string_view keyLine, RegKey* base, size_t start, size_t body) {
        Close();
        uint64_t modified = 0;
        if (!KeyLine(keyLine, base, &key_, &modified)) return false;
        if (modified) key_->modified_ = modified;
        eager_ = key_->raw_.has_value();
        if (eager_) {
            // A second section for one key: the key is written anew from its values.
            key_->DecodeValues();
            key_->dirty_ = true;
        }
        key_->raw_ = RawSection{Place(bodyEnd_), Place(start - bodyEnd_), 0, Place(body)};
        key_->text_ = text_;
        key_->lazyValues_ = !eager_;
        section_ = &*key_->raw_;
        return true;
    }

    // The other thread's sections into keys, after this thread's own part; its fault, if
    // it met one, comes after every line it listed.
    bool ListedSections(RegKey* base, Helper& helper) {
        helper.thread.join();
        const SectionLister& lister = *helper.lister;
        lister.Rethrow();
        const MappedArray<ListedSection>& sections = lister.Sections();
        const MappedArray<uint32_t>& options = lister.Options();
        for (size_t i = 0; i < sections.size(); ++i) {
            const ListedSection& listed = sections[i];
            if (!BeginSection(ListedLine(listed.start), base, listed.start, listed.body))
                return false;
            size_t lastOption =
                i + 1 < sections.size() ? sections[i + 1].firstOption : options.size();
            for (size_t o = listed.firstOption; o < lastOption; ++o) {
                if (!Option(ListedLine(options[o]), key_)) return false;
            }
            if (eager_) {
                // A key's second section: its values, which the other thread checked, join
                // those of the first as they would have when read line by line.
                std::vector<RegValue> values;
                DecodeSectionValues(content_,
                                    RawSection{Place(listed.body), 0,
                                               Place(listed.end - listed.body), Place(listed.body)},
                                    &values);
                std::vector<RegValue>& own = key_->OwnValues();
                std::move(values.begin(), values.end(), std::back_inserter(own));
                DropRepeatedNames(own);
            }
            bodyEnd_ = listed.end;
        }
        listedLine_ = std::string_view::npos;
        if (lister.Failed(error_)) return false;
        bodyEnd_ = lister.BodyEnd();
        return true;
    }

    bool Fail(int line, std::string message) {
        if (error_) {
            error_->line = line;
            error_->message = std::move(message);
        }
        return false;
    }

    bool Option(std::string_view opt, RegKey* key) {
        if (opt.substr(0, 6) == "#time=") {
            uint64_t t = 0;
            for (char h : opt.substr(6)) {
                int d = HexDigit(h);
                if (d < 0) break;
                t = (t << 4) | static_cast<uint64_t>(d);
            }
            key->modified_ = t;
        } else if (opt.substr(0, 8) == "#class=\"") {
            std::u16string cls;
            if (!ParseString(opt.substr(8), '"', &cls))
                return Fail(LineNumber(), "class name not closed");
            key->className_ = std::make_unique<const std::u16string>(std::move(cls));
        } else if (opt.substr(0, 5) == "#link") {
            key->isLink_ = true;
        }
        // Other options are kept in the section's text and ignored.
        return true;
    }

    // Finds or makes a child while loading: no timestamps change, nothing is dirty.
    static RegKey* LoadChild(RegistryStore& store, RegKey* parent, std::u16string_view name,
                             uint64_t modified) {
        size_t pos = parent->SubKeyPosition(name);
        if (RegKey* existing = parent->ChildAt(pos, name)) return existing;
        RegKey* child = store.NewDetachedKey();
        child->SetName(store.KeepName(name));
        child->parent_ = parent;
        child->depth_ = parent->depth_ + 1;
        child->modified_ = modified;
        parent->PlaceChild(pos, child);
        return child;
    }

    bool KeyLine(std::string_view line, RegKey* base, RegKey** key, uint64_t* modified) {
        std::string_view name = line.substr(1);
        // Most key lines are plain ASCII whose only escapes are the separators: their parts
        // are taken from the text as it stands, and only new keys' names are widened.
        size_t used = PlainParts(name);
        if (!used) {
            used = ParseString(name, ']', &scratch_);
            if (!used) return Fail(LineNumber(), "key name not closed");
            wideParts_.clear();
            std::u16string_view path(scratch_);
            while (!path.empty()) {
                size_t cut = path.find(u'\\');
                wideParts_.push_back(path.substr(0, cut));
                path.remove_prefix(cut == std::u16string_view::npos ? path.size() : cut + 1);
            }
        }
        std::string_view rest = name.substr(used);
        uint64_t seconds = 0;
        bool any = false;
        size_t i = 0;
        while (i < rest.size() && IsSpace(rest[i]))
            ++i;
        for (; i < rest.size() && rest[i] >= '0' && rest[i] <= '9'; ++i) {
            seconds = seconds * 10 + static_cast<uint64_t>(rest[i] - '0');
            any = true;
        }
        while (i < rest.size() && IsSpace(rest[i]))
            ++i;
        if (i != rest.size()) return Fail(LineNumber(), "text after key name");
        *modified = any ? seconds * kTicksPerSecond + kTicks1601To1970 : 0;
        *key = asciiParts_.empty() ? Walk(base, wideParts_, *modified)
                                   : Walk(base, asciiParts_, *modified);
        return true;
    }

    // Splits a key name of plain ASCII at its separators ("\\") into asciiParts_; the
    // bytes up to and including the closing ']', or 0 (and no parts) when the name holds
    // any other escape or byte, which only the full decoding reads right.
    size_t PlainParts(std::string_view name) {
        asciiParts_.clear();
        size_t from = 0;
        size_t i = 0;
        for (;;) {
            i = PlainRunEnd(name, i, ']');
            if (i >= name.size()) break;
            if (name[i] == ']') {
                asciiParts_.push_back(name.substr(from, i - from));
                return i + 1;
            }
            if (name[i] != '\\' || i + 1 >= name.size() || name[i + 1] != '\\') break;
            asciiParts_.push_back(name.substr(from, i - from));
            i += 2;
            from = i;
        }
        asciiParts_.clear();
        return 0;
    }

    static bool SameName(std::u16string_view a, std::u16string_view b) { return a == b; }
    static bool SameName(std::u16string_view a, std::string_view ascii) {
        if (a.size() != ascii.size()) return false;
        for (size_t i = 0; i < a.size(); ++i) {
            if (a[i] != static_cast<char16_t>(ascii[i])) return false;
        }
        return true;
    }
    std::u16string_view Wide(std::u16string_view part) { return part; }
    std::u16string_view Wide(std::string_view ascii) {
        widened_.assign(ascii.begin(), ascii.end());
        return widened_;
    }

    // The key at a path's parts below `base`, made where missing. Sections come in tree
    // order, so a path mostly repeats the previous one's leading parts: those keys are
    // reused instead of looked up again. Empty parts are passed over.
    template <typename Part>
    RegKey* Walk(RegKey* base, const std::vector<Part>& parts, uint64_t modified) {
        RegKey* k = base;
        size_t depth = 0;
        bool reuse = true;
        for (const Part& part : parts) {
            if (part.empty()) continue;
            if (reuse && depth < chain_.size() && SameName(chain_[depth]->Name(), part)) {
                k = chain_[depth];
            } else {
                reuse = false;
                k = LoadChild(store_, k, Wide(part), modified);
                chain_.resize(depth);
                chain_.push_back(k);
            }
            ++depth;
        }
        chain_.resize(depth);
        return k;
    }

    RegistryStore& store_;
    const std::string_view* text_;
    std::string_view content_;
    HiveParseError* error_;
    size_t split_;  // where the other thread's part starts, or npos
    LineReader reader_;
    ValueReader values_;
    std::u16string scratch_;
    std::u16string widened_;
    std::vector<std::string_view> asciiParts_;
    std::vector<std::u16string_view> wideParts_;
    std::vector<RegKey*> chain_;     // the keys of the previous section's path
    RegKey* key_ = nullptr;          // the key whose section is being read
    RawSection* section_ = nullptr;  // its section
    size_t bodyEnd_ = 0;             // end of the last line that was not blank
    bool eager_ = false;             // a key's second section: its values are decoded now
    size_t listedLine_ = std::string_view::npos;  // start of the listed line being read
};

namespace {
void AppendTicksLine(std::string& out, uint64_t modified) {
    char buf[64];
    uint64_t seconds =
        modified >= kTicks1601To1970 ? (modified - kTicks1601To1970) / kTicksPerSecond : 0;
    int n = std::snprintf(buf, sizeof buf, "] %u\n#time=%x%08x\n", static_cast<unsigned>(seconds),
                          static_cast<unsigned>(modified >> 32), static_cast<unsigned>(modified));
    out.append(buf, static_cast<size_t>(n));
}

}  // namespace

// Writes keys in tree order without recursion; runs of untouched sections that stood
// together in their file are copied in one piece.
//
// A key without a section of its own is named only inside other sections' paths, and
// whoever loads the file (Wine too) keeps the first spelling it meets. So the first
// section written below such a key is one that spells it as it is named, where one
// does; a section that would still name a key differently gets its path written anew.
class HiveWriter {
  public:
    HiveWriter(HiveText& out, const RegKey& base, bool reuse)
        : text_(out), base_(base), reuse_(reuse) {}

    void Run() {
        std::vector<std::pair<const RegKey*, size_t>> stack{{&base_, 0}};
        std::vector<const RegKey*> children;
        while (!stack.empty()) {
            auto [key, depth] = stack.back();
            stack.pop_back();
            path_.resize(depth);
            named_.resize(depth);
            path_.push_back(key);
            named_.push_back(depth == 0);
            Key(*key, depth);
            const std::vector<RegKey*>& subkeys = key->SubKeys();
            children.assign(subkeys.begin(), subkeys.end());
            if (!named_[depth] && children.size() > 1) KeepSpelling(children, depth);
            for (auto it = children.rbegin(); it != children.rend(); ++it)
                stack.emplace_back(*it, depth + 1);
        }
        FlushCopy();
    }

  private:
    bool Reusable(const RegKey& key) const {
        return reuse_ && key.raw_ && !key.dirty_ && key.text_ &&
               uint64_t{key.raw_->offset} + key.raw_->leadIn + key.raw_->length <=
                   key.text_->size();
    }

    bool WritesSection(const RegKey& key) {
        return Reusable(key) || !peek_.Of(&key).empty() || key.SubKeys().empty() ||
               key.className_ || key.isLink_;
    }

    // Puts first the children whose first section spells the key at `depth` as it is
    // named, when the first child in tree order would spell it otherwise.
    void KeepSpelling(std::vector<const RegKey*>& children, size_t depth) {
        std::u16string_view name = path_[depth]->Name();
        auto spellsRight = [&](const RegKey* child) {
            const RegKey* first = child;
            while (!WritesSection(*first))
                first = first->SubKeys().front();
            std::u16string_view spelled;
            return !SpelledComponent(*first, depth, &spelled) || spelled == name;
        };
        if (spellsRight(children.front())) return;
        std::stable_partition(children.begin(), children.end(), spellsRight);
    }

    // The `depth`th component (1-based) of the key's section path as its file spelled it;
    // false when the section is written from the key's names anyway.
    bool SpelledComponent(const RegKey& key, size_t depth, std::u16string_view* component) {
        std::string_view spelled = reuse_ ? SpelledPath(key) : std::string_view{};
        if (spelled.empty()) return false;
        Decode(spelled);
        if (depth > parts_.size()) return false;
        *component = parts_[depth - 1];
        return true;
    }

    // Whether the section of the key at `depth` names every key not named before as the
    // key is named.
    bool KeepsNames(std::string_view spelled, size_t depth) {
        Decode(spelled);
        if (parts_.size() != depth) return false;
        for (size_t i = 1; i <= depth; ++i) {
            if (!named_[i] && parts_[i - 1] != path_[i]->Name()) return false;
        }
        return true;
    }

    // `spelled` comes from SpelledPath: its closing ']' follows it in the file's text.
    void Decode(std::string_view spelled) {
        decoded_.clear();
        ParseString(std::string_view(spelled.data(), spelled.size() + 1), ']', &decoded_);
        parts_.clear();
        std::u16string_view rest(decoded_);
        while (!rest.empty()) {
            size_t cut = rest.find(u'\\');
            if (cut != 0) parts_.push_back(rest.substr(0, cut));
            rest.remove_prefix(cut == std::u16string_view::npos ? rest.size() : cut + 1);
        }
    }

    void Key(const RegKey& key, size_t depth) {
        if (Reusable(key)) {
            uint64_t from = key.raw_->offset;
            uint64_t to = from + key.raw_->leadIn + key.raw_->length;
            std::string_view spelled = SpelledPath(key);
            if (spelled.empty() || !KeepsNames(spelled, depth)) {
                // The section as it stands, but its path from the keys' names.
                FlushCopy();
                std::string_view text = *key.text_;
                uint64_t line = from + key.raw_->leadIn;
                std::string_view header = text.substr(line, key.raw_->body - line);
                size_t open = header.find('[');
                size_t used = open == std::string_view::npos
                                  ? 0
                                  : ParseString(header.substr(open + 1), ']', nullptr);
                std::string& out = text_.Owned();
                out.append(text.substr(from, key.raw_->leadIn));
                out += '[';
                AppendPath(out, key);
                out.append(used ? header.substr(open + 1 + used - 1) : "]\n");
                text_.AppendView(text.substr(key.raw_->body, to - key.raw_->body));
                if (text_.Back() && text_.Back() != '\n') text_.Owned().push_back('\n');
            } else if (copyText_ == key.text_ && copyEnd_ == from) {
                copyEnd_ = to;
            } else {
                FlushCopy();
                copyText_ = key.text_;
                copyStart_ = from;
                copyEnd_ = to;
            }
            MarkNamed(depth);
            return;
        }
        FlushCopy();
        const auto& values = peek_.Of(&key);
        bool write =
            !values.empty() || key.SubKeys().empty() || key.className_ != nullptr || key.isLink_;
        if (!write) return;
        std::string& out = text_.Owned();
        out += "\n[";
        // A section read from this file keeps its path as the file spelled it (every
        // escape), unless that would rename a key.
        std::string_view spelled = reuse_ ? SpelledPath(key) : std::string_view{};
        if (!spelled.empty() && KeepsNames(spelled, depth)) {
            out.append(spelled);
        } else {
            AppendPath(out, key);
        }
        MarkNamed(depth);
        AppendTicksLine(out, key.modified_);
        if (key.className_) {
            out += "#class=\"";
            AppendEscaped(out, *key.className_, '"', '"');
            out += "\"\n";
        }
        if (key.isLink_) out += "#link\n";
        for (const auto& v : values)
            AppendValueText(out, v);
    }

    void MarkNamed(size_t depth) {
        for (size_t i = depth; i > 0 && !named_[i]; --i)
            named_[i] = true;
    }

    void FlushCopy() {
        if (!copyText_) return;
        text_.AppendView(copyText_->substr(copyStart_, copyEnd_ - copyStart_));
        if (text_.Back() && text_.Back() != '\n') text_.Owned().push_back('\n');
        copyText_ = nullptr;
    }

    // The path of the key's own section line in its file, without the brackets.
    static std::string_view SpelledPath(const RegKey& key) {
        if (!key.raw_ || !key.text_) return {};
        std::string_view text = *key.text_;
        uint64_t start = uint64_t{key.raw_->offset} + key.raw_->leadIn;
        if (start >= text.size()) return {};
        std::string_view line = text.substr(start, key.raw_->body - start);
        size_t first = line.find('[');
        if (first == std::string_view::npos) return {};
        size_t used = ParseString(line.substr(first + 1), ']', nullptr);
        return used ? line.substr(first + 1, used - 1) : std::string_view{};
    }

    void AppendPath(std::string& out, const RegKey& key) {
        chain_.clear();
        for (const RegKey* k = &key; k && k != &base_; k = k->parent_)
            chain_.push_back(k);
        for (auto it = chain_.rbegin(); it != chain_.rend(); ++it) {
            if (it != chain_.rbegin()) out += "\\\\";
            AppendEscaped(out, (*it)->Name(), '[', ']');
        }
    }

    HiveText& text_;
    const RegKey& base_;
    bool reuse_;
    const std::string_view* copyText_ = nullptr;
    uint64_t copyStart_ = 0;
    uint64_t copyEnd_ = 0;
    std::vector<const RegKey*> chain_;
    // The keys from the base to the one being written, and whether a section written so
    // far names each of them.
    std::vector<const RegKey*> path_;
    std::vector<bool> named_;
    std::u16string decoded_;
    std::vector<std::u16string_view> parts_;
    // Values still only in their file are decoded for the writing alone: a whole registry
    // written anew (a saved key, a full backup) would otherwise stay decoded in memory.
    ValuePeek peek_;
};

bool ReadHive(RegistryStore& store, RegKey* base, const std::string_view* text, HiveInfo* info,
              HiveParseError* error, size_t parallelFrom) {
    if (text->size() > kMaxHiveBytes) {
        if (error) {
            error->line = 0;
            error->message = "file too large";
        }
        return false;
    }
    if (text->size() >= parallelFrom) {
        static const bool oneProcessor = std::thread::hardware_concurrency() == 1;
        if (oneProcessor) parallelFrom = SIZE_MAX;
    }
    HiveReader reader(store, text, error, parallelFrom);
    return reader.Run(base, info);
}

std::unique_ptr<ParsedHive> ParseHive(std::string_view content, HiveParseError* error,
                                      size_t parallelFrom) {
    auto hive = std::make_unique<ParsedHive>();
    hive->base = hive->store.NewDetachedKey();
    const std::string_view* text = hive->store.KeepText(std::string(content));
    if (!ReadHive(hive->store, hive->base, text, hive.get(), error, parallelFrom)) return nullptr;
    return hive;
}

std::string SavedKeyHeader(std::u16string_view relativeTo, std::string_view arch) {
    // Right below the signature line, so that a file cut after the mark is told by its
    // missing end line and one cut before it by its missing relative line.
    std::string header = NewHiveHeader(relativeTo, arch);
    header.insert(header.find('\n') + 1, std::string(kSavedKeyMark) + '\n');
    return header;
}

std::string SavedKeyTrailer() {
    return std::string(kSavedKeyEnd) + '\n';
}

bool CheckWholeHive(std::string_view content, WholeHive* whole, HiveParseError* error) {
    auto fail = [error](int line, const char* message) {
        if (error) {
            error->line = line;
            error->message = message;
        }
        return false;
    };
    if (content.empty() || content.back() != '\n') return fail(0, "last line not finished");
    int number = 0;
    bool timeExpected = false;
    bool marked = false;
    std::string_view last;
    whole->sections = 0;
    for (size_t at = 0; at < content.size();) {
        size_t end = content.find('\n', at);
        std::string_view line = content.substr(at, end - at);
        at = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find('\r') != std::string_view::npos) return fail(number, "bare carriage return");
        size_t first;
        char c = FirstChar(line, &first);
        if (timeExpected && line.substr(first, 6) != "#time=")
            return fail(number, "key line without its time line");
        timeExpected = c == '[';
        if (timeExpected) ++whole->sections;
        if (whole->sections == 0 && line == kSavedKeyMark) marked = true;
        last = line;
    }
    if (timeExpected) return fail(number, "key line without its time line");
    if (marked && last != kSavedKeyEnd) return fail(number, "end line missing");
    auto parsed = ParseHive(content, error);
    if (!parsed) return false;
    // Every save names the key it was made from.
    if (parsed->relativeTo.empty()) return fail(0, "no \";; All keys relative to\" line");
    whole->relativeTo = parsed->relativeTo;
    return true;
}

void HiveText::AppendView(std::string_view piece) {
    if (!piece.empty()) pieces_.push_back(Piece{piece, {}, true});
}

std::string& HiveText::Owned() {
    // A registry written anew is held in pieces of about a megabyte: one string grown to
    // the whole would be copied on every doubling, and twice its size at the last.
    constexpr size_t kPieceSize = size_t{1} << 20;
    if (pieces_.empty() || pieces_.back().isView || pieces_.back().owned.size() >= kPieceSize)
        pieces_.push_back(Piece{{}, {}, false});
    return pieces_.back().owned;
}

char HiveText::Back() const {
    for (auto it = pieces_.rbegin(); it != pieces_.rend(); ++it) {
        std::string_view text = it->isView ? it->view : std::string_view(it->owned);
        if (!text.empty()) return text.back();
    }
    return 0;
}

std::vector<std::string_view> HiveText::Pieces() const {
    std::vector<std::string_view> out;
    out.reserve(pieces_.size());
    for (const Piece& p : pieces_)
        out.push_back(p.isView ? p.view : std::string_view(p.owned));
    return out;
}

std::string HiveText::Join() const {
    std::string out;
    size_t size = 0;
    for (std::string_view piece : Pieces())
        size += piece.size();
    out.reserve(size);
    for (std::string_view piece : Pieces())
        out.append(piece);
    return out;
}

HiveText WriteHiveText(const RegKey& base, std::string_view header, std::string_view trailer,
                       bool reuseSections) {
    HiveText text;
    text.Owned().append(header);
    HiveWriter(text, base, reuseSections).Run();
    text.Owned().append(trailer);
    return text;
}

std::string WriteHive(const RegKey& base, std::string_view header, std::string_view trailer,
                      bool reuseSections) {
    return WriteHiveText(base, header, trailer, reuseSections).Join();
}

std::string NewHiveHeader(std::u16string_view relativeTo, std::string_view arch) {
    std::string out = "WINE REGISTRY Version 2\n;; All keys relative to ";
    std::u16string_view rest = relativeTo;
    bool first = true;
    while (!rest.empty()) {
        size_t cut = rest.find(u'\\');
        if (!first) out += "\\\\";
        AppendEscaped(out, rest.substr(0, cut), '[', ']');
        first = false;
        rest.remove_prefix(cut == std::u16string_view::npos ? rest.size() : cut + 1);
    }
    out += "\n\n#arch=";
    out += arch;
    out += "\n";
    return out;
}

}  // namespace hivewise
