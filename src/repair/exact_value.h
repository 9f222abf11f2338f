#pragma once

#include <optional>
#include <string_view>

#include "platform/machine/machine.h"
#include "repair/backup_records.h"

// A registry value read and written exactly as stored (type, bytes, name), below the
// ANSI view of RegistryAccess, so that an undo puts back what was there.
namespace hivewise {

// The value `valueName` (ANSI; empty: the default value) of the key `keyPath` (long or
// short root name); nothing when the key or the value does not exist.
std::optional<ExactValue> ReadExactValue(Machine& machine, std::string_view keyPath,
                                         std::string_view valueName);
// Sets the value in the existing key (a missing key is not created); false when the key
// does not exist.
bool WriteExactValue(Machine& machine, std::string_view keyPath, const ExactValue& value);

}  // namespace hivewise
