#pragma once

#include <functional>

#include <QByteArray>

namespace corvanta {

// Decodes a pbzx stream, the chunked XZ framing of newer package payloads:
// "pbzx", a 64-bit chunk size, then chunks of (64-bit decoded size, 64-bit
// stored length, bytes), each an XZ stream or, when both sizes agree, raw.
// Bytes are pushed in as they come; decoded bytes go to `sink`. Throws XarError.
class PbzxDecoder {
public:
    using Sink = std::function<void(const char*, qsizetype)>;
    explicit PbzxDecoder(Sink sink);

    void add(const char* bytes, qsizetype length);
    // Throws when the stream stopped inside a chunk.
    void finish();

    static bool startsStream(const QByteArray& head) { return head.startsWith("pbzx"); }
    static constexpr quint64 maxChunk = 64ULL << 20;

private:
    void chunk(const QByteArray& stored, quint64 decodedSize);

    Sink m_sink;
    QByteArray m_buffer;
    bool m_header = false;
};

} // namespace corvanta
