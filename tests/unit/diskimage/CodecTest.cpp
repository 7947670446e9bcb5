#include "diskimage/Adc.h"
#include "diskimage/Lzfse.h"
#include "diskimage/MacRoman.h"
#include "diskimage/RtfText.h"

#include <QByteArray>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace corvanta::udif;

namespace {

QByteArray le32(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((value >> (8 * i)) & 0xFF);
    return bytes;
}

QByteArray lzvnBlock(const QByteArray& payload, quint32 rawBytes)
{
    return "bvxn" + le32(rawBytes) + le32(quint32(payload.size())) + payload;
}

const QByteArray endOfStream("bvx$");
const QByteArray lzvnEnd("\x06\0\0\0\0\0\0\0", 8);

// "abc" as a literal, then 8 bytes from 3 back, then 'X' and 3 bytes from the previous distance.
const QByteArray lzvnSample = QByteArray("\xE3"
                                         "abc"
                                         "\x28\x03"
                                         "\x46"
                                         "X",
                                  8)
    + lzvnEnd;

std::optional<QByteArray> lzfse(const QByteArray& stream, qsizetype outputSize)
{
    QByteArray out(outputSize, '\0');
    const bool ok = decodeLzfse(
        { reinterpret_cast<const std::uint8_t*>(stream.constData()), std::size_t(stream.size()) },
        { reinterpret_cast<std::uint8_t*>(out.data()), std::size_t(out.size()) });
    return ok ? std::optional(out) : std::nullopt;
}

std::optional<QByteArray> adc(const QByteArray& stream, qsizetype outputSize)
{
    QByteArray out(outputSize, '\0');
    const bool ok
        = decodeAdc({ reinterpret_cast<const std::uint8_t*>(stream.constData()), std::size_t(stream.size()) },
            { reinterpret_cast<std::uint8_t*>(out.data()), std::size_t(out.size()) });
    return ok ? std::optional(out) : std::nullopt;
}

struct StreamCase {
    const char* name;
    QByteArray stream;
    qsizetype outputSize;
    std::optional<QByteArray> expected; // none: must be refused
};

TEST(Lzfse, DecodesAndRefusesHandMadeStreams)
{
    const StreamCase cases[] = {
        { "uncompressed block", "bvx-" + le32(5) + "hello" + endOfStream, 5, QByteArray("hello") },
        { "lzvn literals, matches, previous distance", lzvnBlock(lzvnSample, 15) + endOfStream, 15,
            QByteArray("abcabcabcabXabX") },
        { "matches reach into the previous block",
            "bvx-" + le32(3) + "xyz" + lzvnBlock(QByteArray("\x30\x03", 2) + lzvnEnd, 9) + endOfStream, 12,
            QByteArray("xyzxyzxyzxyz") },
        { "no end-of-stream block", "bvx-" + le32(5) + "hello", 5, std::nullopt },
        { "stream shorter than the chunk", "bvx-" + le32(5) + "hello" + endOfStream, 6, std::nullopt },
        { "stream longer than the chunk", "bvx-" + le32(5) + "hello" + endOfStream, 4, std::nullopt },
        { "block size past the input", "bvx-" + le32(500) + "hello" + endOfStream, 500, std::nullopt },
        { "unknown block", "bvxZ" + le32(0) + endOfStream, 0, std::nullopt },
        { "version 1 block", "bvx1" + QByteArray(800, '\0') + endOfStream, 0, std::nullopt },
        { "lzvn distance before the start", lzvnBlock(QByteArray("\x28\x03", 2) + lzvnEnd, 8) + endOfStream,
            8, std::nullopt },
        { "lzvn undefined opcode", lzvnBlock(QByteArray("\x70", 1) + lzvnEnd, 1) + endOfStream, 1,
            std::nullopt },
        { "lzvn without its end",
            lzvnBlock(QByteArray("\xE3"
                                 "abc",
                          4),
                3)
                + endOfStream,
            3, std::nullopt },
        { "lzvn raw size disagrees", lzvnBlock(lzvnSample, 20) + endOfStream, 20, std::nullopt },
        { "lzvn previous distance before any",
            lzvnBlock(QByteArray("\x46"
                                 "X",
                          2)
                    + lzvnEnd,
                4)
                + endOfStream,
            4, std::nullopt },
        { "lzfse header cut short", "bvx2" + QByteArray(20, '\0'), 16, std::nullopt },
        { "lzfse header with impossible states", "bvx2" + le32(16) + QByteArray(24, '\xFF') + endOfStream, 16,
            std::nullopt },
    };
    for (const StreamCase& row : cases)
        EXPECT_EQ(lzfse(row.stream, row.outputSize), row.expected) << row.name;
}

TEST(Adc, DecodesAndRefusesHandMadeStreams)
{
    const StreamCase cases[] = {
        { "literal run", QByteArray("\x82xyz"), 3, QByteArray("xyz") },
        { "two- and three-byte copies", QByteArray("\x82xyz\x04\x02\x41\x00\x06", 9), 12,
            QByteArray("xyzxyzxxyzxy") },
        { "overlapping copy repeats a byte", QByteArray("\x80q\x1C\x00", 4), 11, QByteArray("qqqqqqqqqqq") },
        { "copy before the start", QByteArray("\x80q\x04\x05", 4), 5, std::nullopt },
        { "copy past the end", QByteArray("\x82xyz\x04\x02", 6), 5, std::nullopt },
        { "literal cut short", QByteArray("\x85xy"), 6, std::nullopt },
        { "stream ends early", QByteArray("\x82xyz"), 8, std::nullopt },
        { "three-byte code cut short", QByteArray("\x82xyz\x41\x00", 6), 9, std::nullopt },
    };
    for (const StreamCase& row : cases)
        EXPECT_EQ(adc(row.stream, row.outputSize), row.expected) << row.name;
}

TEST(MacRoman, RoundTripsTheCharactersOfAgreements)
{
    const QString text = u"Café – “quoted” ™ … Ω"_s;
    EXPECT_EQ(fromMacRoman(toMacRoman(text)), text);
    EXPECT_EQ(toMacRoman(u"\u20AC"_s), QByteArray("\xDB"));
    EXPECT_EQ(toMacRoman(u"\u4E2D"_s), QByteArray("?"));
    EXPECT_EQ(fromMacRoman(QByteArray("Save\xC9")), u"Save\u2026"_s);
}

TEST(Rtf, KeepsTheTextAndDropsTheMarkup)
{
    const struct {
        const char* rtf;
        QString text;
    } cases[] = {
        { R"({\rtf1\ansi{\fonttbl\f0\fswiss Helvetica;}{\colortbl;\red255\green0\blue0;}\f0\fs24 Hello\par World})",
            u"Hello\nWorld"_s },
        { R"({\rtf1 caf\'e9 \u8217?s \emdash  end})", u"café ’s — end"_s },
        { R"({\rtf1{\*\generator Writer;}Braces \{ and \} and \\ stay})", u"Braces { and } and \\ stay"_s },
        { R"({\rtf1\uc2 A\u916\'c4\'d4B})", u"AΔB"_s },
        { R"({\rtf1 Line\line Tab\tab end)", u"Line\nTab\tend"_s },
    };
    for (const auto& row : cases)
        EXPECT_EQ(rtfToText(QByteArray(row.rtf)), row.text) << row.rtf;
}

} // namespace
