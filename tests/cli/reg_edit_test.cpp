#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli/cli_fixture.h"

namespace hivewise::testing {
namespace {

const std::string kSystem =
    "\n[Software\\\\Test] 1700000000\n#time=1da1b2c3d4e5f60\n\"Name\"=\"Value\"\n"
    "\"Other\"=dword:00000007\n"
    "\n[Software\\\\Test\\\\Sub] 1700000000\n#time=1da1b2c3d4e5f60\n\"Inner\"=\"x\"\n";

class RegEditTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg(kSystem);
        prefix.UserReg("\n[Software] 1700000000\n#time=1da1b2c3d4e5f60\n");
        before = prefix.Read("system.reg");
        inode = prefix.Inode("system.reg");
    }
    // The value line that a fresh load of the prefix shows.
    std::string Shown(const std::string& key, const std::string& value) {
        CliRun run = prefix.Reg({"query", key, "/v", value});
        if (run.status != 0) return "missing: " + run.err;
        size_t start = run.out.find("    ");
        return run.out.substr(start + 4, run.out.find('\n', start) - start - 4);
    }
    bool Untouched() {
        return prefix.Read("system.reg") == before && prefix.Inode("system.reg") == inode;
    }
    CliPrefix prefix;
    std::string before;
    ino_t inode = 0;
};

TEST_F(RegEditTest, AddsEveryTypeAndTheSavedFileReloads) {
    const std::string key = "HKLM\\Software\\New\\Deeper";
    struct Case {
        std::vector<std::string> args;
        std::string shown;
    } cases[] = {
        {{"/v", "S", "/d", "plain text"}, "S    REG_SZ    plain text"},
        {{"/v", "E", "/t", "REG_EXPAND_SZ", "/d", "%TEMP%\\x"}, "E    REG_EXPAND_SZ    %TEMP%\\x"},
        {{"/v", "M", "/t", "reg_multi_sz", "/d", "one\\0two\\0"}, "M    REG_MULTI_SZ    one\\0two"},
        {{"/v", "M2", "/t", "REG_MULTI_SZ", "/s", ";", "/d", "a;b"}, "M2    REG_MULTI_SZ    a\\0b"},
        {{"/v", "D", "/t", "REG_DWORD", "/d", "4294967295"}, "D    REG_DWORD    0xffffffff"},
        {{"/v", "H", "/t", "REG_DWORD", "/d", "0x1F"}, "H    REG_DWORD    0x1f"},
        {{"/v", "Q", "/t", "REG_QWORD", "/d", "0x123456789a"}, "Q    REG_QWORD    0x123456789a"},
        {{"/v", "B", "/t", "REG_BINARY", "/d", "00ff7A"}, "B    REG_BINARY    00FF7A"},
        {{"/v", "N", "/t", "REG_NONE"}, "N    REG_NONE    "},
        {{"/ve", "/d", "default"}, "(Default)    REG_SZ    default"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"add", key};
        args.insert(args.end(), c.args.begin(), c.args.end());
        CliRun run = prefix.Reg(args);
        EXPECT_EQ(run.status, 0) << c.shown << ": " << run.err;
        EXPECT_EQ(run.out, "The operation completed successfully.\n");
    }
    for (const auto& c : cases) {
        std::string name = c.shown.substr(0, c.shown.find(' '));
        EXPECT_EQ(Shown(key, name == "(Default)" ? "" : name), c.shown);
    }
    // Strings are written as the registry editor writes them: UTF-16 with a terminator.
    std::string file = prefix.Read("system.reg");
    EXPECT_NE(file.find("\"S\"=\"plain text\"\n"), std::string::npos) << file;
    EXPECT_NE(file.find("\"D\"=dword:ffffffff\n"), std::string::npos) << file;
    EXPECT_NE(file.find("\"M\"=str(7):\"one\\0two\\0\"\n"), std::string::npos) << file;
    // The untouched key keeps its section byte for byte.
    EXPECT_NE(file.find("[Software\\\\Test\\\\Sub] 1700000000\n#time=1da1b2c3d4e5f60\n"),
              std::string::npos);
}

TEST_F(RegEditTest, BadDataOrTypeChangesNothing) {
    const std::vector<std::vector<std::string>> bad = {
        {"/v", "D", "/t", "REG_DWORD", "/d", "12x"},
        {"/v", "D", "/t", "REG_DWORD", "/d", "0x100000000"},
        {"/v", "Q", "/t", "REG_QWORD", "/d", "0x"},
        {"/v", "B", "/t", "REG_BINARY", "/d", "abc"},
        {"/v", "M", "/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"},
        {"/v", "X", "/t", "REG_WHATEVER"},
        {"/v", "X", "/s", ";", "/d", "a;b"},
    };
    for (const auto& args : bad) {
        std::vector<std::string> full{"add", "HKLM\\Software\\Test"};
        full.insert(full.end(), args.begin(), args.end());
        full.push_back("/f");
        EXPECT_TRUE(FailedWithOneLine(prefix.Reg(full))) << args.back();
    }
    EXPECT_TRUE(Untouched());
}

