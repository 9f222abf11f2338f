#include "repair/backup_records.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <span>

#include "platform/machine/text.h"
#include "repair/zip_archive.h"

namespace hivewise {
namespace {

// The record text ends each line in CR LF and goes through a text-mode stream, which
// turns LF into CR LF: on disk every line ends in CR CR LF.
constexpr std::string_view kLineEnd = "\r\r\n";

// Appends "[KEY:value]" and the line end. A field is written verbatim, but a line break
// inside it would split the record and shift every record after it; such characters
// become blanks.
void AppendLine(std::string& out, std::string_view key, std::string_view value) {
    out += '[';
    out += key;
    out += ':';
    const size_t field = out.size();
    out += value;
    for (size_t i = field; i < out.size(); ++i) {
        if (out[i] == '\r' || out[i] == '\n') out[i] = ' ';
    }
    out += ']';
    out += kLineEnd;
}

void AppendHex(std::string& out, std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    size_t at = out.size();
    out.resize(at + bytes.size() * 2);
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        out[at++] = digits[b >> 4];
        out[at++] = digits[b & 15];
    }
}

// Each byte's value as a hex digit, or 0xFF: a restore reads every saved value's bytes
// in hex, twice.
constexpr std::array<uint8_t, 256> kHexValues = [] {
    std::array<uint8_t, 256> values{};
    values.fill(0xFF);
    for (int c = '0'; c <= '9'; ++c)
        values[c] = static_cast<uint8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c)
        values[c] = values[c + ('a' - 'A')] = static_cast<uint8_t>(c - 'A' + 10);
    return values;
}();

// The bytes of a hex text; only checked when `bytes` is null.
bool Unhex(std::string_view hex, std::string* bytes) {
    if (hex.size() % 2) return false;
    if (bytes) bytes->resize(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        const uint8_t high = kHexValues[static_cast<unsigned char>(hex[i])];
        const uint8_t low = kHexValues[static_cast<unsigned char>(hex[i + 1])];
        if ((high | low) > 15) return false;
        if (bytes) (*bytes)[i / 2] = static_cast<char>(high << 4 | low);
    }
    return true;
}

// "[DATA:type,name,bytes]" with the name's UTF-16LE bytes and the data in hex. The
// line holds no "TYPE", so a reader that knows only the records passes over it.
constexpr std::string_view kDataLine = "[DATA:";

// The value a data line holds; only checked when `exact` is null.
bool ParseDataLine(std::string_view line, ExactValue* exact) {
    while (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.empty() || line.substr(0, kDataLine.size()) != kDataLine || line.back() != ']')
        return false;
    std::string_view body = line.substr(kDataLine.size(), line.size() - kDataLine.size() - 1);
    size_t first = body.find(','), second = body.find(',', first + 1);
    if (first == 0 || first == std::string_view::npos || second == std::string_view::npos) {
        return false;
    }
    uint32_t type = 0;
    for (char c : body.substr(0, first)) {
        if (c < '0' || c > '9' || type > 0x0FFFFFFF) return false;
        type = type * 10 + static_cast<uint32_t>(c - '0');
    }
    const std::string_view nameHex = body.substr(first + 1, second - first - 1);
    // The name is UTF-16LE: two bytes, four digits, a character.
    if (nameHex.size() % 4) return false;
    if (!exact) return Unhex(nameHex, nullptr) && Unhex(body.substr(second + 1), nullptr);
    std::string name, data;
    if (!Unhex(nameHex, &name) || !Unhex(body.substr(second + 1), &data)) return false;
    exact->name = BytesToUtf16(name);
    exact->type = type;
    exact->data = std::move(data);
    return true;
}

// The lines of a text one at a time, split at LF; trailing CRs are kept unless `dropCr`.
// Nothing is held per line, so a list of millions of empty lines costs only its text.
class LineCursor {
  public:
    LineCursor(std::string_view text, bool dropCr) : text_(text), dropCr_(dropCr) {}
    bool AtEnd() const { return at_ >= text_.size(); }
    std::string_view Peek() const { return LineAt(nullptr); }
    std::string_view Next() {
        size_t next = 0;
        std::string_view line = LineAt(&next);
        at_ = next;
        return line;
    }

