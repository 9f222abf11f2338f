#include "platform/machine/shell_link_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace hivewise {
namespace {

uint32_t U32(const std::string& b, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<uint8_t>(b.at(at + i));
    return v;
}
uint16_t U16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b.at(at)) |
                                 (static_cast<uint8_t>(b.at(at + 1)) << 8));
}

// The fields a reader takes from the file, read by the format's own offsets.
struct ParsedLink {
    uint32_t flags = 0;
    uint32_t attributes = 0;
    uint32_t fileSize = 0;
    int32_t iconIndex = 0;
    uint32_t showCommand = 0;
    uint32_t driveType = 0;
    uint32_t serial = 0;
    std::string localBasePath;
    std::string commonPathSuffix;
    std::string strings[5];  // name, relative path, working dir, arguments, icon location
    size_t end = 0;          // offset after the terminal block
};

ParsedLink Parse(const std::string& b) {
    ParsedLink p;
    p.flags = U32(b, 20);
    p.attributes = U32(b, 24);
    p.fileSize = U32(b, 52);
    p.iconIndex = static_cast<int32_t>(U32(b, 56));
    p.showCommand = U32(b, 60);
    size_t at = 76;
    if (p.flags & 0x01) at += 2 + U16(b, at);  // an ID list, which the writer never adds
    if (p.flags & 0x02) {
        const size_t info = at;
        const uint32_t size = U32(b, info);
        const size_t volume = info + U32(b, info + 12);
        p.driveType = U32(b, volume + 4);
        p.serial = U32(b, volume + 8);
        p.localBasePath = std::string(b.c_str() + info + U32(b, info + 16));
        p.commonPathSuffix = std::string(b.c_str() + info + U32(b, info + 24));
        at += size;
    }
    const bool unicode = p.flags & 0x80;
    const uint32_t bits[5] = {0x04, 0x08, 0x10, 0x20, 0x40};
    for (int i = 0; i < 5; ++i) {
        if (!(p.flags & bits[i])) continue;
        uint16_t count = U16(b, at);
        at += 2;
        for (uint16_t c = 0; c < count; ++c) {
            // The test texts are Latin-1, so one UTF-16 unit is one character.
            p.strings[i].push_back(static_cast<char>(b.at(at)));
            at += unicode ? 2 : 1;
        }
    }
    EXPECT_EQ(U32(b, at), 0u) << "terminal block";
    p.end = at + 4;
    return p;
}

ShellLinkFields FullSpec() {
    ShellLinkFields shortcut;
    shortcut.targetPath = "C:\\Program Files\\Northwind\\Paint\\nwpaint.exe";
    shortcut.description = "Northwind Paint \xE9t\xE9";  // Windows-1252 accents
    shortcut.relativePath = "..\\..\\Program Files\\Northwind\\Paint\\nwpaint.exe";
    shortcut.workingDirectory = "C:\\Program Files\\Northwind\\Paint";
    shortcut.arguments = "/new \"%1\"";
    shortcut.iconLocation = "C:\\Program Files\\Northwind\\Paint\\nwpaint.exe";
    shortcut.iconIndex = 2;
    shortcut.fileSize = 4096;
    shortcut.driveSerial = 0x12345678;
    return shortcut;
}

