#include "sources/JsonReader.h"

#include <array>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvanta {

namespace {

// Bytes that end the fast scan of a string: the quote, a backslash,
// control characters (invalid raw) and the start of a multi-byte sequence.
constexpr std::array<bool, 256> stringStops = [] {
    std::array<bool, 256> table {};
    for (int c = 0; c < 256; ++c)
        table[std::size_t(c)] = c < 0x20 || c == '"' || c == '\\' || c >= 0x80;
    return table;
}();

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void appendUtf8(std::string& out, std::uint32_t code)
{
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

// Length of the well-formed UTF-8 sequence at `at`, or 0 (overlong forms,
// surrogates and code points past U+10FFFF are malformed).
int utf8Length(const unsigned char* at, const unsigned char* end)
{
    const unsigned char lead = at[0];
    int length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (end - at < length)
        return 0;
    if (at[1] < low || at[1] > high)
        return 0;
    for (int i = 2; i < length; ++i) {
        if ((at[i] & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

// The first byte from `at` that ends the plain run of a string, sixteen
// bytes at a time where SIMD is at hand: reading the index is mostly this.
const char* stringRunEnd(const char* at, const char* end)
{
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    // Signed: bytes of 0x80 and above are negative, so one compare finds
    // control characters and the starts of multi-byte sequences.
    const __m128i space = _mm_set1_epi8(0x20);
    while (end - at >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i stops
            = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)),
                _mm_cmplt_epi8(bytes, space));
        const int mask = _mm_movemask_epi8(stops);
        if (mask != 0)
            return at + __builtin_ctz(unsigned(mask));
        at += 16;
    }
#endif
    while (at < end && !stringStops[static_cast<unsigned char>(*at)])
        ++at;
    return at;
}

} // namespace

const JsonNode* JsonNode::member(std::string_view key) const
{
    if (kind != Kind::object)
        return nullptr;
    for (std::size_t i = keys.size(); i-- > 0;) {
        if (keys[i] == key)
            return &items[i];
    }
    return nullptr;
}

JsonReader::JsonReader(std::string_view text)
    : m_at(text.data())
    , m_end(text.data() + text.size())
{
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF")
        m_at += 3;
}

void JsonReader::skipSpace()
{
    while (m_at < m_end && (*m_at == ' ' || *m_at == '\n' || *m_at == '\r' || *m_at == '\t'))
        ++m_at;
}

bool JsonReader::consume(char c)
{
    skipSpace();
    if (m_at < m_end && *m_at == c) {
        ++m_at;
        return true;
    }
    return false;
}

char JsonReader::peek()
{
    skipSpace();
    return m_at < m_end ? *m_at : 0;
}

bool JsonReader::atEnd()
{
    skipSpace();
    return m_at == m_end;
}

bool JsonReader::readString(std::string_view& out)
{
    skipSpace();
    return string<true>(&out);
}

bool JsonReader::readValue(JsonNode& out)
{
    out.kind = JsonNode::Kind::null;
    out.text = {};
    out.items.clear();
    out.keys.clear();
    return value(&out, 0);
}

bool JsonReader::skipValue()
{
    return value(nullptr, 0);
}

template<bool Store> bool JsonReader::string(std::string_view* out)
{
    if (m_at == m_end || *m_at != '"')
        return false;
    ++m_at;
    const char* start = m_at;
    // Only a string with escapes is copied; the rest stay views of the document.
    std::string* decoded = nullptr;
    const char* run = m_at;
    for (;;) {
        m_at = stringRunEnd(m_at, m_end);
        if (m_at == m_end)
            return false;
        const unsigned char c = static_cast<unsigned char>(*m_at);
        if (c == '"') {
            if constexpr (Store) {
                if (decoded) {
                    decoded->append(run, std::size_t(m_at - run));
                    *out = *decoded;
                } else {
                    *out = std::string_view(start, std::size_t(m_at - start));
                }
            }
            ++m_at;
            return true;
        }
        if (c < 0x20)
            return false;
        if (c >= 0x80) {
            const int length = utf8Length(
                reinterpret_cast<const unsigned char*>(m_at), reinterpret_cast<const unsigned char*>(m_end));
            if (length == 0)
                return false;
            m_at += length;
            continue;
        }
        // A backslash escape.
        if (m_end - m_at < 2)
            return false;
        if constexpr (Store) {
            if (!decoded)
                decoded = &m_decoded.emplace_back();
            decoded->append(run, std::size_t(m_at - run));
        }
        const char kind = m_at[1];
        m_at += 2;
        char plain = 0;
        switch (kind) {
        case '"':
        case '\\':
        case '/':
            plain = kind;
            break;
        case 'b':
            plain = '\b';
            break;
        case 'f':
            plain = '\f';
            break;
        case 'n':
            plain = '\n';
            break;
        case 'r':
            plain = '\r';
            break;
        case 't':
            plain = '\t';
            break;
        case 'u': {
            auto unit = [this]() -> int {
                if (m_end - m_at < 4)
                    return -1;
                int code = 0;
                for (int i = 0; i < 4; ++i) {
                    const int digit = hexDigit(m_at[i]);
                    if (digit < 0)
                        return -1;
                    code = code * 16 + digit;
                }
                m_at += 4;
                return code;
            };
            const int code = unit();
            if (code < 0)
                return false;
            std::uint32_t point = std::uint32_t(code);
            if (code >= 0xD800 && code <= 0xDBFF && m_end - m_at >= 6 && m_at[0] == '\\' && m_at[1] == 'u') {
                const char* back = m_at;
                m_at += 2;
                const int low = unit();
                if (low < 0)
                    return false;
                if (low >= 0xDC00 && low <= 0xDFFF)
                    point = 0x10000 + ((std::uint32_t(code) - 0xD800) << 10) + (std::uint32_t(low) - 0xDC00);
                else
                    m_at = back; // not a pair: the high half stands alone
            }
            // An unpaired half of a surrogate pair has no UTF-8 form.
            if (point >= 0xD800 && point <= 0xDFFF)
                point = 0xFFFD;
            if constexpr (Store)
                appendUtf8(*decoded, point);
            run = m_at;
            continue;
        }
        default:
            return false;
        }
        if constexpr (Store)
            *decoded += plain;
        run = m_at;
    }
}

bool JsonReader::number(JsonNode* out)
{
    const char* start = m_at;
    auto digits = [this] {
        const char* first = m_at;
        while (m_at < m_end && *m_at >= '0' && *m_at <= '9')
            ++m_at;
        return m_at > first;
    };
    if (m_at < m_end && *m_at == '-')
        ++m_at;
    if (m_at < m_end && *m_at == '0') {
        ++m_at;
    } else if (!digits()) {
        return false;
    }
    if (m_at < m_end && *m_at == '.') {
        ++m_at;
        if (!digits())
            return false;
    }
    if (m_at < m_end && (*m_at == 'e' || *m_at == 'E')) {
        ++m_at;
        if (m_at < m_end && (*m_at == '+' || *m_at == '-'))
            ++m_at;
        if (!digits())
            return false;
    }
    if (out) {
        out->kind = JsonNode::Kind::number;
        out->text = std::string_view(start, std::size_t(m_at - start));
    }
    return true;
}

bool JsonReader::literal(std::string_view word, JsonNode* out, JsonNode::Kind kind)
{
    if (std::size_t(m_end - m_at) < word.size() || std::string_view(m_at, word.size()) != word)
        return false;
    m_at += word.size();
    if (out) {
        out->kind = kind;
        out->text = word;
    }
    return true;
}

bool JsonReader::value(JsonNode* out, int depth)
{
    skipSpace();
    if (m_at == m_end)
        return false;
    switch (*m_at) {
    case '"':
        if (out) {
            out->kind = JsonNode::Kind::string;
            return string<true>(&out->text);
        }
        return string<false>(nullptr);
    case '{': {
        if (depth >= maxDepth)
            return false;
        ++m_at;
        if (out) {
            out->kind = JsonNode::Kind::object;
            out->keys.reserve(4);
            out->items.reserve(4);
        }
        if (consume('}'))
            return true;
        do {
            skipSpace();
            // Keys of skipped objects are still checked, just not kept.
            if (!(out ? string<true>(&out->keys.emplace_back()) : string<false>(nullptr)))
                return false;
            if (!consume(':'))
                return false;
            if (!value(out ? &out->items.emplace_back() : nullptr, depth + 1))
                return false;
        } while (consume(','));
        return consume('}');
    }
    case '[': {
        if (depth >= maxDepth)
            return false;
        ++m_at;
        if (out) {
            out->kind = JsonNode::Kind::array;
            out->items.reserve(4);
        }
        if (consume(']'))
            return true;
        do {
            if (!value(out ? &out->items.emplace_back() : nullptr, depth + 1))
                return false;
        } while (consume(','));
        return consume(']');
    }
    case 't':
        return literal("true", out, JsonNode::Kind::boolean);
    case 'f':
        return literal("false", out, JsonNode::Kind::boolean);
    case 'n':
        return literal("null", out, JsonNode::Kind::null);
    default:
        return number(out);
    }
}

} // namespace corvanta
