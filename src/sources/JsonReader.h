#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvanta {

// A JSON value as read by JsonReader; strings are unescaped UTF-8.
struct JsonNode {
    enum class Kind : unsigned char { null, boolean, number, string, array, object };

    Kind kind = Kind::null;
    std::string text; // the string itself; the literal or number as written otherwise
    std::vector<JsonNode> items; // elements of an array, values of an object
    std::vector<std::string> keys; // keys of an object, parallel to `items`

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

    // Skips a byte-order mark and whitespace, then expects `c`.
    bool consume(char c);
    // The next character after whitespace, or 0 at the end.
    char peek();
    // Whether only whitespace is left.
    bool atEnd();

    bool readString(std::string& out);
    bool readValue(JsonNode& out);
    bool skipValue();

    // Nesting deeper than this is refused rather than risking the stack.
    static constexpr int maxDepth = 512;

private:
    template<bool Store> bool string(std::string* out);
    bool value(JsonNode* out, int depth);
    bool number(JsonNode* out);
    bool literal(std::string_view word, JsonNode* out, JsonNode::Kind kind);
    void skipSpace();

    const char* m_at;
    const char* m_end;
};

} // namespace corvanta
