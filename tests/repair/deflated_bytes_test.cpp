#include "repair/deflated_bytes.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "repair/background_deflate.h"

namespace hivewise {
namespace {

// The bytes a raw deflate stream stands for; empty with `ok` false when it is no whole
// stream.
std::string Inflate(const std::string& data, bool* ok) {
    z_stream z{};
    *ok = inflateInit2(&z, -15) == Z_OK;
    std::string out;
    if (!*ok) return out;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    int status = Z_OK;
    char buffer[4096];
    while (status == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        status = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - z.avail_out);
    }
    *ok = status == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return *ok ? out : std::string();
}

void ExpectStandsFor(const DeflatedBytes& deflated, const std::string& bytes) {
    bool ok = false;
    EXPECT_EQ(Inflate(deflated.data, &ok), bytes);
    EXPECT_TRUE(ok);
    EXPECT_EQ(deflated.size, bytes.size());
    EXPECT_EQ(deflated.crc, crc32_z(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

// Registry-export-like text with some noise, so that it neither packs to nothing nor not
// at all.
std::string Text(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string text;
    while (text.size() < size) {
        text += "\"Value" + std::to_string(random() % 1000) + "\"=\"C:\\\\Program Files\\\\App" +
                std::to_string(random()) + "\\\\app.exe\"\r\n";
        if (random() % 7 == 0) text += std::string(1, static_cast<char>(random()));
    }
    text.resize(size);
    return text;
}

TEST(DeflatedBytesTest, PiecesOfAnySizeMakeOneStreamOfTheWhole) {
    const std::string whole = Text(700000, 1);
    for (size_t piece : {size_t{1} << 20, size_t{65536}, size_t{4093}, size_t{7}}) {
        Deflater deflater;
        for (size_t at = 0; at < whole.size(); at += piece) {
            deflater.Append(std::string_view(whole).substr(at, piece));
            deflater.Append({});  // an empty piece changes nothing
        }
        DeflatedBytes out;
        ASSERT_TRUE(deflater.Finish(&out)) << piece;
        ExpectStandsFor(out, whole);
        EXPECT_LT(out.data.size(), whole.size() / 2) << piece;
    }
    // Nothing at all is a stream too, of no bytes.
    DeflatedBytes empty;
    ASSERT_TRUE(Deflate({}, &empty));
    ExpectStandsFor(empty, "");
}

TEST(DeflatedBytesTest, AFinishedDeflaterStartsAgainOnlyAfterReset) {
    Deflater deflater;
    DeflatedBytes first, second, spent;
    deflater.Append("first entry");
    ASSERT_TRUE(deflater.Finish(&first));
    deflater.Append("more");
    EXPECT_FALSE(deflater.Finish(&spent));
    deflater.Reset();
    deflater.Append("second entry");
    ASSERT_TRUE(deflater.Finish(&second));
    ExpectStandsFor(first, "first entry");
    ExpectStandsFor(second, "second entry");
}

TEST(DeflatedBytesTest, BackgroundDeflateKeepsTheOrderOfWholeEntriesBesidePieces) {
    std::vector<std::string> wholes;
    std::string pieces;
    BackgroundDeflate deflate;
    for (unsigned i = 0; i < 300; ++i) {
        wholes.push_back(Text(50 + i * 37, i));
        deflate.AddWhole(wholes.back());
        if (i % 3 == 0) {
            std::string piece = Text(9000 + i, 1000 + i);
            pieces += piece;
            deflate.AppendPiece(std::move(piece));
        }
    }
    wholes.push_back("");  // an empty export still has its place
    deflate.AddWhole("");
    std::vector<DeflatedBytes> deflated;
    DeflatedBytes fed;
    ASSERT_TRUE(deflate.Finish(&deflated, &fed));
    ASSERT_EQ(deflated.size(), wholes.size());
    for (size_t i = 0; i < wholes.size(); ++i)
        ExpectStandsFor(deflated[i], wholes[i]);
    ExpectStandsFor(fed, pieces);

    BackgroundDeflate nothing;
    ASSERT_TRUE(nothing.Finish(&deflated, &fed));
    EXPECT_TRUE(deflated.empty());
    EXPECT_TRUE(fed.data.empty());
    EXPECT_EQ(fed.size, 0u);
}

TEST(DeflatedBytesTest, ABackupGivenUpLeavesWithoutDeflatingTheRest) {
    auto deflate = std::make_unique<BackgroundDeflate>();
    for (unsigned i = 0; i < 200; ++i)
        deflate->AddWhole(Text(200000, i));
    deflate.reset();  // returns without waiting for 40 MB to be deflated (or hanging)
    SUCCEED();
}

}  // namespace
}  // namespace hivewise
