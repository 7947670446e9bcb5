#pragma once

#include "diskimage/UdifStructures.h"

#include <cstdint>
#include <functional>

#include <QIODevice>

namespace corvanta::udif {

// Receives decompressed bytes in order.
using ChunkOutput = std::function<void(const char* data, std::size_t size)>;

// Decompresses the chunk stored at [offset, offset + length) of `image` into
// exactly `expected` bytes, streaming zlib, bzip2, LZMA and raw chunks and
// buffering ADC and LZFSE ones (at most 64 MiB each). Throws DiskImageError
// when the chunk is malformed or yields another size.
void decodeChunk(QIODevice& image, std::uint64_t offset, std::uint64_t length, ChunkType type,
    std::uint64_t expected, const ChunkOutput& output);

// Compresses one chunk's bytes for the writer (zlib, bzip2 or LZMA).
QByteArray encodeChunk(ChunkType type, const QByteArray& data, int level);

} // namespace corvanta::udif