TEST_F(RegEditTest, OverwriteAsksAndEndOfInputMeansNo) {
    const std::vector<std::string> add{"add", "HKLM\\Software\\Test", "/v", "name", "/d", "New"};
    const std::string question = "Value name exists, overwrite(Yes/No)? ";
    CliRun eof = prefix.Reg(add, "");
    EXPECT_EQ(eof.err.rfind(question, 0), 0u) << eof.err;
    EXPECT_TRUE(FailedWithOneLine(WithoutQuestion(eof, question)));
    EXPECT_EQ(eof.out, "");
    CliRun no = prefix.Reg(add, "maybe\nno\n");
    EXPECT_TRUE(FailedWithOneLine(WithoutQuestion(no, question)));
    EXPECT_TRUE(Untouched());

    CliRun yes = prefix.Reg(add, "y\n");
    EXPECT_EQ(yes.status, 0) << yes.err;
    // The stored name keeps its case; only the data changes.
    EXPECT_EQ(Shown("HKLM\\Software\\Test", "Name"), "Name    REG_SZ    New");
}

TEST_F(RegEditTest, NothingIsWrittenWhenNothingChanged) {
    // The same data again, a key that exists, a query, /va on a key without values.
    EXPECT_EQ(prefix.Reg({"add", "HKLM\\Software\\Test", "/v", "Name", "/d", "Value", "/f"}).status,
              0);
    EXPECT_EQ(prefix.Reg({"add", "hklm\\software\\test\\sub"}).status, 0);
    EXPECT_EQ(prefix.Reg({"query", "HKLM\\Software\\Test", "/s"}).status, 0);
    EXPECT_TRUE(
        FailedWithOneLine(prefix.Reg({"delete", "HKLM\\Software\\Test", "/v", "No", "/f"})));
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"delete", "HKLM\\Software\\Gone", "/f"})));
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"delete", "HKLM\\Software\\Test"}, "n\n")));
    EXPECT_TRUE(Untouched());
    EXPECT_EQ(prefix.Reg({"add", "HKLM\\Software\\Test\\Sub\\Leaf", "/f"}).status, 0);
    EXPECT_NE(prefix.Read("system.reg"), before);
    ino_t leafInode = prefix.Inode("system.reg");
    EXPECT_EQ(prefix.Reg({"delete", "HKLM\\Software\\Test\\Sub\\Leaf", "/va", "/f"}).status, 0);
    EXPECT_EQ(prefix.Inode("system.reg"), leafInode);
}

TEST_F(RegEditTest, DeletesValueAllValuesAndKeys) {
    CliRun value = prefix.Reg({"delete", "HKLM\\Software\\Test", "/v", "other"}, "yes\n");
    EXPECT_EQ(value.status, 0) << value.err;
    EXPECT_EQ(value.err, "Delete the registry value other (Yes/No)? ");
    EXPECT_EQ(value.out, "The operation completed successfully.\n");
    EXPECT_EQ(Shown("HKLM\\Software\\Test", "Other").rfind("missing", 0), 0u);
    EXPECT_EQ(Shown("HKLM\\Software\\Test", "Name"), "Name    REG_SZ    Value");

    EXPECT_EQ(prefix.Reg({"add", "HKLM\\Software\\Test", "/ve", "/d", "d", "/f"}).status, 0);
    EXPECT_EQ(prefix.Reg({"delete", "HKLM\\Software\\Test", "/ve", "/f"}).status, 0);
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"delete", "HKLM\\Software\\Test", "/ve", "/f"})));

    EXPECT_EQ(prefix.Reg({"delete", "HKLM\\Software\\Test", "/va", "/f"}).status, 0);
    EXPECT_EQ(prefix.Reg({"query", "HKLM\\Software\\Test"}).out,
              "\nHKEY_LOCAL_MACHINE\\Software\\Test\n\nHKEY_LOCAL_MACHINE\\Software\\Test\\Sub\n");

    CliRun key = prefix.Reg({"delete", "HKLM\\Software\\Test"}, "y\n");
    EXPECT_EQ(key.status, 0) << key.err;
    EXPECT_EQ(
        key.err.rfind("Permanently delete the registry key HKEY_LOCAL_MACHINE\\Software\\Test "
                      "(Yes/No)? ",
                      0),
        0u);
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"query", "HKLM\\Software\\Test\\Sub"})));
    EXPECT_EQ(prefix.Read("system.reg").find("Test"), std::string::npos);
}

