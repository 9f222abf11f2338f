#include "repair/exact_value.h"

#include "platform/machine/text.h"
#include "platform/registry/reg_file.h"
#include "platform/registry/registry_access.h"

namespace hivewise {
namespace {

RegKey* FindKey(Machine& machine, std::string_view keyPath) {
    auto path = ParseRegPath(machine, AnsiToUtf16(keyPath));
    if (!path || !path->base) return nullptr;
    RegKey* key = machine.Registry().Find(path->base, path->lookup);
    return key && !key->IsDeleted() ? key : nullptr;
}

}  // namespace

std::optional<ExactValue> ReadExactValue(Machine& machine, std::string_view keyPath,
                                         std::string_view valueName) {
    RegKey* key = FindKey(machine, keyPath);
    if (!key) return std::nullopt;
    // The name as a scan enumerated it: one the code page cannot hold is still found.
    const RegValue* value = FindValueByAnsiName(key->Values(), valueName);
    if (!value) return std::nullopt;
    return ExactValue{value->name, value->type, value->data};
}

bool WriteExactValue(Machine& machine, std::string_view keyPath, const ExactValue& value) {
    RegKey* key = FindKey(machine, keyPath);
    if (!key) return false;
    machine.Registry().SetValue(key, value.name, value.type, value.data);
    return true;
}

}  // namespace hivewise
