#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "platform/files/file_system_access.h"

// The archive side of a full backup: names, packing the work folder, unpacking safely.
namespace hivewise {

// The archive of `folder` named after `when`, or, when a backup of the same second is there
// already, the first free name with a suffix that the date display still reads; empty when
// none is free.
std::string UnusedArchivePath(FileSystemAccess& files, const std::string& folder,
                              const std::tm& when);
// Every file of `folder` but the archive itself, deflated, without a password.
bool PackFolder(FileSystemAccess& files, const std::string& folder, const std::string& archive);
// Every entry of the archive into `folder`; false, with nothing of a damaged archive
// left behind, when any entry cannot be read, would land outside the folder or is larger
// than `entryLimit` (a saved hive is never larger than the machine's registry allows).
bool UnpackArchive(FileSystemAccess& files, const std::string& archive, const std::string& folder,
                   uint64_t entryLimit);

}  // namespace hivewise
