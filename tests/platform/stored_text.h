#pragma once

#include <string>
#include <string_view>

#include "platform/machine/text.h"
#include "platform/registry/registry_store.h"

namespace hivewise::testing {

// A string value written straight into a test's tree as the registry stores it: UTF-16
// with its terminator. Only for building a machine before the code under test sees it.
inline void SetStoredText(RegistryStore& store, RegKey* key, std::u16string_view name,
                          std::u16string_view text, uint32_t type = kRegSz) {
    std::u16string stored(text);
    stored.push_back(u'\0');
    store.SetValue(key, name, type, Utf16ToBytes(stored));
}

}  // namespace hivewise::testing