  private:
    std::string_view LineAt(size_t* next) const {
        size_t end = text_.find('\n', at_);
        bool last = end == std::string_view::npos;
        std::string_view line = AtEnd()
                                    ? std::string_view{}
                                    : text_.substr(at_, last ? std::string_view::npos : end - at_);
        while (dropCr_ && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (next) *next = last ? text_.size() : end + 1;
        return line;
    }

    std::string_view text_;
    bool dropCr_;
    size_t at_ = 0;
};

std::string_view WithoutCr(std::string_view line) {
    while (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

bool StartsWithKey(std::string_view line, std::string_view key) {
    line = WithoutCr(line);
    return line.size() >= key.size() + 3 && line[0] == '[' && line.substr(1, key.size()) == key &&
           line[key.size() + 1] == ':' && line.back() == ']';
}

}  // namespace

std::string KeyRecord(std::string_view keyPath, int number) {
    std::string record;
    AppendLine(record, "TYPE", "REG_KEY");
    AppendLine(record, "NAME", keyPath);
    AppendLine(record, "PATH", "\\rkBackUp" + std::to_string(number) + ".reg");
    return record;
}

// Written once per value a repair saves, hundreds of thousands of times: built in place.
std::string ValueRecord(std::string_view keyPath, std::string_view valueName,
                        std::string_view valueData, const ExactValue* exact) {
    std::string record;
    record.reserve(96 + keyPath.size() + valueName.size() + valueData.size() +
                   (exact ? 32 + 4 * exact->name.size() + 2 * exact->data.size() : 0));
    AppendLine(record, "TYPE", "REG_VALUE");
    AppendLine(record, "MAIN_KEY", keyPath);
    AppendLine(record, "VALUE_NAME", valueName);
    AppendLine(record, "VALUE", valueData);
    if (exact) {
        record += kDataLine;
        record += std::to_string(exact->type);
        record += ',';
        AppendHex(record, Utf16ToBytes(exact->name));
        record += ',';
        AppendHex(record, exact->data);
        record += ']';
        record += kLineEnd;
    }
    return record;
}

std::string FileRecord(std::string_view destPath, std::string_view entry) {
    std::string record;
    AppendLine(record, "TYPE", "FILE");
    AppendLine(record, "DEST_PATH", destPath);
    if (!entry.empty()) AppendLine(record, "ENTRY", entry);
    return record;
}

std::string HostFileRecord(std::string_view hostPath, unsigned mode, std::string_view entry) {
    char octal[8];
    std::snprintf(octal, sizeof octal, "%o", mode & 07777);
    std::string record;
    AppendLine(record, "TYPE", "HOST_FILE");
    AppendLine(record, "HOST_PATH", hostPath);
    AppendLine(record, "MODE", octal);
    AppendLine(record, "ENTRY", entry);
    return record;
}

namespace {

// Permission bits as HostFileRecord writes them: one to four octal digits.
std::optional<unsigned> ParseMode(std::string_view text) {
    if (text.empty() || text.size() > 4) return std::nullopt;
    unsigned mode = 0;
    for (char c : text) {
        if (c < '0' || c > '7') return std::nullopt;
        mode = mode * 8 + static_cast<unsigned>(c - '0');
    }
    return mode;
}

}  // namespace

namespace {

std::string_view RecordField(std::string_view line, std::string_view key) {
    size_t at = line.find(key);
    if (at == std::string_view::npos) return line;
    size_t cut = at + key.size() + 1;
    std::string_view rest = cut >= line.size() ? std::string_view{} : line.substr(cut);
    size_t close = rest.rfind(']');
    if (close == std::string_view::npos) return {};
    return rest.substr(0, close);
}

// The keys of each record's lines after its TYPE line.
constexpr std::string_view kKeyKeys[] = {"NAME", "PATH"};
constexpr std::string_view kValueKeys[] = {"MAIN_KEY", "VALUE_NAME", "VALUE"};
constexpr std::string_view kFileKeys[] = {"DEST_PATH"};
constexpr std::string_view kHostFileKeys[] = {"HOST_PATH", "MODE", "ENTRY"};

}  // namespace

std::string ReadRecordField(std::string_view line, std::string_view key) {
    return std::string(RecordField(line, key));
}

std::vector<BackupItem> ReadConfigItems(std::string_view text) {
    std::vector<BackupItem> items;
    ForEachConfigItem(text, [&](BackupItem&& item) { items.push_back(std::move(item)); });
    return items;
}

size_t ConfigRecordCount(std::string_view text) {
    constexpr std::string_view kTypeLine = "[TYPE:";
    size_t count = 0;
    for (size_t at = text.find(kTypeLine); at != std::string_view::npos;
         at = text.find(kTypeLine, at + kTypeLine.size())) {
        if (at == 0 || text[at - 1] == '\n') ++count;
    }
    return count;
}

void ForEachConfigItem(std::string_view text, const std::function<void(BackupItem&&)>& take) {
    LineCursor lines(text, false);
    auto next = [&](std::string_view key, std::string* out) {
        if (lines.AtEnd()) return false;
        *out = ReadRecordField(lines.Next(), key);
        return true;
    };
    while (!lines.AtEnd()) {
        std::string type = ReadRecordField(lines.Next(), "TYPE");
        BackupItem item;
        if (AnsiEqualsNoCase(type, "REG_KEY")) {
            item.kind = kBackupKey;
            if (!next("NAME", &item.first) || !next("PATH", &item.second)) break;
        } else if (AnsiEqualsNoCase(type, "REG_VALUE")) {
            item.kind = kBackupValue;
            if (!next("MAIN_KEY", &item.third) || !next("VALUE_NAME", &item.fourth) ||
                !next("VALUE", &item.first)) {
                break;
            }
            ExactValue exact;
            if (!lines.AtEnd() && ParseDataLine(lines.Peek(), &exact)) {
                item.exact = std::move(exact);
                lines.Next();
            }
        } else if (AnsiEqualsNoCase(type, "FILE")) {
            item.kind = kBackupFile;
            if (!next("DEST_PATH", &item.second)) break;
            if (!lines.AtEnd() && StartsWithKey(lines.Peek(), "ENTRY")) {
                item.entry = ReadRecordField(lines.Next(), "ENTRY");
            }
        } else if (AnsiEqualsNoCase(type, "HOST_FILE")) {
            item.kind = kBackupHostFile;
            std::string mode;
            if (!next("HOST_PATH", &item.second) || !next("MODE", &mode) ||
                !next("ENTRY", &item.entry)) {
                break;
            }
            item.mode = ParseMode(mode).value_or(0);
        } else {
            continue;
        }
        take(std::move(item));
    }
}

bool ConfigIsSound(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) return false;
    LineCursor lines(text, true);
    while (!lines.AtEnd()) {
        std::string_view line = lines.Next();
        if (line.empty()) continue;
        if (!StartsWithKey(line, "TYPE")) return false;
        std::string_view type = RecordField(line, "TYPE");
        std::span<const std::string_view> keys;
        if (AnsiEqualsNoCase(type, "REG_KEY")) {
            keys = kKeyKeys;
        } else if (AnsiEqualsNoCase(type, "REG_VALUE")) {
            keys = kValueKeys;
        } else if (AnsiEqualsNoCase(type, "FILE")) {
            keys = kFileKeys;
        } else if (AnsiEqualsNoCase(type, "HOST_FILE")) {
            keys = kHostFileKeys;
        } else {
            return false;
        }
        for (std::string_view key : keys) {
            if (lines.AtEnd() || !StartsWithKey(lines.Peek(), key)) return false;
            std::string_view field = RecordField(lines.Next(), key);
            if (key == "PATH" &&
                (field.empty() || field[0] != '\\' || !IsBareName(field.substr(1)))) {
                return false;
            }
            if (key == "DEST_PATH" && field.empty()) return false;
            if (key == "HOST_PATH" && field.rfind('/', 0) != 0) return false;
            if (key == "MODE" && !ParseMode(field)) return false;
            if (key == "ENTRY" && !IsBareName(field)) return false;
        }
        if (!lines.AtEnd() && lines.Peek().substr(0, kDataLine.size()) == kDataLine) {
            if (keys.data() != kValueKeys || !ParseDataLine(lines.Next(), nullptr)) return false;
        } else if (!lines.AtEnd() && StartsWithKey(lines.Peek(), "ENTRY")) {
            if (keys.data() != kFileKeys || !IsBareName(RecordField(lines.Next(), "ENTRY"))) {
                return false;
            }
        }
    }
    return true;
}

std::string ArchiveName(std::string_view folder, const std::tm& time, int sequence) {
    char name[160];
    std::snprintf(name, sizeof name, "%d,%d,%d_%d,%d,%d", time.tm_mon + 1, time.tm_mday,
                  time.tm_year + 1900, time.tm_hour, time.tm_min, time.tm_sec);
    std::string text = std::string(folder) + "\\" + name;
    if (sequence > 1) text += "_" + std::to_string(sequence);
    return text + ".zip";
}

std::optional<std::vector<long>> BackupNameNumbers(std::string_view name) {
    std::vector<long> numbers;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of(",_", start);
        if (end == std::string_view::npos) end = name.size();
        std::string_view piece = name.substr(start, end - start);
        if (!piece.empty()) {
            // A decimal prefix; a piece without digits counts as 0.
            long value = 0;
            for (char c : piece) {
                if (c < '0' || c > '9' || value > 99999999) break;
                value = value * 10 + (c - '0');
            }
            numbers.push_back(value);
        }
        start = end + 1;
    }
    if (numbers.size() < 6) return std::nullopt;
    return numbers;
}

