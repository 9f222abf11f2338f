#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

// A Wine prefix of a chosen size for benchmarks: a system.reg of `values` values in keys
// of ten, in the forms the prefix's server writes, one value in five a drive path (half of
// them to files that exist, half to files that do not), and a small user.reg/userdef.reg.
namespace hivewise::bench {

// The text of the generated system.reg.
std::string GeneratedSystemReg(size_t values);

// Writes the whole prefix (registry files, drive_c with the existing files, dosdevices)
// into `dir`, which is created. False with `error` set on failure.
bool WriteGeneratedPrefix(const std::filesystem::path& dir, size_t values, std::string* error);

// The number of files under drive_c that the present drive paths point at.
constexpr int kGeneratedPresentFiles = 64;

}  // namespace hivewise::bench
