#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files/file_system_access.h"
#include "platform/registry/registry_access.h"
#include "scan/text_table.h"

// The tests that decide whether a file, folder, command line or class that a registry
// entry refers to still exists. They keep no state; every answer comes from the
// machine's registry and files as they are now.
namespace hivewise {

// Answers of the file system remembered for one scan. A scan changes no file, and the
// same programs, folders and their leading parts are named by many values in many
// sections, so each text is looked up once. Not for work that changes files (repair).
class ReferenceCache {
  public:
    enum class Question { kReference, kFile, kOnPath, kFolder, kCount };

    // The remembered answer to `question` about `text`, or `ask()` remembered.
    template <typename Ask>
    bool Answer(Question question, std::string_view text, Ask&& ask) {
        const uint8_t known = static_cast<uint8_t>(1u << static_cast<unsigned>(question));
        const uint8_t yes = static_cast<uint8_t>(known << kQuestions);
        if (const uint8_t* answers = texts_.Find(text); answers && (*answers & known)) {
            return (*answers & yes) != 0;
        }
        // Asking may add other texts, so the text's place is found afterwards.
        bool answer = ask();
        if (uint8_t* answers = texts_.FindOrAdd(text)) {
            *answers = static_cast<uint8_t>(*answers | known | (answer ? yes : 0));
        }
        return answer;
    }

    // The remembered answer to `question` about `text`, if there is one.
    std::optional<bool> Known(Question question, std::string_view text) {
        const uint8_t known = static_cast<uint8_t>(1u << static_cast<unsigned>(question));
        const uint8_t* answers = texts_.Find(text);
        if (!answers || !(*answers & known)) return std::nullopt;
        return (*answers & (known << kQuestions)) != 0;
    }

  private:
    static constexpr unsigned kQuestions = static_cast<unsigned>(Question::kCount);
    static_assert(kQuestions <= 4, "a text's answers fit in its byte");
    // Bounded, so that a registry of countless distinct paths cannot fill the memory.
    TextTable texts_{size_t{1} << 22};
};

// The two halves of the platform layer the tests read through. Build one per scan (or
// per thread) and pass it to every call; it only holds references. With a cache, answers
// about files are remembered for as long as the cache lives.
struct ReferenceContext {
    RegistryAccess& registry;
    FileSystemAccess& files;
    ReferenceCache* cache = nullptr;
};

// Present (true) or missing (false) for a path or a command line as found in the
// registry. Lenient: paths on drives that are not fixed disks, URLs, UNC paths, the
// host programs rundll32, msiexec and regsvr32, and texts with a comma are present.
bool FileReferenceExists(const ReferenceContext& context, std::string_view text);

// Whether `path` names an existing folder (remembered when the context has a cache).
bool FolderExists(const ReferenceContext& context, const std::string& path);

// Whether some leading part of a command line names an existing file or a program
// found on the search path.
bool CommandLineExists(const ReferenceContext& context, std::string_view text);

// Whether a class identifier (with or without braces) is registered under
// HKEY_CLASSES_ROOT\CLSID.
bool ClassKeyExists(const ReferenceContext& context, std::string_view classId);

// Whether a text that should name a class (a programmatic identifier, a key of
// HKEY_CLASSES_ROOT or a file) resolves to anything.
bool ClassReferenceValid(const ReferenceContext& context, std::string_view text);

// CLSIDFromProgID over the machine's registry: the default value of
// HKEY_CLASSES_ROOT\<progId>\CLSID, or, when the identifier has no CLSID key, that of
// the identifier its CurVer value names (one level). Returns kErrorSuccess with the
// braced class identifier in `classId`, kErrorFileNotFound when the identifier is not
// registered, or kErrorInvalidData when its CLSID value is no class identifier.
constexpr long kErrorInvalidData = 13;
long ClassIdFromProgId(RegistryAccess& registry, std::string_view progId,
                       std::string* classId = nullptr);

}  // namespace hivewise
