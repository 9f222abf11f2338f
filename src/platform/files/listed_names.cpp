#include "platform/files/listed_names.h"

#include <array>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "platform/machine/text.h"

namespace hivewise::path_detail {
namespace {

// The folded UTF-16 unit of each ANSI character.
const std::array<char16_t, 256> kFoldedAnsi = [] {
    std::array<char16_t, 256> units{};
    for (unsigned b = 0; b < 256; ++b)
        units[b] = FoldChar(AnsiCharToUtf16(static_cast<char>(b)));
    return units;
}();

char16_t FoldedAnsi(char c) {
    return kFoldedAnsi[static_cast<unsigned char>(c)];
}

// Kept units are bytes in the name buffer, which gives them no alignment.
char16_t KeptUnit(const char* kept, size_t i) {
    char16_t unit;
    std::memcpy(&unit, kept + 2 * i, sizeof unit);
    return unit;
}

// FNV-1a over folded units, its high bits mixed into the low ones an index masks.
class UnitHash {
  public:
    void Add(char16_t unit) { hash_ = (hash_ ^ unit) * 0x100000001b3ULL; }
    size_t Value() const { return static_cast<size_t>(hash_ ^ (hash_ >> 32)); }

  private:
    uint64_t hash_ = 0xcbf29ce484222325ULL;
};

}  // namespace

void ListedNames::Reserve(size_t entries, size_t hostBytes) {
    entries_.reserve(entries);
    text_.reserve(hostBytes);
}

void ListedNames::Add(std::string_view hostName, std::u16string_view wide) {
    std::string ansi = Utf16ToAnsi(wide);
    // A '?' the code page put in for a character it lacks never stands for the same byte
    // of the host name, so such an ANSI name is always kept, and its folded name with it.
    const bool keepAnsi = ansi != hostName;
    const bool keepFolded = keepAnsi && ansi.find('?') != std::string::npos;
    const size_t size =
        hostName.size() + (keepAnsi ? ansi.size() : 0) + (keepFolded ? 2 * wide.size() : 0);
    if (hostName.size() > std::numeric_limits<uint16_t>::max() ||
        text_.size() + size > std::numeric_limits<uint32_t>::max()) {
        throw std::length_error("folder listing's names too long");
    }
    entries_.push_back({static_cast<uint32_t>(text_.size()), static_cast<uint16_t>(hostName.size()),
                        static_cast<uint16_t>(keepAnsi ? ansi.size() : 0)});
    text_.append(hostName);
    if (keepAnsi) text_.append(ansi);
    if (keepFolded) {
        for (char16_t unit : wide) {
            unit = FoldChar(unit);
            char bytes[sizeof unit];
            std::memcpy(bytes, &unit, sizeof unit);
            text_.append(bytes, sizeof bytes);
        }
    }
}

void ListedNames::Trim() {
    text_.shrink_to_fit();
    entries_.shrink_to_fit();
}

const char* ListedNames::KeptFolded(size_t k) const {
    const Entry& e = entries_[k];
    if (e.ansiSize == 0) return nullptr;
    const char* ansi = text_.data() + e.at + e.hostSize;
    if (!std::memchr(ansi, '?', e.ansiSize)) return nullptr;
    return ansi + e.ansiSize;
}

size_t ListedNames::LongHash(size_t k) const {
    const char* kept = KeptFolded(k);
    if (!kept) return LongHashOf(Ansi(k));
    UnitHash hash;
    for (size_t i = 0; i < entries_[k].ansiSize; ++i)
        hash.Add(KeptUnit(kept, i));
    return hash.Value();
}

size_t ListedNames::LongHashOf(std::string_view ansiName) {
    UnitHash hash;
    for (char c : ansiName)
        hash.Add(FoldedAnsi(c));
    return hash.Value();
}

bool ListedNames::LongIs(size_t k, std::string_view ansiName) const {
    std::string_view ansi = Ansi(k);
    if (ansi.size() != ansiName.size()) return false;
    if (const char* kept = KeptFolded(k)) {
        for (size_t i = 0; i < ansiName.size(); ++i) {
            if (KeptUnit(kept, i) != FoldedAnsi(ansiName[i])) return false;
        }
        return true;
    }
    for (size_t i = 0; i < ansiName.size(); ++i) {
        if (ansi[i] != ansiName[i] && FoldedAnsi(ansi[i]) != FoldedAnsi(ansiName[i])) {
            return false;
        }
    }
    return true;
}

bool ListedNames::SameLong(size_t a, size_t b) const {
    const char* keptA = KeptFolded(a);
    const char* keptB = KeptFolded(b);
    if (!keptB) return LongIs(a, Ansi(b));
    if (!keptA) return LongIs(b, Ansi(a));
    return entries_[a].ansiSize == entries_[b].ansiSize &&
           std::memcmp(keptA, keptB, 2 * size_t{entries_[a].ansiSize}) == 0;
}

}  // namespace hivewise::path_detail
