#include "tiles/lz4_block.hpp"

#include <lz4.h>

#include <algorithm>
#include <climits>
#include <memory>

#include "common/errors.hpp"
#include "common/little_endian.hpp"

namespace core {
namespace {

constexpr std::size_t kHeaderSize = 4;

// How far a block can expand. A block is a run of sequences: a token byte,
// literals (their length continued by extension bytes while those are 255),
// a 2-byte offset and a match of 4 + (token nibble, up to 15) + (extension
// bytes) bytes; the last sequence is literals only. Literal bytes decode one
// to one, and a match sequence of i input bytes has at most i - 3 match
// extension bytes e, so it decodes to at most 255 * e + 18 + (its literals)
// <= 255 * i - 747 bytes. The last sequence of i bytes decodes to at most
// i - 1. A block of b bytes therefore decodes to at most
// max(b - 1, 255 * b - 1002) bytes, and 255 * b lies at least 12 bytes beyond
// that (for b >= 1). Those 12 bytes matter: the decoder treats literals or
// matches ending within 12 bytes of its buffer end specially, so with this
// much room it accepts and produces exactly what it would with any larger
// buffer.
uint64_t decoded_size_limit(std::size_t block_size) noexcept { return 255 * uint64_t{block_size}; }

}  // namespace

std::size_t lz4_compress_room(std::span<const uint8_t> data) {
    if (data.size() > static_cast<std::size_t>(INT_MAX)) {
        throw RuntimeError("Compression input too long.");
    }
    const int bound = LZ4_compressBound(static_cast<int>(data.size()));
    if (bound <= 0) throw RuntimeError("Compression input too long.");
    return kHeaderSize + static_cast<std::size_t>(bound);
}

std::size_t lz4_compress_into(std::span<const uint8_t> data, uint8_t* out) {
    const int size = static_cast<int>(data.size());
    store_u32(out, static_cast<uint32_t>(size));
    const int written = LZ4_compress_default(reinterpret_cast<const char*>(data.data()),
                                             reinterpret_cast<char*>(out + kHeaderSize), size,
                                             LZ4_compressBound(size));
    if (written <= 0) throw RuntimeError("Compression failed");
    return kHeaderSize + static_cast<std::size_t>(written);
}

std::vector<uint8_t> lz4_compress(std::span<const uint8_t> data) {
    std::vector<uint8_t> out(lz4_compress_room(data));
    out.resize(lz4_compress_into(data, out.data()));
    return out;
}

std::size_t lz4_decompress_room(std::span<const uint8_t> data) {
    if (data.size() < kHeaderSize) {
        throw RuntimeError("Source buffer must at least contain size prefix.");
    }
    if (data[3] >= 0x80) throw RuntimeError("Parsed size prefix in buffer must not be negative.");
    const uint32_t size = load_u32(data.data());
    if (LZ4_compressBound(static_cast<int>(size)) <= 0) {
        throw RuntimeError("Given size parameter is too big");
    }
    // The header only claims a size: never allocate more than the block can
    // actually produce, so a short input cannot make us reserve gigabytes.
    const std::span<const uint8_t> block = data.subspan(kHeaderSize);
    if (block.size() > static_cast<std::size_t>(INT_MAX)) {
        // The decoder cannot take it, and no block of an accepted size is
        // this long.
        throw RuntimeError("Decompression failed. Input invalid or too long?");
    }
    return static_cast<std::size_t>(std::min<uint64_t>(size, decoded_size_limit(block.size())));
}

std::size_t lz4_decompress_into(std::span<const uint8_t> data, uint8_t* out, std::size_t room) {
    const std::span<const uint8_t> block = data.subspan(kHeaderSize);
    const int produced = LZ4_decompress_safe(
        reinterpret_cast<const char*>(block.data()), reinterpret_cast<char*>(out),
        static_cast<int>(block.size()), static_cast<int>(room));
    if (produced < 0) throw RuntimeError("Decompression failed. Input invalid or too long?");
    return static_cast<std::size_t>(produced);
}

std::vector<uint8_t> lz4_decompress(std::span<const uint8_t> data) {
    const std::size_t room = lz4_decompress_room(data);
    // Left uninitialised: a large buffer is then only address space, and
    // memory is committed page by page as the decoder writes, so garbage
    // behind a large header costs no more than the bytes it decodes to.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[room]);
    const std::size_t produced = lz4_decompress_into(data, buffer.get(), room);
    return std::vector<uint8_t>(buffer.get(), buffer.get() + produced);
}

}  // namespace core
