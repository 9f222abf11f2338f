#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// A text's 16-byte keyed digest (SipHash-2-4 with its 128-bit output), by which a large
// table tells texts apart without keeping them: a finding's identity is often a hundred
// bytes, its digest sixteen. The key is drawn at random for each digester, so no prefix
// can be crafted to make two of its texts meet; by chance, two texts of one scan meet
// about once in 2^89 scans of a million texts.
namespace hivewise {

class TextDigester {
  public:
    struct Digest {
        std::array<char, 16> bytes{};
        // The digest as a text, for a table of texts; good while the digest lives.
        std::string_view View() const { return {bytes.data(), bytes.size()}; }
    };

    // A random key.
    TextDigester();
    // A fixed key (its two halves read as little-endian words): for tests.
    TextDigester(uint64_t key0, uint64_t key1) : key0_(key0), key1_(key1) {}

    Digest operator()(std::string_view text) const;

  private:
    uint64_t key0_ = 0;
    uint64_t key1_ = 0;
};

}  // namespace hivewise
