#pragma once

#include <string>
#include <string_view>

#include "platform/machine/machine.h"
#include "repair/backup_records.h"

// What a fix backup's record may put back. An archive is outside input (its password is
// the format's own), so a record is trusted only where it names what a repair could have
// removed from this machine, and only where it came from.
namespace hivewise {

// Whether `item` may be restored into `machine`:
// - a file: a shortcut (".lnk") on the system drive whose host path, links resolved, lies
//   inside the prefix's folder (its folder must exist);
// - a host file: one of the files Wine's menu builder writes in the user's desktop
//   folders (IsMenuBuilderFile of the current folders), reached through no link below
//   them and no link itself; the one place a restore writes outside the prefix;
// - a value: its key under HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT or
//   HKEY_USERS, by the long name the records use;
// - a key: the same roots, and its export (`exportBytes`, the archive's entry) names no
//   key but that one and those below it, sets no registry link, and reaches none of
//   those keys through a link the registry already has below it.
bool MayRestore(Machine& machine, const BackupItem& item, std::string_view exportBytes = {});

}  // namespace hivewise
