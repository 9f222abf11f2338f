#include "repair/untrusted_archive.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/temp_prefix.h"
#include "repair/crafted_archive.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kMiB = 1 << 20;

std::vector<std::string> FilesBelow(const fs::path& dir) {
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; it != end; it.increment(ec))
        files.push_back(it->path().lexically_relative(dir).string());
    std::sort(files.begin(), files.end());
    return files;
}

class UntrustedArchiveTest : public ::testing::Test {
  protected:
    // An archive of the entries, each given its bytes; "liar.bin" declares 10 bytes.
    fs::path Make(const std::vector<std::pair<std::string, std::string>>& entries) {
        fs::path archive = temp.Dir() / "archive.zip";
        ZipWriter writer;
        EXPECT_EQ(writer.Create(archive, "pw"), ZipStatus::kOk);
        for (const auto& [name, bytes] : entries)
            EXPECT_EQ(writer.AddBytes(name, bytes), ZipStatus::kOk);
        EXPECT_EQ(writer.Close(), ZipStatus::kOk);
        for (const auto& entry : entries) {
            if (entry.first == "liar.bin") {
                EXPECT_TRUE(testing::DeclareSize(archive, "liar.bin", 10));
            }
        }
        return archive;
    }
    // One MiB for every entry but "refused.txt".
    static uint64_t Limit(std::string_view name) { return name == "refused.txt" ? 0 : kMiB; }
    fs::path Out() {
        fs::create_directories(temp.Dir() / "out");
        return temp.Dir() / "out";
    }

    testing::TempPrefix temp;
};

TEST_F(UntrustedArchiveTest, EntriesAreHeldToTheirLimitDeclaredOrInflated) {
    const std::string zeros(4 * kMiB, '\0');
    fs::path archive = Make({{"small.txt", "small"},
                             {"big.bin", zeros},
                             {"liar.bin", zeros},
                             {"refused.txt", ""},
                             {"edge.bin", std::string(kMiB, 'e')}});
    UntrustedArchive reader(Limit);
    ASSERT_EQ(reader.Open(archive, "pw"), ZipStatus::kOk) << reader.LastError();
    ASSERT_EQ(reader.Entry(2).size, 10u);  // the header lies
    std::string bytes;
    EXPECT_EQ(reader.Read(0, &bytes), ZipStatus::kOk);
    EXPECT_EQ(bytes, "small");
    EXPECT_EQ(reader.Read(4, &bytes), ZipStatus::kOk);
    EXPECT_EQ(bytes.size(), kMiB);
    for (int refused : {1, 2, 3}) {
        SCOPED_TRACE(refused);
        bytes = "before";
        EXPECT_NE(reader.Read(refused, &bytes), ZipStatus::kOk);
        EXPECT_TRUE(bytes.empty());
        EXPECT_NE(reader.ExtractAs(refused, Out(), "x.bin"), ZipStatus::kOk);
        EXPECT_EQ(FilesBelow(Out()), std::vector<std::string>{});
        EXPECT_FALSE(reader.LastError().empty());
    }
    EXPECT_EQ(reader.ExtractAs(0, Out(), "copy.txt"), ZipStatus::kOk);
    EXPECT_EQ(temp.Read("out/copy.txt"), "small");
}

TEST_F(UntrustedArchiveTest, ExtractAllTakesBackWhatItWroteOnAFailure) {
    const std::string zeros(4 * kMiB, '\0');
    UntrustedArchive reader(Limit);
    ASSERT_EQ(reader.Open(Make({{"a.txt", "a"}, {"sub/b.txt", "b"}, {"liar.bin", zeros}}), "pw"),
              ZipStatus::kOk);
    EXPECT_EQ(reader.ExtractAll(Out()), ZipStatus::kDamaged);
    EXPECT_EQ(FilesBelow(Out()), std::vector<std::string>{"sub"});

    ASSERT_EQ(reader.Open(Make({{"a.txt", "a"}, {"../escape.txt", "x"}}), "pw"), ZipStatus::kOk);
    EXPECT_EQ(reader.ExtractAll(Out()), ZipStatus::kUnsafeName);
    EXPECT_FALSE(fs::exists(temp.Dir() / "escape.txt"));
    EXPECT_FALSE(fs::exists(Out() / "a.txt"));

    ASSERT_EQ(reader.Open(Make({{"a.txt", "a"}, {"sub/b.txt", "b"}}), "pw"), ZipStatus::kOk);
    EXPECT_EQ(reader.ExtractAll(Out()), ZipStatus::kOk);
    EXPECT_EQ(FilesBelow(Out()), (std::vector<std::string>{"a.txt", "sub", "sub/b.txt"}));
}

TEST_F(UntrustedArchiveTest, CheckAllReadsEveryEntryThroughAndWritesNothing) {
    const std::string zeros(4 * kMiB, '\0');
    UntrustedArchive reader(Limit);
    ASSERT_EQ(reader.Open(Make({{"a.txt", "a"}, {"b.txt", std::string(kMiB, 'b')}}), "pw"),
              ZipStatus::kOk);
    const std::vector<std::string> before = FilesBelow(temp.Dir());
    EXPECT_EQ(reader.CheckAll(), ZipStatus::kOk) << reader.LastError();
    for (const auto& [entries, status] :
         std::vector<std::pair<std::vector<std::pair<std::string, std::string>>, ZipStatus>>{
             {{{"a.txt", "a"}, {"liar.bin", zeros}}, ZipStatus::kDamaged},
             {{{"a.txt", "a"}, {"refused.txt", ""}}, ZipStatus::kDamaged},
             {{{"a.txt", "a"}, {"../escape.txt", "x"}}, ZipStatus::kUnsafeName}}) {
        SCOPED_TRACE(entries.back().first);
        ASSERT_EQ(reader.Open(Make(entries), "pw"), ZipStatus::kOk);
        EXPECT_EQ(reader.CheckAll(), status);
        EXPECT_FALSE(reader.LastError().empty());
    }
    // A wrong password passes the entry's one check byte about once in 256, and its data
    // then fails the CRC: refused either way.
    ASSERT_EQ(reader.Open(Make({{"a.txt", "a"}}), "wrong"), ZipStatus::kOk);
    const ZipStatus wrong = reader.CheckAll();
    EXPECT_TRUE(wrong == ZipStatus::kWrongPassword || wrong == ZipStatus::kDamaged)
        << static_cast<int>(wrong);
    EXPECT_EQ(FilesBelow(temp.Dir()), before);
    EXPECT_FALSE(fs::exists(temp.Dir().parent_path() / "escape.txt"));
}

TEST_F(UntrustedArchiveTest, RegistrySizedLimitFollowsThePrefix) {
    EXPECT_EQ(RegistrySizedLimit(temp.Dir()), 64 * kMiB);
    temp.Write("system.reg", "");
    fs::resize_file(temp.Dir() / "system.reg", 40 * kMiB);
    temp.Write("user.reg", std::string(1000, 'u'));
    EXPECT_EQ(RegistrySizedLimit(temp.Dir()), 4 * (40 * kMiB + 1000));
    EXPECT_GT(UnpackableBytes(temp.Dir()), 0u);
    EXPECT_EQ(UnpackableBytes(temp.Dir() / "missing"), 0u);
}

}  // namespace
}  // namespace hivewise
