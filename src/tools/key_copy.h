#pragma once

#include <string_view>

#include "platform/registry/registry_access.h"

// Exact copies of registry keys and values, for parking removed entries and putting them
// back. Names, types and data bytes are copied as stored, not through the ANSI view.
namespace hivewise {

// The deepest key tree copied; deeper trees fail with kErrorKeyTreeTooDeep.
constexpr int kMaxCopyDepth = 512;
// ERROR_CANTWRITE: the copy could not be written completely.
constexpr long kErrorKeyTreeTooDeep = 1013;

// Copies the tree of `source` to `path` below `destinationParent`, creating the missing
// keys. Sub-keys that are links are copied as links (with their link value), never
// followed. Returns 0, or the error code of the first failure; what was copied before a
// failure stays in place. A destination inside the source is refused.
long CopyKeyTree(RegistryAccess& registry, RegHandle source, RegHandle destinationParent,
                 std::string_view path);

// Copies one value (type and bytes) from `fromPath` to `toPath` (created when missing),
// named `toName` there. False when the source value or key is missing.
bool CopyValueExact(RegistryAccess& registry, RegHandle fromRoot, std::string_view fromPath,
                    std::string_view fromName, RegHandle toRoot, std::string_view toPath,
                    std::string_view toName);

// Whether the value `nameA` of `pathA` and the value `nameB` of `pathB` both exist with
// the same type and bytes.
bool SameValueExact(RegistryAccess& registry, RegHandle rootA, std::string_view pathA,
                    std::string_view nameA, RegHandle rootB, std::string_view pathB,
                    std::string_view nameB);

// Whether the two key trees both exist and hold the same: values (names, types, bytes),
// class names, links and sub-keys, to kMaxCopyDepth levels.
bool SameKeyTree(RegistryAccess& registry, RegHandle rootA, std::string_view pathA, RegHandle rootB,
                 std::string_view pathB);

}  // namespace hivewise
