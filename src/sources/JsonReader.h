#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace corvanta {

// A JSON value as read by JsonReader. Texts are views: into the document, or
// into the reader for strings that had escapes to decode. A node is valid as
// long as both the document and the reader that made it are.
struct JsonNode {
    enum class Kind : unsigned char { null, boolean, number, string, array, object };

    Kind kind = Kind::null;
    std::string_view text; // a string unescaped (UTF-8); a number or literal as written
    std::vector<JsonNode> items; // elements of an array, values of an object
    std::vector<std::string_view> keys; // keys of an object, parallel to `items`

    bool isString() const { return kind == Kind::string; }
    bool isArray() const { return kind == Kind::array; }
    bool isObject() const { return kind == Kind::object; }
    // The value of the last member named `key`, or null when there is none.
    const JsonNode* member(std::string_view key) const;
};

// A strict pull reader of JSON text (RFC 8259, UTF-8) that materialises only
// the values its caller asks for and validates what it skips, without
// building a tree of the whole document. The cask index is tens of megabytes
// of which we need a few fields per entry; a full document model costs
// several times the time and memory of reading it this way.
class JsonReader {
public:
    explicit JsonReader(std::string_view text);
    JsonReader(const JsonReader&) = delete;
    JsonReader& operator=(const JsonReader&) = delete;

    // Skips a byte-order mark and whitespace, then expects `c`.
    bool consume(char c);
    // The next character after whitespace, or 0 at the end.
    char peek();
    // Whether only whitespace is left.
    bool atEnd();

    bool readString(std::string_view& out);
    bool readValue(JsonNode& out);
    bool skipValue();

    // Nesting deeper than this is refused rather than risking the stack.
    static constexpr int maxDepth = 512;

private:
    template<bool Store> bool string(std::string_view* out);
    bool value(JsonNode* out, int depth);
    bool number(JsonNode* out);
    bool literal(std::string_view word, JsonNode* out, JsonNode::Kind kind);
    void skipSpace();

    const char* m_at;
    const char* m_end;
    // Strings that needed unescaping; a deque so earlier views stay valid.
    std::deque<std::string> m_decoded;
};

} // namespace corvanta
