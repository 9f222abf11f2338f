#pragma once

#include <string>
#include <string_view>

#include "platform/files/file_system_access.h"
#include "platform/registry/registry_access.h"

// The tests that decide whether a file, folder, command line or class that a registry
// entry refers to still exists. They keep no state; every answer comes from the
// machine's registry and files as they are now.
namespace hivewise {

// The two halves of the platform layer the tests read through. Build one per scan (or
// per thread) and pass it to every call; it only holds references.
struct ReferenceContext {
    RegistryAccess& registry;
    FileSystemAccess& files;
};

// Present (true) or missing (false) for a path or a command line as found in the
// registry. Lenient: paths on drives that are not fixed disks, URLs, UNC paths, the
// host programs rundll32, msiexec and regsvr32, and texts with a comma are present.
bool FileReferenceExists(const ReferenceContext& context, std::string_view text);

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
