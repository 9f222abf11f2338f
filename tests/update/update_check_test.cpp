#include <gtest/gtest.h>

#include <stdlib.h>

#include <map>

#include "platform/machine/string_table.h"
#include "platform/temp_prefix.h"
#include "update/page_fetch.h"
#include "update/tiny_http_server.h"
#include "update/update_check.h"

namespace hivewise::testing {
namespace {

// The test server is local: a proxy set for the user must not be asked for it.
const bool kLocalWithoutProxy = [] {
    ::setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    ::setenv("no_proxy", "127.0.0.1,localhost", 1);
    return true;
}();

TEST(FetchPageTest, AsksWithTheAgentNameAndExtractsTheBody) {
    TinyHttpServer server([](const std::string& request) {
        if (request.find("/raw") != std::string::npos) return TinyHttpServer::Page("  Raw 6.3\n");
        if (request.find("/plain") != std::string::npos) {
            return TinyHttpServer::Page("\r\n\t 6.4 \r\n");
        }
        return TinyHttpServer::Page(
            "<HTML><HEAD><TITLE>Version</TITLE></HEAD><BODY>\r\n  6.3  \r\n</BODY>"
            "<body>6.9</body></HTML>");
    });
    std::string text = "left over";
    ASSERT_EQ(FetchPage(server.Url(), text, 1), 1);
    EXPECT_EQ(text, "6.3");
    ASSERT_FALSE(server.Requests().empty());
    const std::string request = server.Requests().front();
    EXPECT_EQ(request.rfind("GET /updates/current_version.htm HTTP/1.1\r\n", 0), 0u) << request;
    EXPECT_NE(request.find("\r\nUser-Agent: Microsoft Internet Explorer\r\n"), std::string::npos);
    EXPECT_NE(request.find("\r\nAccept: */*\r\n"), std::string::npos);

    // Without extraction the text is the page as read; a page without a body is used
    // whole, lower-cased and trimmed.
    ASSERT_EQ(FetchPage(server.Url("/raw"), text, 0), 1);
    EXPECT_EQ(text, "  Raw 6.3\n");
    ASSERT_EQ(FetchPage(server.Url("/raw"), text, 1), 1);
    EXPECT_EQ(text, "raw 6.3");
    ASSERT_EQ(FetchPage(server.Url("/plain"), text, 1), 1);
    EXPECT_EQ(text, "6.4");

    EXPECT_EQ(ExtractBody("<Body>only an opening"), "only an opening");
    EXPECT_EQ(ExtractBody("before</body><body> 7 "), "7");
    EXPECT_EQ(ExtractBody(" \r\n "), "");
}

TEST(FetchPageTest, FailsOnRefusalErrorStatusAndOversizedPages) {
    std::string text = "left over";
    EXPECT_EQ(FetchPage("http://127.0.0.1:" + std::to_string(RefusingPort()) + "/", text, 1), 0);
    EXPECT_EQ(text, "");

    TinyHttpServer server([](const std::string& request) {
        if (request.find("/missing") != std::string::npos) {
            return TinyHttpServer::Page("404 not found", "404 Not Found");
        }
        if (request.find("/huge-unannounced") != std::string::npos) {
            return "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + std::string(70000, '9');
        }
        return TinyHttpServer::Page(std::string(kMaxPageBytes + 1, '7'));
    });
    EXPECT_EQ(FetchPage(server.Url("/missing"), text, 1), 0);
    EXPECT_EQ(FetchPage(server.Url("/huge"), text, 1), 0);
    EXPECT_EQ(FetchPage(server.Url("/huge-unannounced"), text, 1), 0);
    // A secure address whose server cannot prove itself is no page.
    std::string secure = server.Url("/");
    secure.replace(0, 4, "https");
    EXPECT_EQ(FetchPage(secure, text, 1), 0);
    EXPECT_EQ(text, "");
    // Only the web's own schemes.
    EXPECT_EQ(FetchPage("file:///etc/hostname", text, 0), 0);
}

TEST(VersionNumberTest, ReadsTheLeadingDecimalNumber) {
    EXPECT_DOUBLE_EQ(VersionNumber("6.2"), 6.2);
    EXPECT_DOUBLE_EQ(VersionNumber(" \t6.15 beta"), 6.15);
    EXPECT_DOUBLE_EQ(VersionNumber("6.10"), 6.1);
    EXPECT_DOUBLE_EQ(VersionNumber("7"), 7);
    EXPECT_DOUBLE_EQ(VersionNumber(".5"), 0.5);
    EXPECT_DOUBLE_EQ(VersionNumber("+6.3"), 6.3);
    EXPECT_DOUBLE_EQ(VersionNumber("1e1x"), 10);
    EXPECT_DOUBLE_EQ(VersionNumber("6.3e"), 6.3);
    for (const char* none : {"", "version 6.3", "inf", "nan", ".", "-", "<h1>6.3"}) {
        EXPECT_DOUBLE_EQ(VersionNumber(none), 0) << none;
    }
    EXPECT_DOUBLE_EQ(VersionNumber("0x10"), 0);
}

// Records what the user is shown and answers questions as set.
class FakeUserPrompts : public UserPrompts {
  public:
    void Message(const std::string& text) override { messages.push_back(text); }
    bool AskYesNo(const std::string& text) override {
        questions.push_back(text);
        return yes;
    }
    std::vector<std::string> messages, questions;
    bool yes = true;
};

class RecordingHost : public NullHostServices {
  public:
    bool Launch(const std::string& target, const std::string& parameters, bool wait, int) override {
        launches.push_back({target, parameters});
        waited = wait;
        return true;
    }
    std::vector<std::pair<std::string, std::string>> launches;
    bool waited = false;
};

class Owner : public UpdateCheckOwner {
  public:
    void SetWaitCursor(bool on) override { log.push_back(on ? "wait-on" : "wait-off"); }
    void CloseAndQuit() override { log.push_back("close-and-quit"); }
    std::vector<std::string> log;
};

class UpdateCheckTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg("\n[Software] 1700000000\n");
        WriteVersion("\"Version\"=\"6.2\"\n");
    }
    void WriteVersion(const std::string& value) {
        prefix.UserReg("\n[Software\\\\Hivewise] 1700000000\n" + value);
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
        machine->SetHost(&host);
    }

