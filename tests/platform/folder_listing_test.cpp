#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/files/folder_listing.h"
#include "platform/files/short_names.h"
#include "platform/machine/text.h"
#include "platform/temp_prefix.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;
using path_detail::Listing;

std::shared_ptr<Listing> Read(const fs::path& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return nullptr;
    return path_detail::ReadListing(folder.string(), st);
}

// The host name of the entry a lookup found, or "" for none.
std::string HostOf(const std::optional<path_detail::ListedEntry>& entry) {
    return entry ? std::string(entry->HostName()) : std::string();
}

// What ByName must answer, found the slow way: the first entry in the listing's order
// whose long name equals the name without regard to case, else the entry whose short
// name, or else Wine's hashed short name, is the name in upper case.
std::string Expected(const Listing& listing, const std::string& ansiName) {
    std::u16string wide = AnsiToUtf16(ansiName);
    for (size_t k = 0; k < listing.Size(); ++k) {
        if (EqualsNoCase(Utf8ToUtf16(listing.At(k).HostName()), wide)) {
            return std::string(listing.At(k).HostName());
        }
    }
    std::string upper = AnsiUpper(ansiName);
    for (size_t k = 0; k < listing.Size(); ++k) {
        if (listing.At(k).ShortName() == upper) return std::string(listing.At(k).HostName());
    }
    for (size_t k = 0; k < listing.Size(); ++k) {
        if (upper.find('~') != std::string::npos &&
            WineShortName(Utf8ToUtf16(listing.At(k).HostName())) == upper) {
            return std::string(listing.At(k).HostName());
        }
    }
    return {};
}

std::vector<std::string> HostNames(const Listing& listing) {
    std::vector<std::string> names;
    for (size_t k = 0; k < listing.Size(); ++k)
        names.emplace_back(listing.At(k).HostName());
    return names;
}

TEST(FolderListing, NamesDifferingOnlyInCaseKeepTheFoldersOrder) {
    testing::TempFolder folder;
    for (const char* name : {"readme.txt", "README.TXT", "Readme.txt", "b"})
        folder.Write(name, "x");
    auto listing = Read(folder.Dir());
    ASSERT_TRUE(listing);
    EXPECT_EQ(HostNames(*listing),
              (std::vector<std::string>{"b", "README.TXT", "Readme.txt", "readme.txt"}));
    // The first of equal long names wins; each host name and short name reaches its own.
    EXPECT_EQ(HostOf(listing->ByName("readme.TXT")), "README.TXT");
    EXPECT_EQ(HostOf(listing->ByHost("readme.txt")), "readme.txt");
    EXPECT_FALSE(listing->HasHost("README.txt"));
    EXPECT_EQ(listing->At(2).ShortName(), "README~1.TXT");
    EXPECT_EQ(HostOf(listing->ByName("readme~2.txt")), "readme.txt");
    EXPECT_EQ(HostOf(listing->ByName("B")), "b");

    std::vector<FolderEntry> entries = listing->Entries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[3].hostName, "readme.txt");
    EXPECT_EQ(entries[3].name, "readme.txt");
    EXPECT_EQ(entries[3].shortName, "README~2.TXT");
    EXPECT_EQ(entries[1].shortName, "README.TXT");
}

