#include "report/problem_details.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "scan/ignore_list_file.h"

namespace hivewise {
namespace {

constexpr const char* kFileMissing = "The file (%s) does not exist at the specified location";

Problem Finding(int sectionId, std::string_view location,
                std::string_view valueData = "C:\\gone.exe", std::string_view itemText = {},
                std::string_view description = kFileMissing) {
    return Problem(sectionId, {itemText, location, "Path", valueData, description});
}

TEST(DetailsRowTextTest, FormatsBySection) {
    Problem registry = Finding(4, "HKLM\\SOFTWARE\\App", "C:\\gone.exe", "not shown");
    EXPECT_EQ(DetailsRowText(registry),
              "<font color=\"#0000FF\">RegKey : HKLM\\SOFTWARE\\App <br>ValueName : Path<br>"
              "Value : C:\\gone.exe</font><br><b>The file (C:\\gone.exe) does not exist at the "
              "specified location</b>");

    Problem shortcut =
        Finding(14, "HKLM\\not shown", "C:\\target.exe", "C:\\x.lnk", "Shortcut refers to (%s).");
    EXPECT_EQ(DetailsRowText(shortcut),
              "<font color=\"#0000FF\">Shortcut Path : C:\\x.lnk<br>Shortcut to : C:\\target.exe"
              "</font><br><b>Shortcut refers to (C:\\target.exe).</b>");

    EXPECT_EQ(DetailsRowText(Finding(0, "HKLM\\X")), "");
    EXPECT_EQ(DetailsRowText(Finding(16, "HKLM\\X")), "");

    Problem entry =
        Finding(15, "/home/u/.local/share/applications/wine/A.desktop",
                "/home/u/.local/share/applications/wine/A.desktop", "A & B", "Stale (%s)");
    EXPECT_EQ(DetailsRowText(entry),
              "<font color=\"#0000FF\">Menu Entry : A &amp; B<br>File : "
              "/home/u/.local/share/applications/wine/A.desktop</font><br><b>Stale "
              "(/home/u/.local/share/applications/wine/A.desktop)</b>");
}

TEST(DetailsRowTextTest, FillsEveryPlaceholderWithTheDataOnce) {
    constexpr std::string_view kAppId =
        "The Application ID (%s) is not valid.  (%s does not exist)";
    Problem p = Finding(1, "HKCLASS\\AppID\\{X}", "{1234}", {}, kAppId);
    EXPECT_EQ(FindingText(p), "The Application ID ({1234}) is not valid.  ({1234} does not exist)");
    // Data holding a placeholder is not filled again (nor filled forever).
    p = Finding(1, "HKCLASS\\AppID\\{X}", "C:\\%s", {}, kAppId);
    EXPECT_EQ(FindingText(p), "The Application ID (C:\\%s) is not valid.  (C:\\%s does not exist)");
}

TEST(DetailsRowTextTest, RegistryTextIsNotTakenForMarkup) {
    std::string row = DetailsRowText(Finding(13, "HKCU\\Software\\a<b>c", "x & <br> y"));
    EXPECT_NE(row.find("a&lt;b&gt;c"), std::string::npos);
    EXPECT_EQ(ClipboardText(row),
              "RegKey : HKCU\\Software\\a<b>c \r\nValueName : Path\r\nValue : x & <br> y\r\n"
              "The file (x & <br> y) does not exist at the specified location");
}

TEST(ShortRootLocationTest, RewritesOnlyTheRootAndRoundTrips) {
    EXPECT_EQ(ShortRootLocation("HKEY_LOCAL_MACHINE\\SOFTWARE\\X"), "HKLM\\SOFTWARE\\X");
    EXPECT_EQ(ShortRootLocation("HKEY_CURRENT_USER\\Software"), "HKCU\\Software");
    EXPECT_EQ(ShortRootLocation("HKEY_CLASSES_ROOT\\CLSID"), "HKCR\\CLSID");
    EXPECT_EQ(ShortRootLocation("HKEY_USERS\\.Default"), "HKEY_USERS\\.Default");
    EXPECT_EQ(ShortRootLocation("HKEY_LOCAL_MACHINEX\\A"), "HKEY_LOCAL_MACHINEX\\A");
    // A sub-key named like a root survives the trip to the details view and back.
    const std::string nested = "HKEY_LOCAL_MACHINE\\SOFTWARE\\HKEY_CURRENT_USER\\HKLM";
    EXPECT_EQ(ShortRootLocation(nested), "HKLM\\SOFTWARE\\HKEY_CURRENT_USER\\HKLM");
    EXPECT_EQ(LongRootLocation(ShortRootLocation(nested)), nested);
}

TEST(DetailsPlainTextTest, MatchesTheDialogRowWithLineFeeds) {
    Problem p = Finding(9, "HKEY_LOCAL_MACHINE\\SYSTEM\\Services\\Old");
    EXPECT_EQ(PlainTextRow(p),
              "RegKey : HKLM\\SYSTEM\\Services\\Old \nValueName : Path\nValue : C:\\gone.exe\n"
              "The file (C:\\gone.exe) does not exist at the specified location");
    EXPECT_EQ(p.Location(), "HKEY_LOCAL_MACHINE\\SYSTEM\\Services\\Old");
    // Line breaks inside the data are the data's own.
    p = Finding(9, "HKEY_LOCAL_MACHINE\\SYSTEM\\Services\\Old", "a\r\nb");
    EXPECT_NE(PlainTextRow(p).find("Value : a\r\nb\n"), std::string::npos);
}

}  // namespace
}  // namespace hivewise