    std::string published = "6.3";
    TinyHttpServer server{[this](const std::string&) {
        return TinyHttpServer::Page("<html><body>" + published + "</body></html>");
    }};
    TempPrefix prefix;
    std::unique_ptr<Machine> machine;
    FakeUserPrompts prompts;
    RecordingHost host;
    Owner owner;
};

TEST_F(UpdateCheckTest, OffersOnlyAHigherDecimalVersion) {
    EXPECT_EQ(CheckForUpdate(*machine, prompts, server.Url()), "6.3");
    for (const char* notHigher : {"6.2", "6.15", "6.10", "six", ""}) {
        published = notHigher;
        EXPECT_EQ(CheckForUpdate(*machine, prompts, server.Url()), "") << notHigher;
    }
    EXPECT_TRUE(prompts.messages.empty());
    const std::string refused = "http://127.0.0.1:" + std::to_string(RefusingPort()) + "/";
    EXPECT_EQ(CheckForUpdate(*machine, prompts, refused), "");
}

// The page comes from the network: only its leading number is ever shown, never the rest
// (here an escape sequence that would retitle the user's terminal).
TEST_F(UpdateCheckTest, OnlyTheVersionNumberOfThePageIsTaken) {
    published = " 9.9\x1B]0;owned\x07\n<html>";
    EXPECT_EQ(CheckForUpdate(*machine, prompts, server.Url()), "9.9");
    EXPECT_EQ(PublishedVersion("12"), "12");
    EXPECT_EQ(PublishedVersion("none"), "");
}