TEST(ShellLinkWriter, HeaderLinkInfoAndStringsReadBack) {
    for (bool unicode : {true, false}) {
        SCOPED_TRACE(unicode ? "unicode" : "ansi");
        ShellLinkFields shortcut = FullSpec();
        shortcut.unicodeStrings = unicode;
        std::string bytes = BuildShellLink(shortcut);
        ASSERT_GT(bytes.size(), 76u);
        EXPECT_EQ(U32(bytes, 0), 0x4Cu);
        const unsigned char clsid[16] = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0,
                                         0xC0, 0,    0,    0, 0, 0, 0, 0x46};
        EXPECT_EQ(bytes.substr(4, 16), std::string(reinterpret_cast<const char*>(clsid), 16));

        ParsedLink p = Parse(bytes);
        EXPECT_EQ(p.flags, 0x7Eu | (unicode ? 0x80u : 0u));
        EXPECT_EQ(p.attributes, 0x20u);
        EXPECT_EQ(p.fileSize, 4096u);
        EXPECT_EQ(p.iconIndex, 2);
        EXPECT_EQ(p.showCommand, 1u);
        EXPECT_EQ(p.driveType, 3u);
        EXPECT_EQ(p.serial, 0x12345678u);
        EXPECT_EQ(p.localBasePath, shortcut.targetPath);
        EXPECT_EQ(p.commonPathSuffix, "");
        EXPECT_EQ(p.strings[0], shortcut.description);
        EXPECT_EQ(p.strings[1], shortcut.relativePath);
        EXPECT_EQ(p.strings[2], shortcut.workingDirectory);
        EXPECT_EQ(p.strings[3], shortcut.arguments);
        EXPECT_EQ(p.strings[4], shortcut.iconLocation);
        EXPECT_EQ(p.end, bytes.size()) << "nothing after the terminal block";
    }
}

TEST(ShellLinkWriter, OnlyGivenStringsAreFlaggedAndLinkInfoSizesAgree) {
    ShellLinkFields shortcut;
    shortcut.targetPath = "D:\\x.exe";
    shortcut.unicodeStrings = false;
    std::string bytes = BuildShellLink(shortcut);
    ParsedLink p = Parse(bytes);
    EXPECT_EQ(p.flags, 0x02u);
    EXPECT_EQ(p.localBasePath, "D:\\x.exe");
    // Header, LinkInfo (28-byte header, 17-byte volume, path and empty suffix), terminal.
    EXPECT_EQ(bytes.size(), 76u + 28u + 17u + 9u + 1u + 4u);
    EXPECT_EQ(U32(bytes, 76), bytes.size() - 76u - 4u);
}

TEST(ShellLinkWriter, RefusesWhatTheFormatCannotHold) {
    ShellLinkFields shortcut = FullSpec();
    for (const char* target :
         {"", "nwpaint.exe", "C:nwpaint.exe", "\\\\server\\share\\x.exe", "1:\\x.exe"}) {
        shortcut.targetPath = target;
        EXPECT_EQ(BuildShellLink(shortcut), "") << target;
    }
    shortcut.targetPath =
        "C:\\" + std::string(256, 'a');  // 259 characters: the most MAX_PATH holds
    EXPECT_NE(BuildShellLink(shortcut), "");
    shortcut.targetPath += "a";
    EXPECT_EQ(BuildShellLink(shortcut), "");

    shortcut = FullSpec();
    shortcut.arguments = std::string("a\0b", 3);
    EXPECT_EQ(BuildShellLink(shortcut), "");
    shortcut = FullSpec();
    shortcut.description = std::string(0x10000, 'x');
    EXPECT_EQ(BuildShellLink(shortcut), "");
}

// A reader nobody here wrote must see the same shortcut.
TEST(ShellLinkWriter, LnkinfoReadsTheLocalPath) {
    if (std::system("command -v lnkinfo >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "lnkinfo is not installed (Debian package liblnk-utils)";
    }
    namespace fs = std::filesystem;
    fs::path file =
        fs::temp_directory_path() / ("hivewise-link-" + std::to_string(::getpid()) + ".lnk");
    {
        std::ofstream out(file, std::ios::binary);
        out << BuildShellLink(FullSpec());
    }
    std::string command = "lnkinfo '" + file.string() + "' 2>&1";
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, n);
        ::pclose(pipe);
    }
    fs::remove(file);
    EXPECT_NE(output.find("C:\\Program Files\\Northwind\\Paint\\nwpaint.exe"), std::string::npos)
        << output;
    EXPECT_NE(output.find("Fixed"), std::string::npos) << output;
    EXPECT_NE(output.find("/new \"%1\""), std::string::npos) << output;
}

}  // namespace
}  // namespace hivewise
