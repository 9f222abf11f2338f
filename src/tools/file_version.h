#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The version resource of an executable or library: its fixed version block and the
// twelve version strings in the language that best fits the user.
namespace hivewise {

class Machine;

// VS_FIXEDFILEINFO, the 52-byte root value of a version resource.
struct FixedFileInfo {
    uint32_t signature = 0;  // 0xFEEF04BD
    uint32_t structVersion = 0;
    uint32_t fileVersionMS = 0;
    uint32_t fileVersionLS = 0;
    uint32_t productVersionMS = 0;
    uint32_t productVersionLS = 0;
    uint32_t fileFlagsMask = 0;
    uint32_t fileFlags = 0;
    uint32_t fileOS = 0;
    uint32_t fileType = 0;
    uint32_t fileSubtype = 0;
    uint32_t fileDateMS = 0;
    uint32_t fileDateLS = 0;
};
static_assert(sizeof(FixedFileInfo) == 52);

// The twelve strings, in the order they are read and kept.
enum class VersionString : size_t {
    CompanyName,
    FileDescription,
    FileVersion,
    InternalName,
    LegalCopyright,
    OriginalFileName,
    ProductName,
    ProductVersion,
    Comments,
    LegalTrademarks,
    PrivateBuild,
    SpecialBuild,
};
constexpr size_t kVersionStringCount = 12;

// The names the strings are looked up by (matched without regard to case, as the
// platform does, so "OriginalFileName" finds "OriginalFilename").
extern const std::array<const char*, kVersionStringCount> kVersionStringNames;

// One value of a version resource, found by a sub-block path such as
// "\StringFileInfo\040904B0\CompanyName" (VerQueryValue's rules: keys compared without
// regard to case, "\" is the root block's value).
struct VersionValue {
    std::string_view bytes;  // the value as stored, cut at its block's end
    bool isText = false;     // the block's type says text (UTF-16)
};
std::optional<VersionValue> QueryVersionValue(std::string_view resource, std::string_view subBlock);
// A text value as ANSI: UTF-16 up to its terminator, its stated length or its block's end.
std::optional<std::string> QueryVersionText(std::string_view resource, std::string_view subBlock);

class FileVersionDetails {
  public:
    FileVersionDetails() = default;
    virtual ~FileVersionDetails() = default;

    // Zeroes the fixed info and empties the strings.
    virtual void Reset();

    // A file of the machine, by its Windows path, read in the language of the machine's
    // user. True when the file has a version resource that could be read; after false
    // every field is empty.
    bool Read(Machine& machine, const std::string& path);
    // The same for a host file, with the user's language given.
    bool ReadHostFile(const std::filesystem::path& hostPath, uint16_t userLanguage);
    // The same for an image already in memory.
    bool ReadImage(std::string_view image, uint16_t userLanguage);
    // The same for a version resource already extracted from its file.
    bool ReadResource(std::string_view resource, uint16_t userLanguage);

    const FixedFileInfo& FixedInfo() const { return fixed_; }
    std::string String(VersionString which) const { return strings_[static_cast<size_t>(which)]; }
    std::string CompanyName() const { return String(VersionString::CompanyName); }
    std::string FileDescription() const { return String(VersionString::FileDescription); }
    std::string FileVersion() const { return String(VersionString::FileVersion); }
    std::string InternalName() const { return String(VersionString::InternalName); }
    std::string LegalCopyright() const { return String(VersionString::LegalCopyright); }
    std::string OriginalFileName() const { return String(VersionString::OriginalFileName); }
    std::string ProductName() const { return String(VersionString::ProductName); }
    std::string ProductVersion() const { return String(VersionString::ProductVersion); }
    std::string Comments() const { return String(VersionString::Comments); }
    std::string LegalTrademarks() const { return String(VersionString::LegalTrademarks); }
    std::string PrivateBuild() const { return String(VersionString::PrivateBuild); }
    std::string SpecialBuild() const { return String(VersionString::SpecialBuild); }

    // The language and code page of the string block that was read (0 when none).
    uint16_t Language() const { return language_; }
    uint16_t CodePage() const { return codePage_; }

  private:
    FixedFileInfo fixed_;
    std::array<std::string, kVersionStringCount> strings_;
    uint16_t language_ = 0;
    uint16_t codePage_ = 0;
};

// Which entry of a translation table (language, code page pairs) fits a user language:
// the user's language, then its low byte, then neutral, then English, then the first.
// Nothing for an empty table.
struct Translation {
    uint16_t language = 0;
    uint16_t codePage = 0;
};
std::optional<Translation> ChooseTranslation(std::string_view table, uint16_t userLanguage);

}  // namespace hivewise
