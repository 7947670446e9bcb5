#include "diskimage/Lzfse.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include <QtEndian>

namespace corvanta::udif {

namespace {

constexpr std::uint32_t endOfStreamMagic = 0x24787662; // "bvx$"
constexpr std::uint32_t uncompressedMagic = 0x2d787662; // "bvx-"
constexpr std::uint32_t lzvnMagic = 0x6e787662; // "bvxn"
constexpr std::uint32_t lzfseV2Magic = 0x32787662; // "bvx2"

constexpr int lSymbols = 20;
constexpr int mSymbols = 20;
constexpr int dSymbols = 64;
constexpr int literalSymbols = 256;
constexpr int lStates = 64;
constexpr int mStates = 64;
constexpr int dStates = 256;
constexpr int literalStates = 1024;
constexpr std::uint32_t maxMatches = 10000;
constexpr std::uint32_t maxLiterals = 4 * maxMatches;
constexpr std::size_t v2FixedHeaderSize = 32;

// L, M and D are coded as a symbol (through FSE) plus raw low-order bits.
constexpr std::array<std::uint8_t, lSymbols> lExtraBits { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2,
    3, 5, 8 };
constexpr std::array<std::int32_t, lSymbols> lBase { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
    20, 28, 60 };
constexpr std::array<std::uint8_t, mSymbols> mExtraBits { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3,
    5, 8, 11 };
constexpr std::array<std::int32_t, mSymbols> mBase { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
    24, 56, 312 };
constexpr std::array<std::uint8_t, dSymbols> dExtraBits { 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4,
    4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 7, 7, 7, 7, 8, 8, 8, 8, 9, 9, 9, 9, 10, 10, 10, 10, 11, 11, 11, 11, 12,
    12, 12, 12, 13, 13, 13, 13, 14, 14, 14, 14, 15, 15, 15, 15 };
constexpr std::array<std::int32_t, dSymbols> dBase { 0, 1, 2, 3, 4, 6, 8, 10, 12, 16, 20, 24, 28, 36, 44, 52,
    60, 76, 92, 108, 124, 156, 188, 220, 252, 316, 380, 444, 508, 636, 764, 892, 1020, 1276, 1532, 1788, 2044,
    2556, 3068, 3580, 4092, 5116, 6140, 7164, 8188, 10236, 12284, 14332, 16380, 20476, 24572, 28668, 32764,
    40956, 49148, 57340, 65532, 81916, 98300, 114684, 131068, 163836, 196604, 229372 };

std::uint32_t le32(const std::uint8_t* p)
{
    return qFromLittleEndian<quint32>(p);
}
std::uint64_t le64(const std::uint8_t* p)
{
    return qFromLittleEndian<quint64>(p);
}
std::uint64_t lowBits(std::uint64_t value, int bits)
{
    return bits >= 64 ? value : value & ((std::uint64_t(1) << bits) - 1);
}

struct Output {
    std::span<std::uint8_t> buffer;
    std::size_t pos = 0;
};

// An FSE bit stream, written forwards and read backwards from its end.
// The accumulator holds 56 to 63 bits after every refill.
class BackwardBits {
public:
    BackwardBits(const std::uint8_t* lowest, const std::uint8_t* limit)
        : m_lowest(lowest)
        , m_limit(limit)
    {
    }

    // `finalBits` (-7..0) says how many bits of the last byte the encoder left unused.
    bool start(int finalBits, const std::uint8_t* end, const std::uint8_t* streamStart)
    {
        const std::ptrdiff_t take = finalBits != 0 ? 8 : 7;
        if (end - streamStart < take)
            return false;
        m_pos = end - take;
        m_accum = load(m_pos) & lowBits(~std::uint64_t(0), int(take * 8));
        m_bits = finalBits + int(take * 8);
        return m_bits >= 56 && m_bits < 64 && (m_accum >> m_bits) == 0;
    }

    bool refill()
    {
        const int bits = (63 - m_bits) & ~7;
        const std::uint8_t* from = m_pos - bits / 8;
        if (from < m_lowest)
            return false;
        m_pos = from;
        if (bits > 0)
            m_accum = (m_accum << bits) | lowBits(load(from), bits);
        m_bits += bits;
        return true;
    }

