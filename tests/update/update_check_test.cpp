#include <gtest/gtest.h>

#include <stdlib.h>

#include <map>

#include "platform/machine/string_table.h"
#include "platform/temp_prefix.h"
#include "update/page_fetch.h"
#include "update/tiny_http_server.h"
#include "update/update_check.h"
#include "update/update_fixture.h"

namespace hivewise::testing {
namespace {

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

TEST_F(UpdateCheckTest, OffersOnlyAHigherDecimalVersion) {
    EXPECT_EQ(CheckForUpdate(*machine, server.Url()).version, "6.3");
    for (const char* notHigher : {"6.2", "6.15", "6.10", "six", ""}) {
        published = notHigher;
        UpdateCheck check = CheckForUpdate(*machine, server.Url());
        EXPECT_EQ(check.version, "") << notHigher;
        EXPECT_FALSE(check.installationCorrupt) << notHigher;
    }
    const std::string refused = "http://127.0.0.1:" + std::to_string(RefusingPort()) + "/";
    EXPECT_EQ(CheckForUpdate(*machine, refused).version, "");
}

// The page comes from the network: only its leading number is ever shown, never the rest
// (here an escape sequence that would retitle the user's terminal).
TEST_F(UpdateCheckTest, OnlyTheVersionNumberOfThePageIsTaken) {
    published = " 9.9\x1B]0;owned\x07\n<html>";
    EXPECT_EQ(CheckForUpdate(*machine, server.Url()).version, "9.9");
    EXPECT_EQ(PublishedVersion("12"), "12");
    EXPECT_EQ(PublishedVersion("none"), "");
}

TEST_F(UpdateCheckTest, AMissingVersionSettingIsReported) {
    WriteVersion("\"Other\"=\"1\"\n");
    UpdateCheck check = CheckForUpdate(*machine, server.Url());
    EXPECT_EQ(check.version, "");
    EXPECT_TRUE(check.installationCorrupt);
    // A page that cannot be fetched says nothing of the installation.
    const std::string refused = "http://127.0.0.1:" + std::to_string(RefusingPort()) + "/";
    EXPECT_FALSE(CheckForUpdate(*machine, refused).installationCorrupt);
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
