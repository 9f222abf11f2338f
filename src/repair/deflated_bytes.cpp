#include "repair/deflated_bytes.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace hivewise {
namespace {

// Raw deflate (no zlib header), with zlib's full window and usual memory.
constexpr int kWindowBits = -15;
constexpr int kMemoryLevel = 8;
// zlib counts its input in 32 bits.
constexpr size_t kLargestPiece = size_t{1} << 30;

}  // namespace

Deflater::Deflater() : stream_(std::make_unique<z_stream_s>()) {
    ok_ = deflateInit2(stream_.get(), kDeflateLevel, Z_DEFLATED, kWindowBits, kMemoryLevel,
                       Z_DEFAULT_STRATEGY) == Z_OK;
    if (!ok_) stream_.reset();
}

Deflater::~Deflater() {
    if (stream_) deflateEnd(stream_.get());
}

void Deflater::Reset() {
    out_ = {};
    used_ = 0;
    ok_ = stream_ && deflateReset(stream_.get()) == Z_OK;
}

bool Deflater::Run(int flush) {
    z_stream_s& z = *stream_;
    for (;;) {
        if (used_ == out_.data.size()) {
            // Text packs to about a tenth: room for that first, then twice as much.
            size_t room = std::max<size_t>(
                {out_.data.size(), static_cast<size_t>(z.avail_in) / 8, size_t{256}});
            out_.data.resize(out_.data.size() + room);
        }
        z.next_out = reinterpret_cast<Bytef*>(out_.data.data() + used_);
        z.avail_out = static_cast<uInt>(
            std::min<size_t>(out_.data.size() - used_, std::numeric_limits<uInt>::max()));
        uInt before = z.avail_out;
        int status = deflate(&z, flush);
        used_ += before - z.avail_out;
        if (status == Z_STREAM_END) return true;
        if (status != Z_OK && status != Z_BUF_ERROR) return false;
        // Without finishing, deflate is done once it took all the input and had room left.
        if (flush != Z_FINISH && z.avail_in == 0 && z.avail_out > 0) return true;
    }
}

void Deflater::Append(std::string_view bytes) {
    while (ok_ && !bytes.empty()) {
        std::string_view piece = bytes.substr(0, kLargestPiece);
        bytes.remove_prefix(piece.size());
        const auto* data = reinterpret_cast<const Bytef*>(piece.data());
        out_.crc = static_cast<uint32_t>(crc32_z(out_.crc, data, piece.size()));
        out_.size += piece.size();
        stream_->next_in = const_cast<Bytef*>(data);
        stream_->avail_in = static_cast<uInt>(piece.size());
        ok_ = Run(Z_NO_FLUSH);
        stream_->next_in = nullptr;
        stream_->avail_in = 0;
    }
}

bool Deflater::Finish(DeflatedBytes* out) {
    ok_ = ok_ && Run(Z_FINISH);
    if (!ok_) return false;
    out_.data.resize(used_);
    out_.data.shrink_to_fit();
    *out = std::move(out_);
    out_ = {};
    used_ = 0;
    ok_ = false;  // spent until Reset
    return true;
}

bool Deflate(std::string_view bytes, DeflatedBytes* out) {
    Deflater deflater;
    deflater.Append(bytes);
    return deflater.Finish(out);
}

}  // namespace hivewise