    bool pull(int count, std::uint64_t& value)
    {
        if (count < 0 || count > m_bits)
            return false;
        m_bits -= count;
        value = m_accum >> m_bits;
        m_accum = lowBits(m_accum, m_bits);
        return true;
    }

private:
    // Eight bytes at `p`, zero-padded where the buffer ends.
    std::uint64_t load(const std::uint8_t* p) const
    {
        std::uint8_t bytes[8] = {};
        std::memcpy(bytes, p, std::size_t(std::min<std::ptrdiff_t>(8, m_limit - p)));
        return le64(bytes);
    }

    const std::uint8_t* m_lowest;
    const std::uint8_t* m_limit;
    const std::uint8_t* m_pos = nullptr;
    std::uint64_t m_accum = 0;
    int m_bits = 0;
};

struct SymbolEntry {
    int bits = 0;
    std::uint8_t symbol = 0;
    std::int32_t delta = 0;
};

struct ValueEntry {
    int totalBits = 0;
    int valueBits = 0;
    std::int32_t delta = 0;
    std::int32_t base = 0;
};

// Walks the states each symbol owns: the first j0 of them read k bits,
// the rest k - 1, where k makes f << k land in [states, 2 * states).
template<typename Visit> bool forEachState(std::span<const std::uint16_t> freq, int states, Visit visit)
{
    int sum = 0;
    for (const auto f : freq)
        sum += f;
    if (sum > states)
        return false;
    const int statesClz = std::countl_zero(std::uint32_t(states));
    int state = 0;
    for (std::size_t symbol = 0; symbol < freq.size(); ++symbol) {
        const int f = freq[symbol];
        if (f == 0)
            continue;
        const int k = std::countl_zero(std::uint32_t(f)) - statesClz;
        const int j0 = ((2 * states) >> k) - f;
        for (int j = 0; j < f; ++j, ++state) {
            if (j < j0)
                visit(state, int(symbol), k, ((f + j) << k) - states);
            else
                visit(state, int(symbol), k - 1, (j - j0) << (k - 1));
        }
    }
    return true;
}

bool buildSymbolTable(std::span<const std::uint16_t> freq, std::vector<SymbolEntry>& table)
{
    table.assign(literalStates, SymbolEntry {});
    return forEachState(freq, literalStates, [&](int state, int symbol, int bits, int delta) {
        table[std::size_t(state)] = SymbolEntry { bits, std::uint8_t(symbol), delta };
    });
}

bool buildValueTable(std::span<const std::uint16_t> freq, int states, std::span<const std::uint8_t> extraBits,
    std::span<const std::int32_t> base, std::vector<ValueEntry>& table)
{
    table.assign(std::size_t(states), ValueEntry {});
    return forEachState(freq, states, [&](int state, int symbol, int bits, int delta) {
        const int extra = extraBits[std::size_t(symbol)];
        table[std::size_t(state)] = ValueEntry { bits + extra, extra, delta, base[std::size_t(symbol)] };
    });
}

bool decodeSymbol(
    std::uint16_t& state, const std::vector<SymbolEntry>& table, BackwardBits& bits, std::uint8_t& symbol)
{
    if (state >= table.size())
        return false;
    const SymbolEntry& entry = table[state];
    std::uint64_t read = 0;
    if (!bits.pull(entry.bits, read))
        return false;
    symbol = entry.symbol;
    state = std::uint16_t(entry.delta + std::int64_t(read));
    return true;
}

bool decodeValue(
    std::uint16_t& state, const std::vector<ValueEntry>& table, BackwardBits& bits, std::int32_t& value)
{
    if (state >= table.size())
        return false;
    const ValueEntry& entry = table[state];
    std::uint64_t read = 0;
    if (!bits.pull(entry.totalBits, read))
        return false;
    state = std::uint16_t(entry.delta + std::int64_t(read >> entry.valueBits));
    value = entry.base + std::int32_t(lowBits(read, entry.valueBits));
    return true;
}

// The frequency tables of a v2 header: 360 values in a prefix code whose
// lengths are told by the low five bits.
bool decodeFrequencies(
    const std::uint8_t* from, const std::uint8_t* end, std::array<std::uint16_t, 360>& freq)
{
    freq.fill(0);
    if (from == end)
        return true;
    static constexpr std::array<std::int8_t, 32> codeBits { 2, 3, 2, 5, 2, 3, 2, 8, 2, 3, 2, 5, 2, 3, 2, 14,
        2, 3, 2, 5, 2, 3, 2, 8, 2, 3, 2, 5, 2, 3, 2, 14 };
    static constexpr std::array<std::int8_t, 32> codeValue { 0, 2, 1, 4, 0, 3, 1, -1, 0, 2, 1, 5, 0, 3, 1, -1,
        0, 2, 1, 6, 0, 3, 1, -1, 0, 2, 1, 7, 0, 3, 1, -1 };
    std::uint32_t accum = 0;
    int accumBits = 0;
    for (auto& value : freq) {
        while (from < end && accumBits + 8 <= 32) {
            accum |= std::uint32_t(*from++) << accumBits;
            accumBits += 8;
        }
        const int bits = codeBits[accum & 31];
        if (bits > accumBits)
            return false;
        if (bits == 8)
            value = std::uint16_t(8 + ((accum >> 4) & 0xF));
        else if (bits == 14)
            value = std::uint16_t(24 + ((accum >> 4) & 0x3FF));
        else
            value = std::uint16_t(codeValue[accum & 31]);
        accum >>= bits;
        accumBits -= bits;
    }
    return accumBits < 8 && from == end;
}

class BlockDecoder {
public:
    bool decodeV2(std::span<const std::uint8_t> in, std::size_t& pos, Output& out);

private:
    std::vector<SymbolEntry> m_literalTable;
    std::vector<ValueEntry> m_lTable;
    std::vector<ValueEntry> m_mTable;
    std::vector<ValueEntry> m_dTable;
    std::vector<std::uint8_t> m_literals;
};

bool BlockDecoder::decodeV2(std::span<const std::uint8_t> in, std::size_t& pos, Output& out)
{
    if (in.size() - pos < v2FixedHeaderSize)
        return false;
    const std::uint8_t* header = in.data() + pos;
    const std::uint32_t rawBytes = le32(header + 4);
    const std::uint64_t v0 = le64(header + 8);
    const std::uint64_t v1 = le64(header + 16);
    const std::uint64_t v2 = le64(header + 24);
    const auto field
        = [](std::uint64_t v, int offset, int bits) { return std::uint32_t(lowBits(v >> offset, bits)); };
    const std::uint32_t literalCount = field(v0, 0, 20);
    const std::uint32_t literalPayload = field(v0, 20, 20);
    const std::uint32_t matchCount = field(v0, 40, 20);
    const int literalBits = int(field(v0, 60, 3)) - 7;
    std::array<std::uint16_t, 4> literalState {};
    for (int i = 0; i < 4; ++i)
        literalState[std::size_t(i)] = std::uint16_t(field(v1, 10 * i, 10));
    const std::uint32_t lmdPayload = field(v1, 40, 20);
    const int lmdBits = int(field(v1, 60, 3)) - 7;
    const std::uint32_t headerSize = field(v2, 0, 32);
    std::uint16_t lState = std::uint16_t(field(v2, 32, 10));
    std::uint16_t mState = std::uint16_t(field(v2, 42, 10));
    std::uint16_t dState = std::uint16_t(field(v2, 52, 10));

    if (headerSize < v2FixedHeaderSize || literalCount > maxLiterals || matchCount > maxMatches
        || lState >= lStates || mState >= mStates || dState >= dStates)
        return false;
    const std::uint64_t blockSize = std::uint64_t(headerSize) + literalPayload + lmdPayload;
    if (blockSize > in.size() - pos || rawBytes > out.buffer.size() - out.pos)
        return false;
    for (const auto state : literalState)
        if (state >= literalStates)
            return false;

    std::array<std::uint16_t, 360> freq {};
    if (!decodeFrequencies(header + v2FixedHeaderSize, header + headerSize, freq))
        return false;
    const std::span<const std::uint16_t> all(freq);
    if (!buildValueTable(all.subspan(0, lSymbols), lStates, lExtraBits, lBase, m_lTable)
        || !buildValueTable(all.subspan(lSymbols, mSymbols), mStates, mExtraBits, mBase, m_mTable)
        || !buildValueTable(all.subspan(lSymbols + mSymbols, dSymbols), dStates, dExtraBits, dBase, m_dTable)
        || !buildSymbolTable(all.subspan(lSymbols + mSymbols + dSymbols, literalSymbols), m_literalTable))
        return false;

    // Literals: four interleaved FSE streams, read back from the end of their payload.
    const std::uint8_t* limit = in.data() + in.size();
    const std::uint8_t* literalsEnd = header + headerSize + literalPayload;
    m_literals.assign((literalCount + 3u) & ~3u, 0);
    {
        BackwardBits bits(in.data(), limit);
        if (!bits.start(literalBits, literalsEnd, in.data()))
            return false;
        for (std::uint32_t i = 0; i < literalCount; i += 4) {
            if (!bits.refill())
                return false;
            for (std::size_t j = 0; j < 4; ++j)
                if (!decodeSymbol(literalState[j], m_literalTable, bits, m_literals[i + j]))
                    return false;
        }
    }

    // Literal lengths, match lengths and distances, executed as they are read.
    const std::uint8_t* lmdStart = literalsEnd;
    BackwardBits bits(in.data(), limit);
    if (!bits.start(lmdBits, lmdStart + lmdPayload, lmdStart))
        return false;
    const std::size_t blockEnd = out.pos + rawBytes;
    std::size_t literalPos = 0;
    std::int64_t distance = -1;
    for (std::uint32_t i = 0; i < matchCount; ++i) {
        std::int32_t l = 0;
        std::int32_t m = 0;
        std::int32_t d = 0;
        if (!bits.refill() || !decodeValue(lState, m_lTable, bits, l)
            || !decodeValue(mState, m_mTable, bits, m) || !decodeValue(dState, m_dTable, bits, d))
            return false;
        if (d != 0)
            distance = d;
        if (std::uint64_t(l) > literalCount - literalPos
            || std::uint64_t(l) + std::uint64_t(m) > blockEnd - out.pos)
            return false;
        std::copy_n(
            m_literals.begin() + std::ptrdiff_t(literalPos), l, out.buffer.begin() + std::ptrdiff_t(out.pos));
        literalPos += std::size_t(l);
        out.pos += std::size_t(l);
        if (m > 0 && (distance <= 0 || std::uint64_t(distance) > out.pos))
            return false;
        for (std::int32_t k = 0; k < m; ++k, ++out.pos)
            out.buffer[out.pos] = out.buffer[out.pos - std::size_t(distance)];
    }
    if (out.pos != blockEnd)
        return false;
    pos += std::size_t(blockSize);
    return true;
}

// LZVN: byte-oriented LZ77 whose opcodes carry literal length L, match
// length M and distance D; D persists from one opcode to the next.
bool decodeLzvn(std::span<const std::uint8_t> in, Output& out, std::size_t rawBytes)
{
    if (rawBytes > out.buffer.size() - out.pos)
        return false;
    const std::size_t end = out.pos + rawBytes;
    std::size_t pos = 0;
    std::size_t distance = 0;
    const auto copyLiteral = [&](std::size_t length) {
        if (in.size() - pos < length || end - out.pos < length)
            return false;
        std::copy_n(in.begin() + std::ptrdiff_t(pos), length, out.buffer.begin() + std::ptrdiff_t(out.pos));
        pos += length;
        out.pos += length;
        return true;
    };
    const auto copyMatch = [&](std::size_t length) {
        if (distance == 0 || distance > out.pos || end - out.pos < length)
            return false;
        for (std::size_t i = 0; i < length; ++i, ++out.pos)
            out.buffer[out.pos] = out.buffer[out.pos - distance];
        return true;
    };
    const auto have = [&](std::size_t count) { return in.size() - pos >= count; };

    while (true) {
        if (!have(1))
            return false;
        const std::uint8_t op = in[pos];
        if (op == 0x06) { // end of stream: the opcode and seven zero bytes
            if (!have(8))
                return false;
            pos += 8;
            return pos == in.size() && out.pos == end;
        }
        if (op == 0x0E || op == 0x16) { // no operation
            ++pos;
            continue;
        }
        if (op >= 0xF0) { // match only, previous distance
            std::size_t length = op & 0x0Fu;
            if (op == 0xF0) {
                if (!have(2))
                    return false;
                length = in[pos + 1] + 16u;
                pos += 2;
            } else {
                pos += 1;
            }
            if (!copyMatch(length))
                return false;
            continue;
        }
        if (op >= 0xE0) { // literal only
            std::size_t length = op & 0x0Fu;
            if (op == 0xE0) {
                if (!have(2))
                    return false;
                length = in[pos + 1] + 16u;
                pos += 2;
            } else {
                pos += 1;
            }
            if (!copyLiteral(length))
                return false;
            continue;
        }
        if (op >= 0xD0 || (op >= 0x70 && op < 0x80))
            return false; // undefined
        std::size_t literal = 0;
        std::size_t match = 0;
        if (op >= 0xA0 && op < 0xC0) { // medium distance: 101LLMMM DDDDDDMM DDDDDDDD
            if (!have(3))
                return false;
            const std::uint16_t rest = std::uint16_t(in[pos + 1] | (in[pos + 2] << 8));
            literal = (op >> 3) & 0x03u;
            match = (((op & 0x07u) << 2) | (rest & 0x03u)) + 3;
            distance = rest >> 2;
            pos += 3;
        } else if ((op & 0x07) == 0x07) { // large distance: LLMMM111 DDDDDDDD DDDDDDDD
            if (!have(3))
                return false;
            literal = op >> 6;
            match = ((op >> 3) & 0x07u) + 3;
            distance = std::size_t(in[pos + 1] | (in[pos + 2] << 8));
            pos += 3;
        } else if ((op & 0x07) == 0x06) { // previous distance: LLMMM110
            if (op < 0x40)
                return false; // undefined
            literal = op >> 6;
            match = ((op >> 3) & 0x07u) + 3;
            pos += 1;
        } else { // small distance: LLMMMDDD DDDDDDDD
            if (!have(2))
                return false;
            literal = op >> 6;
            match = ((op >> 3) & 0x07u) + 3;
            distance = (std::size_t(op & 0x07u) << 8) | in[pos + 1];
            pos += 2;
        }
        if (!copyLiteral(literal) || !copyMatch(match))
            return false;
    }
}

} // namespace

bool decodeLzfse(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    Output output { out, 0 };
    BlockDecoder decoder;
    std::size_t pos = 0;
    while (true) {
        if (in.size() - pos < 4)
            return false;
        const std::uint32_t magic = le32(in.data() + pos);
        switch (magic) {
        case endOfStreamMagic:
            return output.pos == out.size();
        case uncompressedMagic: {
            if (in.size() - pos < 8)
                return false;
            const std::size_t length = le32(in.data() + pos + 4);
            if (in.size() - pos - 8 < length || out.size() - output.pos < length)
                return false;
            std::copy_n(
                in.begin() + std::ptrdiff_t(pos + 8), length, out.begin() + std::ptrdiff_t(output.pos));
            output.pos += length;
            pos += 8 + length;
            break;
        }
        case lzvnMagic: {
            if (in.size() - pos < 12)
                return false;
            const std::size_t rawBytes = le32(in.data() + pos + 4);
            const std::size_t payload = le32(in.data() + pos + 8);
            if (in.size() - pos - 12 < payload
                || !decodeLzvn(in.subspan(pos + 12, payload), output, rawBytes))
                return false;
            pos += 12 + payload;
            break;
        }
        case lzfseV2Magic:
            if (!decoder.decodeV2(in, pos, output))
                return false;
            break;
        default:
            return false;
        }
    }
}

} // namespace corvanta::udif
