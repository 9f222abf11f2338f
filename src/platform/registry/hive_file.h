#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry_store.h"

// The prefix's registry text format ("WINE REGISTRY Version 2"), read into a key tree
// and written back in the same form: untouched sections byte for byte, changed ones
// the way the prefix's own server writes them.
namespace hivewise {

struct HiveParseError {
    int line = 0;
    std::string message;
};

// What a file holds besides its keys.
struct HiveInfo {
    std::string header;         // everything before the first section
    std::string trailer;        // blank lines after the last section
    std::u16string relativeTo;  // the path of the ";; All keys relative to" line
};

// Files from this size on are read on two threads where the machine has two processors:
// the second lists and checks the latter part's sections, and only the calling thread
// touches the store. Tests set it lower to read small files so.
constexpr size_t kParallelReadFrom = size_t{4} << 20;

// Reads a whole file into `base`, a new key of `store` (detached or empty). The file is
// checked completely; values are decoded from `text` when first used, so `text` must
// live as long as the store (see RegistryStore::KeepText). False, with `error` set, on a
// malformed file (the first fault in it); `base` may then hold part of it.
bool ReadHive(RegistryStore& store, RegKey* base, const std::string_view* text, HiveInfo* info,
              HiveParseError* error, size_t parallelFrom = kParallelReadFrom);

// A file read into a store of its own.
struct ParsedHive : HiveInfo {
    RegistryStore store;
    RegKey* base = nullptr;
};
std::unique_ptr<ParsedHive> ParseHive(std::string_view content, HiveParseError* error,
                                      size_t parallelFrom = kParallelReadFrom);

// A key's save marks its file so that one cut short anywhere, even between two lines, is
// told from a whole one: a header line announces the end line, which comes last. Readers
// of the format take both for the comments they are.
constexpr std::string_view kSavedKeyMark = ";; Saved key: its last line is \";; End of saved key\"";
constexpr std::string_view kSavedKeyEnd = ";; End of saved key";
// The header and the end of a key's save, each ending with its line feed.
std::string SavedKeyHeader(std::u16string_view relativeTo, std::string_view arch);
std::string SavedKeyTrailer();

// What CheckWholeHive found in a file.
struct WholeHive {
    std::u16string relativeTo;  // the path of the ";; All keys relative to" line
    size_t sections = 0;        // none: the file is only a header
};
// Whether `content` is whole as a key's save writes it: the reader takes every line,
// every line ends with a line feed (a carriage return only before one), the header names
// the key the file was saved from, every key line is followed by its time line and, in a
// marked file, the end line comes last. So a marked file cut anywhere is refused, and
// an unmarked one (of an older save) cut anywhere but between two lines.
bool CheckWholeHive(std::string_view content, WholeHive* whole, HiveParseError* error);

// A file's text as pieces: runs of untouched sections are views of the text they were
// loaded from (which the store keeps), so that saving a large file with one change
// does not copy the rest of it in memory first.
class HiveText {
  public:
    // A piece of text that outlives this object.
    void AppendView(std::string_view piece);
    // Text of this object's own, to append to.
    std::string& Owned();
    // The last character so far, or 0.
    char Back() const;
    std::vector<std::string_view> Pieces() const;
    std::string Join() const;

  private:
    struct Piece {
        std::string_view view;
        std::string owned;
        bool isView;
    };
    std::vector<Piece> pieces_;
};

// Writes the tree below `base` in the file format. Untouched keys loaded from a file are
// copied from its bytes unless `reuseSections` is false.
HiveText WriteHiveText(const RegKey& base, std::string_view header, std::string_view trailer,
                       bool reuseSections = true);
std::string WriteHive(const RegKey& base, std::string_view header, std::string_view trailer,
                      bool reuseSections = true);

// The header a new file gets: the relative path and the architecture line.
std::string NewHiveHeader(std::u16string_view relativeTo, std::string_view arch);

// The values of a loaded section, decoded from the file's text into `values` (which
// they replace, reusing its elements' memory).
void DecodeSectionValues(std::string_view text, const RawSection& section,
                         std::vector<RegValue>* values);
// The same as plain values, when every value line of the section is plain (see
// DecodePlainValueLine); false otherwise, `values` then changed in part.
bool DecodePlainSectionValues(std::string_view text, const RawSection& section,
                              std::vector<PlainValue>* values);

// One value as the format writes it, with its line end.
void AppendValueText(std::string& out, const RegValue& value);
// A name or string with the format's escapes (`quote` escaped as well). String data
// leaves its final NUL implied; names keep every character.
void AppendEscaped(std::string& out, std::u16string_view text, char quoteA, char quoteB,
                   bool impliedTerminator = false);

}  // namespace hivewise