std::string FormatBackupDate(std::string_view name) {
    auto numbers = BackupNameNumbers(name);
    if (!numbers) return {};
    const std::vector<long>& n = *numbers;
    using namespace std::chrono;
    year_month_day date{year{static_cast<int>(n[2] > 9999 ? 0 : n[2])},
                        month{static_cast<unsigned>(n[0] > 12 ? 0 : n[0])},
                        day{static_cast<unsigned>(n[1] > 31 ? 0 : n[1])}};
    if (!date.ok() || n[2] < 1 || n[3] > 23 || n[4] > 59 || n[5] > 59) return {};
    static const char* const kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                        "Thursday", "Friday", "Saturday"};
    static const char* const kMonths[] = {"January",   "February", "March",    "April",
                                          "May",       "June",     "July",     "August",
                                          "September", "October",  "November", "December"};
    unsigned weekday = std::chrono::weekday{sys_days{date}}.c_encoding();
    char text[256];
    std::snprintf(text, sizeof text, "%s, %s %02ld, %04ld Time: %02ld:%02ld:%02ld", kDays[weekday],
                  kMonths[n[0] - 1], n[1], n[2], n[3], n[4], n[5]);
    return text;
}

std::string BareName(std::string_view path) {
    size_t cut = path.rfind('\\');
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

bool IsBareName(std::string_view name) {
    return name.find_first_of("/\\") == std::string_view::npos && SafeEntryPath(name, nullptr);
}

}  // namespace hivewise
