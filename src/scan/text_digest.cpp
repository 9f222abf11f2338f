#include "scan/text_digest.h"

#include <sys/random.h>

#include <cstring>
#include <random>

namespace hivewise {
namespace {

constexpr uint64_t Rotate(uint64_t x, int bits) {
    return (x << bits) | (x >> (64 - bits));
}

struct State {
    uint64_t v0, v1, v2, v3;

    void Round() {
        v0 += v1;
        v1 = Rotate(v1, 13);
        v1 ^= v0;
        v0 = Rotate(v0, 32);
        v2 += v3;
        v3 = Rotate(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = Rotate(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = Rotate(v1, 17);
        v1 ^= v2;
        v2 = Rotate(v2, 32);
    }
    void Absorb(uint64_t word) {
        v3 ^= word;
        Round();
        Round();
        v0 ^= word;
    }
    uint64_t Squeeze(uint64_t mark) {
        v2 ^= mark;
        for (int i = 0; i < 4; ++i)
            Round();
        return v0 ^ v1 ^ v2 ^ v3;
    }
};

// The algorithm reads little-endian words, as this program's hosts store them.
uint64_t WordAt(const unsigned char* bytes) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

}  // namespace

TextDigester::TextDigester() {
    uint64_t key[2] = {};
    if (getrandom(key, sizeof key, 0) != static_cast<ssize_t>(sizeof key)) {
        std::random_device device;
        for (uint64_t& half : key)
            half = (uint64_t{device()} << 32) ^ device();
    }
    key0_ = key[0];
    key1_ = key[1];
}

TextDigester::Digest TextDigester::operator()(std::string_view text) const {
    State state{key0_ ^ 0x736f6d6570736575ULL, key1_ ^ 0x646f72616e646f6dULL,
                key0_ ^ 0x6c7967656e657261ULL, key1_ ^ 0x7465646279746573ULL};
    state.v1 ^= 0xee;  // the 128-bit output's mark
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t whole = text.size() / 8 * 8;
    for (size_t at = 0; at < whole; at += 8)
        state.Absorb(WordAt(bytes + at));
    // The last word: the bytes left over, and the length's low byte at the top.
    uint64_t last = uint64_t{text.size() & 0xFF} << 56;
    for (size_t i = whole; i < text.size(); ++i)
        last |= uint64_t{bytes[i]} << (8 * (i - whole));
    state.Absorb(last);
    const uint64_t low = state.Squeeze(0xee);
    state.v1 ^= 0xdd;
    const uint64_t high = state.Squeeze(0);
    Digest digest;
    for (size_t i = 0; i < 8; ++i) {
        digest.bytes[i] = static_cast<char>(low >> (8 * i));
        digest.bytes[8 + i] = static_cast<char>(high >> (8 * i));
    }
    return digest;
}

}  // namespace hivewise
