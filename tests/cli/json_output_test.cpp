// What each command prints with --json, read back with a strict JSON reader: one object
// on stdout, the same error object for every failure, the exit statuses, questions on
// stderr, and no control character of the prefix's texts reaching the terminal.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/cli_fixture.h"
#include "cli/exit_status.h"
#include "cli/json_check.h"
#include "platform/fake_home.h"
#include "update/tiny_http_server.h"

namespace hivewise::testing {
namespace {

using namespace hivewise::cli;
using Kind = JsonValue::Kind;
namespace fs = std::filesystem;

constexpr const char* kSystem = R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\gone.exe] 1700000000
@="C:\\Program Files\\Gone\\gone.exe"

[Software\\Microsoft\\Windows\\CurrentVersion\\Run] 1700000000
"Tool"="C:\\Tool\\tool.exe /min"

[Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs] 1700000000
"C:\\Gone\\shared.dll"=dword:00000007
)";
constexpr const char* kShared = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

class JsonOutputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(prefix.Dir() / "drive_c" / "windows" / "system32");
        fs::create_directories(prefix.Dir() / "dosdevices");
        fs::create_directory_symlink("../drive_c", prefix.Dir() / "dosdevices" / "c:");
        prefix.SystemReg(kSystem);
        prefix.UserReg("\n[Software] 1700000000\n");
    }
    CliRun Cli(std::vector<std::string> args, const std::string& input = "") {
        args.insert(args.begin(), {"--prefix", prefix.Dir().string()});
        return CliPrefix::Run(args, input);
    }
    // The one object a run printed; a failed expectation when stdout holds anything else.
    static JsonValue Object(const CliRun& run) {
        std::optional<JsonValue> value = JsonReader::Parse(run.out);
        EXPECT_TRUE(value && value->Is(Kind::Object)) << "not one JSON object: " << run.out;
        return value.value_or(JsonValue{});
    }
    // The keys of an object, in order: a shape that changes shows here.
    static std::vector<std::string> Keys(const JsonValue& value) { return value.keys; }

    CliPrefix prefix;
};

// {"error": {"status": N, "message": "..."}} and nothing else; the message is on stderr.
::testing::AssertionResult ErrorObject(const CliRun& run, int status) {
    std::optional<JsonValue> value = JsonReader::Parse(run.out);
    if (!value || !value->Is(Kind::Object) || value->keys != std::vector<std::string>{"error"} ||
        (*value)["error"].keys != std::vector<std::string>{"status", "message"} ||
        (*value)["error"]["status"].number != status || run.status != status) {
        return ::testing::AssertionFailure()
               << "status " << run.status << ", stdout " << run.out << ", stderr " << run.err;
    }
    const std::string& message = (*value)["error"]["message"].text;
    std::string firstLine = message.substr(0, message.find('\n'));
    if (firstLine.empty() || run.err.find(firstLine) == std::string::npos) {
        return ::testing::AssertionFailure()
               << "message \"" << message << "\" not on stderr " << run.err;
    }
    return ::testing::AssertionSuccess();
}

TEST_F(JsonOutputTest, RepairThenBackupsListShowRestoreRemove) {
    CliRun run = Cli({"repair", "--sections", "4,6", "--yes", "--json"});
    ASSERT_EQ(run.status, kExitDone) << run.err;
    JsonValue repair = Object(run);
    EXPECT_EQ(Keys(repair), (std::vector<std::string>{"problemsFound", "aborted", "archive",
                                                      "removed", "queued", "failed"}));
    EXPECT_EQ(repair["problemsFound"].number, 2);
    EXPECT_FALSE(repair["aborted"].boolean);
    EXPECT_EQ(repair["removed"].number, 2);
    EXPECT_TRUE(repair["failed"].Is(Kind::Array) && repair["failed"].items.empty());
    ASSERT_TRUE(repair["archive"].Is(Kind::String));
    // The window's messages stay off stdout.
    EXPECT_NE(run.err.find("Selected Problems Fixed"), std::string::npos) << run.err;

    JsonValue list = Object(Cli({"backups", "list", "--json"}));
    ASSERT_EQ(list["archives"].items.size(), 1u);
    const std::string archive = list["archives"].items[0]["file"].text;
    EXPECT_NE(repair["archive"].text.find(archive), std::string::npos);
    EXPECT_EQ(list["archives"].items[0].keys, (std::vector<std::string>{"file", "date"}));

    JsonValue show = Object(Cli({"backups", "show", archive, "--json"}));
    EXPECT_EQ(show["archive"].text, archive);
    ASSERT_EQ(show["items"].items.size(), 2u);
    EXPECT_EQ(show["items"].items[1]["number"].number, 2);
    EXPECT_EQ(show["items"].items[0].keys, (std::vector<std::string>{"number", "kind", "path"}));

    // The shared-DLL value's key is gone: that item cannot go back, the other can. Done in
    // part: status 3, the object names the failure, and so does stderr.
    ASSERT_EQ(Cli({"reg", "delete", kShared, "/f"}).status, 0);
    run = Cli({"backups", "restore", archive, "--all", "--yes", "--json"});
    EXPECT_EQ(run.status, kExitPartial) << run.err;
    JsonValue restore = Object(run);
    EXPECT_EQ(restore["restored"].number, 1);
    ASSERT_EQ(restore["failed"].items.size(), 1u);
    EXPECT_NE(run.err.find("Could not restore"), std::string::npos) << run.err;

    JsonValue removed = Object(Cli({"backups", "remove", archive, "--yes", "--json"}));
    EXPECT_EQ(removed["removed"].text, archive);
    EXPECT_TRUE(Object(Cli({"backups", "list", "--json"}))["archives"].items.empty());
}

