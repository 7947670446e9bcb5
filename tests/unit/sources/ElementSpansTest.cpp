#include "sources/ElementSpans.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <simdjson.h>

namespace corvanta {
namespace {

// The vector path must place every byte where the byte-at-a-time one does,
// high bytes and near-misses of the folded brackets included.
TEST(ElementSpans, VectorMasksMatchByteByByte)
{
    const std::string alphabet = "\"\\{}[]a \x7b\x5b\xfb\xdb\x3b\x1b\x80\xff";
    std::mt19937 random(11);
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    char block[64];
    for (int round = 0; round < 2000; ++round) {
        for (char& c : block)
            c = round % 2 ? alphabet[pick(random)] : char(anyByte(random));
        ASSERT_EQ(ElementSpans::masks(block), ElementSpans::masksByteByByte(block)) << round;
    }
}

std::vector<std::string> spansOf(const std::string& text)
{
    std::string padded = text;
    padded.append(simdjson::SIMDJSON_PADDING, '\0');
    ElementSpans spans(std::string_view(padded.data(), text.size()));
    std::vector<std::string> out;
    while (const auto span = spans.next())
        out.emplace_back(*span);
    return out;
}

// Strings hold brackets and runs of backslashes before quotes; shifting them
// one byte at a time puts every one on each side of a 64-byte boundary.
TEST(ElementSpans, ElementsEndWhereTheirObjectClosesAtEveryAlignment)
{
    for (std::size_t shift = 0; shift < 140; ++shift) {
        SCOPED_TRACE(shift);
        const std::string first = "{\"pad\":\"" + std::string(shift, 'x')
            + "\",\"a\":\"}]\\\\\",\"b\":\"\\\"}\\\\\\\"{\",\"c\":[{\"d\":[]},\"\\\\\\\\\"]}";
        // An even run of backslashes escapes none of the closing quote.
        const std::string second = "{\"e\":\"" + std::string(2 * (shift % 40), '\\') + "\"}";
        EXPECT_EQ(spansOf("[" + first + ",\n " + second + "]"), (std::vector<std::string> { first, second }));
    }
}

TEST(ElementSpans, WhatLiesBetweenElementsIsChecked)
{
    for (const char* text : { "", "{}", "[{}", "[{},]", "[{} {}]", "[{}] x", "[1]", "[{\"a\":\"}]" }) {
        SCOPED_TRACE(text);
        EXPECT_THROW(spansOf(text), simdjson::simdjson_error);
    }
    EXPECT_EQ(spansOf(" [ ] "), std::vector<std::string> {});
    EXPECT_EQ(spansOf("[{},{}]"), (std::vector<std::string> { "{}", "{}" }));
}

} // namespace
} // namespace corvanta
