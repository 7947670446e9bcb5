#include "package/Pbzx.h"

#include "package/Xar.h"

#include <QtEndian>

#include <lzma.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

xar::XarError damaged()
{
    return xar::XarError(u"The installer package is damaged: its payload isn't a sound pbzx stream."_s);
}

} // namespace

PbzxDecoder::PbzxDecoder(Sink sink)
    : m_sink(std::move(sink))
{
}

void PbzxDecoder::add(const char* bytes, qsizetype length)
{
    m_buffer.append(bytes, length);
    if (!m_header) {
        if (m_buffer.size() < 12)
            return;
        if (!startsStream(m_buffer))
            throw damaged();
        m_buffer.remove(0, 12);
        m_header = true;
    }
    while (m_buffer.size() >= 16) {
        const quint64 decodedSize = qFromBigEndian<quint64>(m_buffer.constData());
        const quint64 storedLength = qFromBigEndian<quint64>(m_buffer.constData() + 8);
        if (decodedSize > maxChunk || storedLength > maxChunk)
            throw damaged();
        if (quint64(m_buffer.size()) < 16 + storedLength)
            return;
        chunk(m_buffer.mid(16, qsizetype(storedLength)), decodedSize);
        m_buffer.remove(0, 16 + qsizetype(storedLength));
    }
}

void PbzxDecoder::finish()
{
    if (!m_header || !m_buffer.isEmpty())
        throw damaged();
}

void PbzxDecoder::chunk(const QByteArray& stored, quint64 decodedSize)
{
    if (!stored.startsWith("\xFD"
                           "7zXZ")) {
        if (quint64(stored.size()) != decodedSize)
            throw damaged();
        m_sink(stored.constData(), stored.size());
        return;
    }
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&stream, 256ULL << 20, 0) != LZMA_OK)
        throw damaged();
    QByteArray out(qsizetype(decodedSize) + 1, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<const uint8_t*>(stored.constData());
    stream.avail_in = std::size_t(stored.size());
    stream.next_out = reinterpret_cast<uint8_t*>(out.data());
    stream.avail_out = std::size_t(out.size());
    const lzma_ret status = lzma_code(&stream, LZMA_FINISH);
    const std::size_t produced = std::size_t(out.size()) - stream.avail_out;
    lzma_end(&stream);
    // One byte more than stated leaves room to notice a chunk that runs long.
    if (status != LZMA_STREAM_END || produced != decodedSize)
        throw damaged();
    m_sink(out.constData(), qsizetype(produced));
}

} // namespace corvanta
