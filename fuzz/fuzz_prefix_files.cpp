// A prefix loaded from bytes: the input is one of its three registry files (its length
// says which, so that real files serve as seeds unchanged), parsed, loaded and written.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_temp_prefix.h"
#include "platform/machine/machine.h"
#include "platform/machine/text.h"
#include "platform/registry/hive_file.h"
#include "platform/registry/hive_values.h"
#include "platform/registry/plain_value_line.h"

using namespace hivewise;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // The parser and the writer alone: what was read must be written without harm.
    HiveParseError error;
    auto parsed = ParseHive(bytes, &error, SIZE_MAX);
    if (parsed) {
        std::string again = WriteHive(*parsed->base, parsed->header, parsed->trailer);
        HiveParseError second;
        if (!ParseHive(again, &second)) __builtin_trap();  // our own output must parse
    }
    // Read on two threads (as large files are), the same keys or the same fault.
    HiveParseError splitError;
    auto split = ParseHive(bytes, &splitError, 0);
    if (!parsed != !split) __builtin_trap();
    if (!parsed && (error.line != splitError.line || error.message != splitError.message))
        __builtin_trap();
    if (parsed) {
        for (bool reuse : {true, false}) {
            if (WriteHive(*parsed->base, parsed->header, parsed->trailer, reuse) !=
                WriteHive(*split->base, split->header, split->trailer, reuse))
                __builtin_trap();
        }
    }

    // A line the quick value check passes, the full check passes too, over the same lines.
    for (size_t at = 0; at < size;) {
        int lines = 0;
        size_t end = PlainValueLineEnd(bytes, at, &lines);
        if (end != std::string_view::npos) {
            LineReader reader(bytes.substr(at));
            std::string_view line;
            reader.Next(line);
            HiveParseError lineError;
            ValueReader values(reader, &lineError);
            if (!values.Read(line, nullptr) || at + reader.Position() != end ||
                reader.Number() != lines)
                __builtin_trap();
        }
        // What the plain decoder takes, the full reader decodes alike.
        RegValue plain;
        const size_t decodedEnd = DecodePlainValueLine(bytes, at, &plain);
        if (decodedEnd != std::string_view::npos) {
            LineReader reader(bytes.substr(at));
            std::string_view line;
            reader.Next(line);
            ValueReader values(reader, nullptr);
            RegValue full;
            if (!values.Read(line, &full) || at + reader.Position() != decodedEnd ||
                full.name != plain.name || full.type != plain.type || full.data != plain.data)
                __builtin_trap();
        }
        // And the same line decoded straight as ANSI text is that value narrowed.
        PlainValue ansi;
        if (DecodePlainValueLine(bytes, at, &ansi) != decodedEnd) __builtin_trap();
        if (decodedEnd != std::string_view::npos) {
            std::string name, text;
            Utf16ToAnsiInto(plain.name, name);
            if (plain.type == kRegSz) Utf16BytesToAnsiInto(plain.data, text);
            if (ansi.name != name || ansi.type != plain.type ||
                ansi.data != (plain.type == kRegSz ? text : plain.data))
                __builtin_trap();
        }
        size_t next = bytes.find('\n', at);
        if (next == std::string_view::npos) break;
        at = next + 1;
    }

    // The whole load, with the other two files valid.
    const char* files[] = {"system.reg", "user.reg", "userdef.reg"};
    size_t which = size % 3;
    fuzz::PutFile("system.reg", which == 0 ? bytes : fuzz::kSystemReg);
    fuzz::PutFile("user.reg", which == 1 ? bytes : fuzz::kUserReg);
    if (which == 2) {
        fuzz::PutFile(files[2], bytes);
    } else {
        fuzz::RemoveFile(files[2]);
    }
    auto loaded = Machine::Load(fuzz::ScratchPrefix(), {.lockPrefix = false, .readOnly = true});
    if (loaded.machine) loaded.machine->HasUnsavedChanges();
    return 0;
}