TEST_F(RegEditTest, NonAsciiNamesAndDataRoundTrip) {
    CliRun add =
        prefix.Reg({"add", "HKCU\\Software\\Ünïcødé ключ", "/v", "名前", "/d", "データ €", "/f"});
    EXPECT_EQ(add.status, 0) << add.err;
    EXPECT_EQ(Shown("HKCU\\Software\\ÜNÏCØDÉ КЛЮЧ", "名前"), "名前    REG_SZ    データ €");
    CliRun list = prefix.Reg({"query", "HKCU\\Software"});
    EXPECT_NE(list.out.find("HKEY_CURRENT_USER\\Software\\Ünïcødé ключ\n"), std::string::npos)
        << list.out;
    EXPECT_EQ(prefix.Reg({"delete", "HKCU\\Software\\ünïcødé ключ", "/v", "名前", "/f"}).status, 0);
    EXPECT_EQ(Shown("HKCU\\Software\\Ünïcødé ключ", "名前").rfind("missing", 0), 0u);
}

TEST_F(RegEditTest, ClassesRootIsTheMachineClassesKey) {
    EXPECT_EQ(prefix.Reg({"add", "HKCR\\.hwtest", "/ve", "/d", "hwfile", "/f"}).status, 0);
    EXPECT_EQ(Shown("HKLM\\Software\\Classes\\.hwtest", ""), "(Default)    REG_SZ    hwfile");
    EXPECT_EQ(prefix.Reg({"delete", "HKEY_CLASSES_ROOT\\.HWTEST", "/f"}).status, 0);
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"query", "HKLM\\Software\\Classes\\.hwtest"})));
}

TEST_F(RegEditTest, RefusesWhatCouldNotBeSaved) {
    // Whole registry files and keys outside them; roots hold no values of their own.
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"delete", "HKU\\.Default", "/f"})));
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"delete", "HKU\\S-1-5-21-0-0-0-1000", "/f"})));
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"delete", "HKCU", "/f"})));
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"add", "HKU\\S-1-5-21-9", "/f"})));
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"add", "HKLM", "/v", "x", "/d", "1", "/f"})));
    EXPECT_TRUE(Untouched());
    EXPECT_FALSE(std::filesystem::exists(prefix.Dir() / "userdef.reg"));
}

// What reg add may make, reg delete may remove: new keys directly under
// HKEY_LOCAL_MACHINE or HKEY_USERS are refused as Windows refuses them.
TEST_F(RegEditTest, KeysThatCouldNotBeDeletedAreNotMade) {
    for (std::vector<std::string> args : {std::vector<std::string>{"add", "HKLM\\X"},
                                          {"add", "HKLM\\X\\Y", "/v", "a", "/d", "b", "/f"},
                                          {"add", "HKEY_USERS\\X"}}) {
        CliRun run = prefix.Reg(args);
        EXPECT_EQ(run.status, 1) << args[1];
        EXPECT_EQ(run.err, "ERROR: Access is denied.\n") << args[1];
    }
    EXPECT_TRUE(Untouched());
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"delete", "HKLM\\X", "/f"})));
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"query", "HKLM\\X"})));
    // One level down they are made and deleted again; the top-level key itself stays.
    EXPECT_EQ(prefix.Reg({"add", "HKLM\\Software\\New\\Sub"}).status, 0);
    EXPECT_EQ(prefix.Reg({"delete", "HKLM\\Software\\New", "/f"}).status, 0);
    CliRun top = prefix.Reg({"delete", "HKLM\\Software", "/f"});
    EXPECT_EQ(top.err, "ERROR: Access is denied.\n");
    EXPECT_EQ(prefix.Read("system.reg").find("New"), std::string::npos);
}

// While Wine's server runs for the prefix, saving is refused and reported.
TEST_F(RegEditTest, RefusedSaveIsAFailure) {
    struct stat st {};
    ASSERT_EQ(::stat(prefix.Dir().c_str(), &st), 0);
    char dir[128];
    std::snprintf(dir, sizeof dir, "/tmp/.wine-%u/server-%llx-%llx",
                  static_cast<unsigned>(::getuid()), static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::filesystem::create_directories(dir);
    std::string lockFile = std::string(dir) + "/lock";
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    pid_t server = ::fork();
    ASSERT_GE(server, 0);
    if (server == 0) {
        // Only the parent's end may keep `release` open, so that closing it wakes us.
        ::close(release[1]);
        ::close(ready[0]);
        int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT, 0600);
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        char c = (fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0) ? '1' : '0';
        (void)!::write(ready[1], &c, 1);
        (void)!::read(release[0], &c, 1);
        ::_exit(0);
    }
    ::close(release[0]);
    ::close(ready[1]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    CliRun run = prefix.Reg({"add", "HKLM\\Software\\Test", "/v", "X", "/d", "1", "/f"});
    ::close(release[1]);
    ::close(ready[0]);
    ::waitpid(server, nullptr, 0);
    std::filesystem::remove_all(dir);
    std::error_code ec;
    std::filesystem::remove(std::filesystem::path(dir).parent_path(), ec);  // only when empty
    ASSERT_EQ(c, '1');
    EXPECT_TRUE(FailedWithOneLine(run, 4));  // Wine runs: its own status
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(Untouched());
}

}  // namespace
}  // namespace hivewise::testing