TEST_F(JsonOutputTest, ScanKeepsItsShape) {
    CliRun run = Cli({"scan", "--sections", "4", "--json"});
    ASSERT_EQ(run.status, kExitDone) << run.err;
    EXPECT_EQ(run.out.rfind("{\"aborted\": false, \"total\": 1, \"sections\": [{\"id\": 4, ", 0),
              0u)
        << run.out;
    JsonValue scan = Object(run);
    EXPECT_EQ(Keys(scan), (std::vector<std::string>{"aborted", "total", "sections", "findings"}));
    EXPECT_EQ(scan["findings"].items.size(), 1u);
}

TEST_F(JsonOutputTest, FullBackupCreateListRestore) {
    JsonValue created = Object(Cli({"fullbackup", "create", "--json"}));
    EXPECT_EQ(Keys(created), (std::vector<std::string>{"archive", "message"}));
    JsonValue list = Object(Cli({"fullbackup", "list", "--json"}));
    ASSERT_EQ(list["archives"].items.size(), 1u);
    EXPECT_EQ(list["archives"].items[0]["file"].text, created["archive"].text);
    CliRun run = Cli({"fullbackup", "restore", created["archive"].text, "--yes", "--json"});
    EXPECT_EQ(run.status, kExitDone) << run.err;
    EXPECT_EQ(Object(run)["archive"].text, created["archive"].text);
}

TEST_F(JsonOutputTest, ToolsListRemoveParkedRestore) {
    JsonValue list = Object(Cli({"startup", "list", "--json"}));
    ASSERT_EQ(list["entries"].items.size(), 1u);
    EXPECT_EQ(list["entries"].items[0].keys,
              (std::vector<std::string>{"name", "command", "location"}));
    EXPECT_EQ(list["entries"].items[0]["command"].text, "C:\\Tool\\tool.exe /min");
    JsonValue removed = Object(Cli({"startup", "remove", "Tool", "--json"}));
    EXPECT_EQ(removed["removed"].number, 1);
    EXPECT_EQ(removed["failed"].number, 0);
    JsonValue parked = Object(Cli({"startup", "parked", "--json"}));
    ASSERT_EQ(parked["entries"].items.size(), 1u);
    EXPECT_EQ(parked["entries"].items[0]["name"].text, "Tool");
    JsonValue restored = Object(Cli({"startup", "restore", "--all", "--json"}));
    EXPECT_EQ(restored["restored"].number, 1);
    EXPECT_TRUE(Object(Cli({"programs", "list", "--json"}))["entries"].Is(Kind::Array));
    EXPECT_TRUE(Object(Cli({"bho", "list", "--json"}))["entries"].Is(Kind::Array));
}

TEST_F(JsonOutputTest, EveryFailureIsTheErrorObject) {
    std::string before = prefix.Read("system.reg");
    // Failed: no such archive, no such entry, a version page nobody serves.
    EXPECT_TRUE(ErrorObject(Cli({"backups", "show", "1,1,2001_1,1,1.zip", "--json"}), 1));
    EXPECT_TRUE(ErrorObject(Cli({"startup", "remove", "Nobody", "--json"}), 1));
    EXPECT_TRUE(ErrorObject(Cli({"fullbackup", "restore", "none.zip", "--yes", "--json"}), 1));
    const std::string nobody = "http://127.0.0.1:" + std::to_string(RefusingPort()) + "/";
    EXPECT_TRUE(ErrorObject(Cli({"update", "--check", "--from", nobody, "--json"}), 1));
    // Usage: a wrong line, and a command that would ask a question. The message is the
    // error; the usage line stays on stderr.
    CliRun wrong = Cli({"scan", "--json", "extra"});
    EXPECT_TRUE(ErrorObject(wrong, 2));
    EXPECT_EQ(JsonReader::Parse(wrong.out).value_or(JsonValue{})["error"]["message"].text,
              "The following argument was not expected: extra");
    EXPECT_NE(wrong.err.find("Usage: hivewise-cli scan"), std::string::npos);
    for (std::vector<std::string> asks : {std::vector<std::string>{"repair", "--json"},
                                          {"backups", "restore", "a.zip", "--all", "--json"},
                                          {"backups", "remove", "a.zip", "--json"},
                                          {"fullbackup", "restore", "a.zip", "--json"}}) {
        CliRun run = Cli(asks);
        EXPECT_TRUE(ErrorObject(run, 2)) << asks[0];
        EXPECT_NE(run.err.find("--yes"), std::string::npos) << run.err;
    }
    EXPECT_EQ(prefix.Read("system.reg"), before);
}

