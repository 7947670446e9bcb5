#include "diskimage/ChunkDecoder.h"

#include "diskimage/Adc.h"
#include "diskimage/Lzfse.h"
#include "diskimage/UdifErrors.h"
#include "platform/DiskImages.h"

#include <algorithm>
#include <vector>

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>

namespace corvanta::udif {

namespace {

constexpr std::size_t pieceSize = 256 * 1024;
constexpr std::uint64_t maxBufferedChunk = 64ull * 1024 * 1024;

[[noreturn]] void undecodable()
{
    throw DiskImageError(undecodableMessage());
}

// Reads the compressed bytes piece by piece, never past the chunk.
class ChunkInput {
public:
    ChunkInput(QIODevice& image, std::uint64_t offset, std::uint64_t length)
        : m_image(image)
        , m_remaining(length)
    {
        if (!m_image.seek(qint64(offset)))
            undecodable();
    }

    // Empty when the chunk is used up.
    std::span<const std::uint8_t> next()
    {
        const auto want = std::min<std::uint64_t>(m_remaining, pieceSize);
        m_buffer.resize(want);
        if (want == 0)
            return {};
        if (m_image.read(reinterpret_cast<char*>(m_buffer.data()), qint64(want)) != qint64(want))
            undecodable();
        m_remaining -= want;
        return { m_buffer.data(), m_buffer.size() };
    }

private:
    QIODevice& m_image;
    std::uint64_t m_remaining;
    std::vector<std::uint8_t> m_buffer;
};

// Counts what a decoder produces and refuses more than the chunk holds.
class Counted {
public:
    Counted(std::uint64_t expected, const ChunkOutput& output)
        : m_expected(expected)
        , m_output(output)
    {
    }
    void put(const std::uint8_t* data, std::size_t size)
    {
        if (size > m_expected - m_produced)
            undecodable();
        m_produced += size;
        if (size > 0)
            m_output(reinterpret_cast<const char*>(data), size);
    }
    void finish() const
    {
        if (m_produced != m_expected)
            undecodable();
    }

private:
    std::uint64_t m_expected;
    std::uint64_t m_produced = 0;
    const ChunkOutput& m_output;
};

void decodeRaw(ChunkInput& input, std::uint64_t length, Counted& out)
{
    Q_UNUSED(length);
    for (auto piece = input.next(); !piece.empty(); piece = input.next())
        out.put(piece.data(), piece.size());
    out.finish();
}

// The decoders below take more input only when the last call left room
// in the output: a full output buffer may hide pending bytes.
void decodeZlib(ChunkInput& input, Counted& out)
{
    z_stream stream {};
    if (inflateInit(&stream) != Z_OK)
        undecodable();
    std::vector<std::uint8_t> buffer(pieceSize);
    int status = Z_OK;
    bool wantsInput = true;
    try {
        while (status != Z_STREAM_END) {
            if (stream.avail_in == 0 && wantsInput) {
                const auto piece = input.next();
                if (piece.empty())
                    undecodable();
                stream.next_in = const_cast<Bytef*>(piece.data());
                stream.avail_in = uInt(piece.size());
            }
            stream.next_out = buffer.data();
            stream.avail_out = uInt(buffer.size());
            status = inflate(&stream, Z_NO_FLUSH);
            if (status == Z_BUF_ERROR && stream.avail_in == 0 && !wantsInput) {
                wantsInput = true;
                continue;
            }
            if (status != Z_OK && status != Z_STREAM_END)
                undecodable();
            out.put(buffer.data(), buffer.size() - stream.avail_out);
            wantsInput = stream.avail_out != 0;
        }
    } catch (...) {
        inflateEnd(&stream);
        throw;
    }
    inflateEnd(&stream);
    out.finish();
}

void decodeBzip2(ChunkInput& input, Counted& out)
{
    bz_stream stream {};
    if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK)
        undecodable();
    std::vector<std::uint8_t> buffer(pieceSize);
    int status = BZ_OK;
    bool wantsInput = true;
    try {
        while (status != BZ_STREAM_END) {
            if (stream.avail_in == 0 && wantsInput) {
                const auto piece = input.next();
                if (piece.empty())
                    undecodable();
                stream.next_in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(piece.data()));
                stream.avail_in = unsigned(piece.size());
            }
            stream.next_out = reinterpret_cast<char*>(buffer.data());
            stream.avail_out = unsigned(buffer.size());
            status = BZ2_bzDecompress(&stream);
            if (status != BZ_OK && status != BZ_STREAM_END)
                undecodable();
            const std::size_t produced = buffer.size() - stream.avail_out;
            out.put(buffer.data(), produced);
            wantsInput = stream.avail_out != 0;
        }
    } catch (...) {
        BZ2_bzDecompressEnd(&stream);
        throw;
    }
    BZ2_bzDecompressEnd(&stream);
    out.finish();
}

