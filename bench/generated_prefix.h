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

// A prefix shaped as a scan meets an installed machine: class servers, shared DLLs,
// uninstall entries and app paths that name files, and a bulk vendor tree, with the
// named files on the drive. The counts grow with `values`; at one million values there
// are 50 000 files and 236 500 values naming one of 62 500 distinct paths, half of which
// exist.
struct ScanPrefixShape {
    size_t values = 0;         // values in system.reg
    size_t files = 0;          // files written under drive_c
    size_t distinctPaths = 0;  // distinct paths the values name
    size_t pathValues = 0;     // values naming a path
    size_t classServers = 0;
    size_t sharedDlls = 0;
    size_t uninstallEntries = 0;
    size_t appPaths = 0;
};

ScanPrefixShape ScanShapeFor(size_t values);

// The text of that prefix's system.reg.
std::string ScanShapedSystemReg(const ScanPrefixShape& shape);

// Writes that prefix into `dir`, which is created. False with `error` set on failure.
bool WriteScanShapedPrefix(const std::filesystem::path& dir, const ScanPrefixShape& shape,
                           std::string* error);

}  // namespace hivewise::bench
