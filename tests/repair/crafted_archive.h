#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// Archives as an attacker writes them: headers that declare less than an entry inflates to.
namespace hivewise::testing {

// Rewrites the uncompressed size that the central directory and the local header of
// `entryName` declare; the entry's data stays as it is.
inline bool DeclareSize(const std::filesystem::path& archive, const std::string& entryName,
                        uint32_t size) {
    std::string bytes;
    {
        std::ifstream in(archive, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    auto u16 = [&](size_t at) {
        return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) |
               static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
    };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    auto put32 = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<char>(value >> (8 * i));
    };
    bool found = false;
    const std::string central("PK\x01\x02", 4);
    for (size_t at = bytes.find(central); at != std::string::npos;
         at = bytes.find(central, at + 4)) {
        if (at + 46 > bytes.size()) break;
        uint32_t nameLength = u16(at + 28);
        if (bytes.compare(at + 46, nameLength, entryName) != 0) continue;
        put32(at + 24, size);
        size_t local = u32(at + 42);
        if (local + 30 > bytes.size()) return false;
        put32(local + 22, size);
        found = true;
    }
    std::ofstream out(archive, std::ios::binary | std::ios::trunc);
    out << bytes;
    return found && out.good();
}

}  // namespace hivewise::testing