TEST_F(JsonOutputTest, UpdateSaysWhatThePageSaysOrFails) {
    prefix.UserReg("\n[Software\\\\Hivewise] 1700000000\n\"Version\"=\"6.2\"\n");
    TinyHttpServer server([](const std::string&) { return TinyHttpServer::Page("9.9\n<html>"); });
    JsonValue update = Object(Cli({"update", "--check", "--from", server.Url(), "--json"}));
    EXPECT_EQ(Keys(update), (std::vector<std::string>{"updateAvailable", "version"}));
    EXPECT_TRUE(update["updateAvailable"].boolean);
    EXPECT_EQ(update["version"].text, "9.9");
    // "No updates available" would claim an answer the page never gave.
    const std::string nobody = "http://127.0.0.1:" + std::to_string(RefusingPort()) + "/";
    CliRun run = Cli({"update", "--check", "--from", nobody});
    EXPECT_TRUE(FailedWithOneLine(run));
    EXPECT_EQ(run.out, "");
}

TEST_F(JsonOutputTest, QuestionsGoToStderr) {
    CliRun run = Cli({"fullbackup", "create"});
    ASSERT_EQ(run.status, kExitDone) << run.err;
    std::string archive =
        Object(Cli({"fullbackup", "list", "--json"}))["archives"].items[0]["file"].text;
    run = Cli({"fullbackup", "restore", archive}, "n\n");
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("Restore the registry saved on ", 0), 0u) << run.err;
}

// Key names, data and folder names with escape sequences: the text output shows them
// with '?', never the byte that would start a terminal sequence.
TEST_F(JsonOutputTest, NoControlCharacterOfThePrefixReachesTheTerminal) {
    const std::string run = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    ASSERT_EQ(
        Cli({"reg", "add", run, "/v", "Evil\x1b]0;owned\x07", "/d", "C:\\gone\x1b[2J\\x.exe", "/f"})
            .status,
        0);
    ASSERT_EQ(Cli({"reg", "add", "HKCU\\Software\\Esc\x1b[31mKey", "/f"}).status, 0);
    for (std::vector<std::string> args : {std::vector<std::string>{"startup", "list"},
                                          {"reg", "query", run},
                                          {"reg", "query", "HKCU\\Software"},
                                          {"reg", "query", "HKCU\\Software", "/s"},
                                          {"scan", "--sections", "8"}}) {
        CliRun shown = Cli(args);
        EXPECT_EQ(shown.status, 0) << args[0] << ' ' << shown.err;
        EXPECT_EQ(shown.out.find('\x1b'), std::string::npos) << args[0] << ": " << shown.out;
        EXPECT_EQ(shown.out.find('\x07'), std::string::npos) << args[0] << ": " << shown.out;
        EXPECT_NE(shown.out.find("?"), std::string::npos) << args[0] << ": " << shown.out;
    }
    // JSON carries the name as it is, escaped.
    JsonValue list = Object(Cli({"startup", "list", "--json"}));
    bool found = false;
    for (const JsonValue& entry : list["entries"].items)
        found = found || entry["name"].text == "Evil\x1b]0;owned\x07";
    EXPECT_TRUE(found);

    ASSERT_EQ(Cli({"repair", "--sections", "8", "--yes"}).status, kExitDone);
    std::string archive =
        Object(Cli({"backups", "list", "--json"}))["archives"].items[0]["file"].text;
    CliRun show = Cli({"backups", "show", archive});
    EXPECT_EQ(show.status, 0) << show.err;
    EXPECT_EQ(show.out.find('\x1b'), std::string::npos) << show.out;
}

class MachinesJsonTest : public ::testing::Test {
  protected:
    MachinesJsonTest()
        : homeEnv("HOME", home.Dir().c_str()),
          dataEnv("XDG_DATA_HOME", (home.Dir() / "xdg").c_str()),
          wineEnv("WINEPREFIX", nullptr) {}

    FakeHome home;
    ScopedEnv homeEnv, dataEnv, wineEnv;
};

TEST_F(MachinesJsonTest, FolderNamesOfAnyBytesStayValidAndOffTheTerminal) {
    // An overlong '/', a UTF-16 surrogate, and an escape sequence in folder names.
    home.Prefix(".PlayOnLinux/wineprefix/Over\xC0\xAFlong");
    home.Prefix(".PlayOnLinux/wineprefix/Sur\xED\xA0\x80rogate");
    home.Prefix(".PlayOnLinux/wineprefix/Esc\x1b[2Jape");
    CliRun run = CliPrefix::Run({"machines", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::optional<JsonValue> value = JsonReader::Parse(run.out);
    ASSERT_TRUE(value) << run.out;
    const JsonValue& machines = (*value)["machines"];
    ASSERT_GE(machines.items.size(), 3u);
    for (const JsonValue& m : machines.items) {
        EXPECT_EQ(m.keys, (std::vector<std::string>{"name", "kind", "path", "windows",
                                                    "registryBytes", "wineRunning"}));
    }
    run = CliPrefix::Run({"machines"});
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("\xC0\xAF"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace hivewise::testing
