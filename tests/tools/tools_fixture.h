#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine/machine.h"
#include "platform/machine/text.h"
#include "platform/registry/registry_access.h"
#include "platform/stored_text.h"
#include "platform/temp_prefix.h"

namespace hivewise::testing {

// A prefix with the keys the managers read, built through the store so that any type
// and any link can be set up.
class ToolsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg("\n[Software\\\\Classes] 1700000000\n");
        prefix.UserReg("\n[Software\\\\Hivewise] 1700000000\n");
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
        registry = std::make_unique<RegistryAccess>(*machine);
    }

    RegKey* Key(RegKey* base, std::u16string_view path) {
        return machine->Registry().Create(base, path);
    }
    RegKey* Lm(std::u16string_view path) { return Key(machine->LocalMachine(), path); }
    RegKey* Cu(std::u16string_view path) { return Key(machine->CurrentUser(), path); }
    RegKey* Find(RegKey* base, std::u16string_view path) {
        return machine->Registry().Find(base, path);
    }
    void Set(RegKey* key, std::u16string_view name, uint32_t type, std::string bytes) {
        machine->Registry().SetValue(key, name, type, std::move(bytes));
    }
    void SetText(RegKey* key, std::u16string_view name, std::u16string_view text,
                 uint32_t type = kRegSz) {
        SetStoredText(machine->Registry(), key, name, text, type);
    }
    std::string Text(RegKey* key, std::u16string_view name) {
        const RegValue* value = key ? key->FindValue(name) : nullptr;
        if (!value) return "<missing>";
        std::u16string text = BytesToUtf16(value->data);
        if (size_t nul = text.find(u'\0'); nul != std::u16string::npos) text.resize(nul);
        return Utf16ToUtf8(text);
    }
    // Turns `key` into a link to a key that does not exist, so nothing can be made below it.
    void BreakWithLink(RegKey* key) {
        machine->Registry().SetLink(key, true);
        Set(key, u"SymbolicLinkValue", kRegLink,
            Utf16ToBytes(u"\\Registry\\Machine\\Software\\Nowhere\\At\\All"));
    }

    TempPrefix prefix;
    std::unique_ptr<Machine> machine;
    std::unique_ptr<RegistryAccess> registry;
};

}  // namespace hivewise::testing
