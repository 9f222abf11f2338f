#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/machine/machine.h"

// What a prefix's registry says of it, read without loading the prefix: listing many
// large prefixes must stay quick and must not take their locks.
namespace hivewise {

// The version facts of system.reg, read from the few keys that state them (the same
// rules as a loaded machine's). Nothing when the file cannot be read or parsed.
std::optional<VersionFacts> GlanceVersionFacts(const std::filesystem::path& systemReg);

// "Microsoft Windows 7 Service Pack 1 (6.1.7601)"; without a product name the family and
// the numbers, "Windows NT 5.1.2600" or "Windows 4.10.2222".
std::string DescribeWindows(const VersionFacts& facts);

// The bytes of system.reg, user.reg and userdef.reg together (missing ones count 0).
std::uintmax_t RegistryFilesSize(const std::filesystem::path& prefix);

}  // namespace hivewise