TEST_F(UpdateCheckTest, AMissingVersionSettingIsReported) {
    WriteVersion("\"Other\"=\"1\"\n");
    EXPECT_EQ(CheckForUpdate(*machine, prompts, server.Url()), "");
    EXPECT_EQ(prompts.messages, std::vector<std::string>{std::string(kInstallationCorruptText)});

    prompts.messages.clear();
    RunUpdateCheck(*machine, prompts, owner, server.Url());
    EXPECT_EQ(prompts.messages, (std::vector<std::string>{std::string(kInstallationCorruptText),
                                                          std::string(kNoUpdatesText)}));
    EXPECT_EQ(owner.log, (std::vector<std::string>{"wait-on", "wait-off"}));
}

TEST_F(UpdateCheckTest, NoUpdateOrNoAnswerSaysSo) {
    published = "6.2";
    RunUpdateCheck(*machine, prompts, owner, server.Url());
    const std::string refused = "http://127.0.0.1:" + std::to_string(RefusingPort()) + "/";
    RunUpdateCheck(*machine, prompts, owner, refused);
    EXPECT_EQ(prompts.messages,
              (std::vector<std::string>{std::string(kNoUpdatesText), std::string(kNoUpdatesText)}));
    EXPECT_TRUE(prompts.questions.empty());
    EXPECT_TRUE(host.launches.empty());
}

TEST_F(UpdateCheckTest, AcceptedUpdateStartsTheUpdaterAndEnds) {
    prompts.yes = false;
    RunUpdateCheck(*machine, prompts, owner, server.Url());
    EXPECT_EQ(prompts.questions, std::vector<std::string>{std::string(kUpdatesAvailableText)});
    EXPECT_EQ(owner.log, (std::vector<std::string>{"wait-on", "wait-off"}));

    // Without the updater the program still ends, as the user asked for the update.
    prompts.yes = true;
    RunUpdateCheck(*machine, prompts, owner, server.Url());
    EXPECT_TRUE(host.launches.empty());
    EXPECT_EQ(owner.log.back(), "close-and-quit");

    prefix.File("Program Files/Hivewise/updater.exe", "MZ");
    owner.log.clear();
    RunUpdateCheck(*machine, prompts, owner, server.Url());
    ASSERT_EQ(host.launches.size(), 1u);
    EXPECT_EQ(host.launches[0].first,
              (prefix.Dir() / "drive_c" / "Program Files" / "Hivewise" / "updater.exe").string());
    EXPECT_EQ(host.launches[0].second,
              " -url \"" + LoadResourceText(kIdsUpdateFolderUrl) +
                  "\\hivewise.exe\" -dest \"C:\\Program Files\\Hivewise\\hivewise.exe\"");
    EXPECT_FALSE(host.waited);
    EXPECT_EQ(owner.log, (std::vector<std::string>{"wait-on", "wait-off", "close-and-quit"}));
}

TEST(UpdaterCommandTest, QuotesThePathsAndBeginsWithABlank) {
    UpdaterCommand command = BuildUpdaterCommand("https://www.hivewise.example/updates/",
                                                 "C:\\Program Files\\Hivewise\\hivewise.exe",
                                                 "C:\\Program Files\\Hivewise");
    EXPECT_EQ(command.file, "\"C:\\Program Files\\Hivewise\\updater.exe\"");
    EXPECT_EQ(command.parameters,
              " -url \"https://www.hivewise.example/updates/\\hivewise.exe\" -dest \"C:\\Program "
              "Files\\Hivewise\\hivewise.exe\"");
    EXPECT_EQ(LoadResourceText(kIdsVersionPageUrl).rfind("https://", 0), 0u);
    EXPECT_EQ(LoadResourceText(kIdsUpdateFolderUrl).rfind("https://", 0), 0u);
}

}  // namespace
}  // namespace hivewise::testing