void decodeLzma(ChunkInput& input, Counted& out)
{
    lzma_stream stream = LZMA_STREAM_INIT;
    // xz streams in practice; the legacy .lzma format is accepted too.
    if (lzma_auto_decoder(&stream, 256ull * 1024 * 1024, 0) != LZMA_OK)
        undecodable();
    std::vector<std::uint8_t> buffer(pieceSize);
    lzma_ret status = LZMA_OK;
    lzma_action action = LZMA_RUN;
    bool wantsInput = true;
    try {
        while (status != LZMA_STREAM_END) {
            if (stream.avail_in == 0 && wantsInput && action == LZMA_RUN) {
                const auto piece = input.next();
                if (piece.empty()) {
                    action = LZMA_FINISH;
                } else {
                    stream.next_in = piece.data();
                    stream.avail_in = piece.size();
                }
            }
            stream.next_out = buffer.data();
            stream.avail_out = buffer.size();
            status = lzma_code(&stream, action);
            if (status != LZMA_OK && status != LZMA_STREAM_END)
                undecodable();
            const std::size_t produced = buffer.size() - stream.avail_out;
            if (action == LZMA_FINISH && status == LZMA_OK && produced == 0)
                undecodable(); // the input ended inside the stream
            out.put(buffer.data(), produced);
            wantsInput = stream.avail_out != 0;
        }
    } catch (...) {
        lzma_end(&stream);
        throw;
    }
    lzma_end(&stream);
    out.finish();
}

void decodeBuffered(
    ChunkInput& input, std::uint64_t length, ChunkType type, std::uint64_t expected, Counted& out)
{
    if (length > maxBufferedChunk || expected > maxBufferedChunk)
        undecodable();
    std::vector<std::uint8_t> compressed;
    compressed.reserve(length);
    for (auto piece = input.next(); !piece.empty(); piece = input.next())
        compressed.insert(compressed.end(), piece.begin(), piece.end());
    std::vector<std::uint8_t> decoded(expected);
    const bool ok
        = type == ChunkType::adc ? decodeAdc(compressed, decoded) : decodeLzfse(compressed, decoded);
    if (!ok)
        undecodable();
    out.put(decoded.data(), decoded.size());
    out.finish();
}

} // namespace

void decodeChunk(QIODevice& image, std::uint64_t offset, std::uint64_t length, ChunkType type,
    std::uint64_t expected, const ChunkOutput& output)
{
    ChunkInput input(image, offset, length);
    Counted out(expected, output);
    switch (type) {
    case ChunkType::raw:
        if (length != expected)
            undecodable();
        decodeRaw(input, length, out);
        return;
    case ChunkType::zlib:
        decodeZlib(input, out);
        return;
    case ChunkType::bzip2:
        decodeBzip2(input, out);
        return;
    case ChunkType::lzma:
        decodeLzma(input, out);
        return;
    case ChunkType::adc:
    case ChunkType::lzfse:
        decodeBuffered(input, length, type, expected, out);
        return;
    default:
        throw DiskImageError(unsupportedCompressionMessage());
    }
}

QByteArray encodeChunk(ChunkType type, const QByteArray& data, int level)
{
    QByteArray out;
    switch (type) {
    case ChunkType::zlib: {
        uLongf size = compressBound(uLong(data.size()));
        out.resize(qsizetype(size));
        if (compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                reinterpret_cast<const Bytef*>(data.constData()), uLong(data.size()), level)
            != Z_OK)
            return {};
        out.resize(qsizetype(size));
        return out;
    }
    case ChunkType::bzip2: {
        auto size = unsigned(data.size() + data.size() / 100 + 600);
        out.resize(qsizetype(size));
        if (BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(data.constData()),
                unsigned(data.size()), std::clamp(level, 1, 9), 0, 0)
            != BZ_OK)
            return {};
        out.resize(qsizetype(size));
        return out;
    }
    case ChunkType::lzma: {
        out.resize(qsizetype(lzma_stream_buffer_bound(std::size_t(data.size()))));
        std::size_t size = 0;
        if (lzma_easy_buffer_encode(std::uint32_t(std::clamp(level, 0, 9)), LZMA_CHECK_CRC32, nullptr,
                reinterpret_cast<const std::uint8_t*>(data.constData()), std::size_t(data.size()),
                reinterpret_cast<std::uint8_t*>(out.data()), &size, std::size_t(out.size()))
            != LZMA_OK)
            return {};
        out.resize(qsizetype(size));
        return out;
    }
    default:
        return data;
    }
}

} // namespace corvanta::udif
