#include "sources/ElementSpans.h"

#include <bit>

#include <simdjson.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace corvanta {

namespace {

[[noreturn]] void fail()
{
    throw simdjson::simdjson_error(simdjson::TAPE_ERROR);
}

// Bit i set when an odd number of quotes lie at or before byte i: the bytes
// of strings, opening quotes included.
std::uint64_t prefixXor(std::uint64_t bits)
{
    for (int shift = 1; shift < 64; shift *= 2)
        bits ^= bits << shift;
    return bits;
}

// The bytes that follow an unescaped backslash. `carry` says the block's
// first byte is one (the previous block ended with such a backslash) and is
// set for the next block. Backslashes are rare, so they are walked one by one.
std::uint64_t escapedBy(std::uint64_t backslashes, std::uint64_t& carry)
{
    std::uint64_t escaped = carry;
    carry = 0;
    for (; backslashes != 0; backslashes &= backslashes - 1) {
        const int at = std::countr_zero(backslashes);
        if ((escaped >> at) & 1)
            continue; // an escaped backslash escapes nothing
        if (at == 63)
            carry = 1;
        else
            escaped |= std::uint64_t(1) << (at + 1);
    }
    return escaped;
}

// std::popcount is a library call unless the build may assume the
// instruction; this is what that call does, inline.
std::uint64_t bitCount(std::uint64_t bits)
{
    bits -= (bits >> 1) & 0x5555555555555555u;
    bits = (bits & 0x3333333333333333u) + ((bits >> 2) & 0x3333333333333333u);
    bits = (bits + (bits >> 4)) & 0x0f0f0f0f0f0f0f0fu;
    return (bits * 0x0101010101010101u) >> 56;
}

} // namespace

ElementSpans::ElementSpans(std::string_view text)
    : m_text(text)
{
    skipSpace();
    if (!take('['))
        fail();
    skipSpace();
    if (take(']'))
        finish();
}

std::optional<std::string_view> ElementSpans::next()
{
    if (m_done)
        return std::nullopt;
    const std::size_t start = m_at;
    skipObject();
    const std::string_view span = m_text.substr(start, m_at - start);
    skipSpace();
    if (take(']'))
        finish();
    else if (!take(','))
        fail();
    skipSpace();
    return span;
}

bool ElementSpans::take(char c)
{
    if (m_at >= m_text.size() || m_text[m_at] != c)
        return false;
    ++m_at;
    return true;
}

void ElementSpans::skipSpace()
{
    while (m_at < m_text.size()
        && (m_text[m_at] == ' ' || m_text[m_at] == '\n' || m_text[m_at] == '\r' || m_text[m_at] == '\t'))
        ++m_at;
}

// After the array only white space may follow.
void ElementSpans::finish()
{
    skipSpace();
    if (m_at != m_text.size())
        fail();
    m_done = true;
}

// Casks are objects; any other element turns the document down. The text is
// classified 64 bytes at a time, as simdjson's own first stage does: strings
// are most of the index, and a byte at a time their ends cost a mispredicted
// branch each.
void ElementSpans::skipObject()
{
    if (m_at >= m_text.size() || m_text[m_at] != '{')
        fail();
    std::uint64_t depth = 0;
    std::uint64_t inString = 0; // all ones when the last block ended inside a string
    std::uint64_t escapeCarry = 0;
    for (std::size_t at = m_at; at < m_text.size(); at += 64) {
        const std::size_t left = m_text.size() - at;
        const std::uint64_t valid = left >= 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << left) - 1;
        const BlockMasks block = masks(m_text.data() + at);
        const std::uint64_t escaped = escapedBy(block.backslash & valid, escapeCarry);
        const std::uint64_t strings = prefixXor(block.quote & valid & ~escaped) ^ inString;
        inString = std::uint64_t(std::int64_t(strings) >> 63);
        const std::uint64_t open = block.open & valid & ~strings;
        const std::uint64_t close = block.close & valid & ~strings;
        // Most blocks lie inside the element: its end can't be in them.
        const std::uint64_t closing = bitCount(close);
        if (closing < depth) {
            depth = depth + bitCount(open) - closing;
            continue;
        }
        for (std::uint64_t structural = open | close; structural != 0; structural &= structural - 1) {
            const int bit = std::countr_zero(structural);
            if ((open >> bit) & 1) {
                ++depth;
            } else if (--depth == 0) {
                m_at = at + std::size_t(bit) + 1;
                return;
            }
        }
    }
    fail();
}

ElementSpans::BlockMasks ElementSpans::masks(const char* block)
{
#if defined(__SSE2__)
    BlockMasks out;
    const __m128i foldCase = _mm_set1_epi8(0x20); // '[' | 0x20 is '{', ']' | 0x20 is '}'
    __m128i backslashes[4];
    __m128i anyBackslash = _mm_setzero_si128();
    for (int part = 0; part < 4; ++part) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * part));
        const __m128i folded = _mm_or_si128(bytes, foldCase);
        const int shift = 16 * part;
        out.quote
            |= std::uint64_t(std::uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')))))
            << shift;
        out.open
            |= std::uint64_t(std::uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(folded, _mm_set1_epi8('{')))))
            << shift;
        out.close
            |= std::uint64_t(std::uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(folded, _mm_set1_epi8('}')))))
            << shift;
        backslashes[part] = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\'));
        anyBackslash = _mm_or_si128(anyBackslash, backslashes[part]);
    }
    // Backslashes are rare: most blocks have none to place.
    if (_mm_movemask_epi8(anyBackslash) != 0) {
        for (int part = 0; part < 4; ++part)
            out.backslash |= std::uint64_t(std::uint32_t(_mm_movemask_epi8(backslashes[part])))
                << (16 * part);
    }
    return out;
#elif defined(__aarch64__)
    const uint8x16_t weights = { 1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128 };
    uint8x16_t bytes[4];
    for (int part = 0; part < 4; ++part)
        bytes[part] = vld1q_u8(reinterpret_cast<const std::uint8_t*>(block) + 16 * part);
    // Each byte's weight, added up pairwise three times: one bit per byte.
    const auto bitsOf = [&](uint8x16_t fold, std::uint8_t c) {
        uint8x16_t found[4];
        for (int part = 0; part < 4; ++part)
            found[part] = vandq_u8(vceqq_u8(vorrq_u8(bytes[part], fold), vdupq_n_u8(c)), weights);
        uint8x16_t sum = vpaddq_u8(vpaddq_u8(found[0], found[1]), vpaddq_u8(found[2], found[3]));
        sum = vpaddq_u8(sum, sum);
        return vgetq_lane_u64(vreinterpretq_u64_u8(sum), 0);
    };
    const uint8x16_t none = vdupq_n_u8(0);
    const uint8x16_t foldCase = vdupq_n_u8(0x20);
    return { bitsOf(none, '"'), bitsOf(none, '\\'), bitsOf(foldCase, '{'), bitsOf(foldCase, '}') };
#else
    return masksByteByByte(block);
#endif
}

ElementSpans::BlockMasks ElementSpans::masksByteByByte(const char* block)
{
    BlockMasks out;
    for (int i = 0; i < 64; ++i) {
        const std::uint64_t bit = std::uint64_t(1) << i;
        switch (block[i]) {
        case '"':
            out.quote |= bit;
            break;
        case '\\':
            out.backslash |= bit;
            break;
        case '{':
        case '[':
            out.open |= bit;
            break;
        case '}':
        case ']':
            out.close |= bit;
            break;
        default:
            break;
        }
    }
    return out;
}

} // namespace corvanta
