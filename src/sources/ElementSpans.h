#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace corvanta {

// Splits a JSON array of objects into its elements' spans without parsing
// them. Only what lies between elements is checked here; each span is then
// parsed as a document of its own, which proves it one valid value, so no
// document is taken that a whole-document parse would refuse. The text must
// be readable for 64 bytes past its end (simdjson's padding), since it is
// read 64 bytes at a time. Malformed text throws simdjson::simdjson_error.
class ElementSpans {
public:
    explicit ElementSpans(std::string_view text);

    // The next element, or none after the last.
    std::optional<std::string_view> next();

    // Where the bytes that matter to finding an element's end lie in a block
    // of 64 (bit i for byte i); `{` and `[` are both opening, `}` and `]`
    // both closing.
    struct BlockMasks {
        std::uint64_t quote = 0;
        std::uint64_t backslash = 0;
        std::uint64_t open = 0;
        std::uint64_t close = 0;

        bool operator==(const BlockMasks&) const = default;
    };
    // With the processor's vector instructions where it has them.
    static BlockMasks masks(const char* block);
    // A byte at a time, as processors without them do.
    static BlockMasks masksByteByByte(const char* block);

private:
    bool take(char c);
    void skipSpace();
    void finish();
    void skipObject();

    std::string_view m_text;
    std::size_t m_at = 0;
    bool m_done = false;
};

} // namespace corvanta