// Host names are UTF-8, or bytes that are not (read as Latin-1); their ANSI forms may
// differ from them, lack characters ('?') or coincide with another entry's.
TEST(FolderListing, NonAsciiNamesMatchAsTheirUtf16FormFolds) {
    testing::TempFolder folder;
    const std::string cafe = "Caf\xC3\xA9.txt";                 // é in UTF-8
    const std::string oeuvre = "\xC5\x92uvre";                  // Œ, in the code page
    const std::string privet = "\xD0\x9F\xD1\x80\xD0\xB8.txt";  // Cyrillic, not in it
    const std::string latin1 = "\xE9t\xE9";                     // é as one byte
    const std::string utf8 = "\xC3\xA9t\xC3\xA9";               // the same name in UTF-8
    const std::string control = "\x81z.txt";                    // a byte the code page lacks
    for (const std::string& name : {cafe, oeuvre, privet, latin1, utf8, control})
        folder.Write(name, "x");
    folder.Write("?z.txt", "x");
    auto listing = Read(folder.Dir());
    ASSERT_TRUE(listing);

    auto cafeEntry = listing->ByName("CAF\xC9.TXT");
    ASSERT_TRUE(cafeEntry);
    EXPECT_EQ(cafeEntry->HostName(), cafe);
    EXPECT_EQ(cafeEntry->Name(), "Caf\xE9.txt");
    EXPECT_EQ(HostOf(listing->ByName("\x9Cuvre")), oeuvre);  // œ folds with Œ

    // A '?' for a character the code page lacks does not match the '?' of a name.
    EXPECT_EQ(listing->ByHost(privet)->Name(), "???.txt");
    EXPECT_FALSE(listing->ByName("???.txt"));
    EXPECT_EQ(HostOf(listing->ByName("___~1.TXT")), privet);
    EXPECT_EQ(listing->ByHost(control)->Name(), "?z.txt");
    EXPECT_EQ(HostOf(listing->ByName("?Z.TXT")), "?z.txt");
    EXPECT_EQ(HostOf(listing->ByName("\x81Z.TXT")), control);

    // One long name twice: the UTF-8 host name sorts first.
    EXPECT_EQ(HostOf(listing->ByName("\xC9T\xC9")), utf8);
    EXPECT_EQ(listing->ByHost(latin1)->Name(), "\xE9t\xE9");
    EXPECT_EQ(listing->ByHost(utf8)->Name(), "\xE9t\xE9");
    EXPECT_EQ(listing->ByHost(latin1)->ShortName(), "\xC9T\xC9~1");
    EXPECT_EQ(HostOf(listing->ByName("\xE9t\xE9~1")), latin1);

    for (size_t k = 0; k < listing->Size(); ++k) {
        std::string name(listing->At(k).Name());
        for (const std::string& query :
             {name, AnsiUpper(name), AnsiLower(name), std::string(listing->At(k).ShortName())}) {
            EXPECT_EQ(HostOf(listing->ByName(query)), Expected(*listing, query)) << query;
        }
    }
}

// Enough entries for wider index slots, sharing generated and hashed short names.
TEST(FolderListing, EveryNameOfALargeFolderReachesTheEntryItStandsFor) {
    testing::TempFolder folder;
    for (int i = 0; i < 300; ++i) {
        std::string n = std::to_string(i);
        folder.Write("Long Name " + n + ".html", "");
        if (i % 7 == 0) folder.Write("LONG NAME " + n + ".HTML", "");
        if (i % 11 == 0) folder.Write("\xC3\xA9l\xC3\xA8ve " + n, "");
    }
    auto listing = Read(folder.Dir());
    ASSERT_TRUE(listing);
    ASSERT_EQ(listing->Size(), 300u + 43 + 28);
    for (size_t k = 0; k < listing->Size(); k += 3) {
        path_detail::ListedEntry entry = listing->At(k);
        std::string name(entry.Name());
        std::string wine = WineShortName(Utf8ToUtf16(entry.HostName()));
        for (const std::string& query :
             {name, AnsiLower(name), std::string(entry.ShortName()), AnsiLower(wine)}) {
            EXPECT_EQ(HostOf(listing->ByName(query)), Expected(*listing, query)) << query;
        }
        EXPECT_EQ(HostOf(listing->ByHost(entry.HostName())), entry.HostName());
    }
    EXPECT_FALSE(listing->ByName("Long Name 300.html"));
    EXPECT_FALSE(listing->ByName("LONG~999.HTM"));  // no hash has a 9
}

// Short names are made once for a listing that several resolvers' threads share.
TEST(FolderListing, ShortNamesMadeWhileOtherThreadsLookUp) {
    testing::TempFolder folder;
    for (int i = 0; i < 200; ++i)
        folder.Write("Program Files " + std::to_string(i), "");
    std::vector<std::string> expected;
    {
        auto first = Read(folder.Dir());
        ASSERT_TRUE(first);
        for (size_t k = 0; k < first->Size(); ++k)
            expected.emplace_back(first->At(k).ShortName());
    }
    for (int round = 0; round < 20; ++round) {
        auto listing = Read(folder.Dir());
        ASSERT_TRUE(listing);
        std::vector<int> wrong(4, 0);
        std::vector<std::thread> threads;
        for (size_t t = 0; t < wrong.size(); ++t) {
            threads.emplace_back([&, t] {
                for (size_t k = t; k < expected.size(); k += 2) {
                    auto entry = listing->ByName(expected[k]);
                    if (!entry || entry->ShortName() != expected[k]) ++wrong[t];
                    if (listing->At(k).ShortName() != expected[k]) ++wrong[t];
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_EQ(wrong, std::vector<int>(4, 0));
    }
}

}  // namespace
}  // namespace hivewise
