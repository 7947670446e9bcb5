#include "codesign/Requirement.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace corvanta::codesign {

namespace {

enum class TokenKind { end, word, string, hash, hexData, symbol };

struct Token {
    TokenKind kind = TokenKind::end;
    QString text; // words and symbols
    QByteArray bytes; // strings, hashes and hex data
    qsizetype position = 0;
};

class CompileError {
public:
    QString message;
};

// Splits requirement-language text into tokens; comments are skipped.
class Lexer {
public:
    explicit Lexer(const QString& text)
        : m_text(text)
    {
    }

    const Token& peek()
    {
        if (!m_peeked) {
            m_token = scan();
            m_peeked = true;
        }
        return m_token;
    }

    Token next()
    {
        peek();
        m_peeked = false;
        return m_token;
    }

    // The text up to the next ']' (which is consumed), for keys and field
    // names; `quoted` tells whether it was written as a string.
    QString bracketContent(bool* quoted = nullptr)
    {
        if (quoted)
            *quoted = false;
        if (m_peeked)
            throw CompileError { u"unexpected token inside brackets"_s };
        skipSpace();
        if (m_at < m_text.size() && m_text[m_at] == u'"') {
            const Token token = scan();
            skipSpace();
            if (m_at >= m_text.size() || m_text[m_at] != u']')
                throw CompileError { u"expected ]"_s };
            ++m_at;
            if (quoted)
                *quoted = true;
            return QString::fromUtf8(token.bytes);
        }
        const qsizetype close = m_text.indexOf(u']', m_at);
        if (close < 0)
            throw CompileError { u"expected ]"_s };
        const QString content = m_text.mid(m_at, close - m_at).trimmed();
        m_at = close + 1;
        if (content.isEmpty())
            throw CompileError { u"empty brackets"_s };
        return content;
    }

private:
    static bool isWordChar(QChar c)
    {
        return c.isLetterOrNumber() || c == u'_' || c == u'.' || c == u'-' || c == u'/' || c == u'+'
            || c == u'$';
    }

    void skipSpace()
    {
        while (m_at < m_text.size()) {
            const QChar c = m_text[m_at];
            if (c.isSpace()) {
                ++m_at;
            } else if (m_text.mid(m_at, 2) == u"/*") {
                const qsizetype close = m_text.indexOf(u"*/"_s, m_at + 2);
                if (close < 0)
                    throw CompileError { u"unterminated comment"_s };
                m_at = close + 2;
            } else if (m_text.mid(m_at, 2) == u"//" || c == u'#') {
                const qsizetype lineEnd = m_text.indexOf(u'\n', m_at);
                m_at = lineEnd < 0 ? m_text.size() : lineEnd + 1;
            } else {
                break;
            }
        }
    }

    QByteArray quoted()
    {
        // m_at is just past the opening quote.
        QString content;
        while (true) {
            if (m_at >= m_text.size())
                throw CompileError { u"unterminated string"_s };
            const QChar c = m_text[m_at++];
            if (c == u'"')
                break;
            if (c == u'\\') {
                if (m_at >= m_text.size())
                    throw CompileError { u"unterminated string"_s };
                content += m_text[m_at++];
            } else {
                content += c;
            }
        }
        return content.toUtf8();
    }

    Token scan()
    {
        skipSpace();
        Token token;
        token.position = m_at;
        if (m_at >= m_text.size())
            return token;
        const QChar c = m_text[m_at];
        if (c == u'"') {
            ++m_at;
            token.kind = TokenKind::string;
            token.bytes = quoted();
            return token;
        }
        if ((c == u'H' || c == u'h') && m_at + 1 < m_text.size() && m_text[m_at + 1] == u'"') {
            m_at += 2;
            const QByteArray hex = quoted();
            token.kind = TokenKind::hash;
            token.bytes = QByteArray::fromHex(hex);
            if (hex.size() % 2 || token.bytes.size() * 2 != hex.size())
                throw CompileError { u"malformed hash"_s };
            return token;
        }
        if (c == u'0' && m_at + 1 < m_text.size() && (m_text[m_at + 1] == u'x' || m_text[m_at + 1] == u'X')) {
            qsizetype end = m_at + 2;
            while (end < m_text.size() && isxdigit(m_text[end].toLatin1()))
                ++end;
            const QByteArray hex = m_text.mid(m_at + 2, end - m_at - 2).toLatin1();
            if (hex.isEmpty() || hex.size() % 2)
                throw CompileError { u"malformed hexadecimal data"_s };
            token.kind = TokenKind::hexData;
            token.bytes = QByteArray::fromHex(hex);
            m_at = end;
            return token;
        }
        if (isWordChar(c) && c != u'-' && c != u'/') {
            qsizetype end = m_at;
            while (end < m_text.size() && isWordChar(m_text[end]))
                ++end;
            token.kind = TokenKind::word;
            token.text = m_text.mid(m_at, end - m_at);
            m_at = end;
            return token;
        }
        if (c == u'-' && m_at + 1 < m_text.size() && m_text[m_at + 1].isDigit()) {
            qsizetype end = m_at + 1;
            while (end < m_text.size() && m_text[end].isDigit())
                ++end;
            token.kind = TokenKind::word;
            token.text = m_text.mid(m_at, end - m_at);
            m_at = end;
            return token;
        }
        static const QStringList symbols { u"=>"_s, u"=="_s, u"<="_s, u">="_s, u"&&"_s, u"||"_s, u"="_s,
            u"<"_s, u">"_s, u"~"_s, u"!"_s, u"("_s, u")"_s, u"["_s, u"]"_s, u"*"_s, u";"_s };
        for (const QString& symbol : symbols) {
            if (m_text.mid(m_at, symbol.size()) == symbol) {
                token.kind = TokenKind::symbol;
                token.text = symbol;
                m_at += symbol.size();
                return token;
            }
        }
        throw CompileError { u"unexpected character \u201c%1\u201d"_s.arg(c) };
    }

    const QString& m_text;
    qsizetype m_at = 0;
    Token m_token;
    bool m_peeked = false;
};

// DER content bytes of a dotted object identifier.
QByteArray oidBytes(const QString& dotted)
{
    const QStringList parts = dotted.split(u'.');
    if (parts.size() < 2)
        throw CompileError { u"malformed object identifier"_s };
    std::vector<std::uint64_t> arcs;
    for (const QString& part : parts) {
        bool ok = false;
        const std::uint64_t arc = part.toULongLong(&ok);
        if (!ok || part.isEmpty() || !part[0].isDigit() || arc > (std::uint64_t(1) << 56))
            throw CompileError { u"malformed object identifier"_s };
        arcs.push_back(arc);
    }
    if (arcs[0] > 2 || (arcs[0] < 2 && arcs[1] >= 40))
        throw CompileError { u"malformed object identifier"_s };
    QByteArray out;
    const auto encode = [&out](std::uint64_t value) {
        QByteArray bytes;
        bytes.prepend(char(value & 0x7f));
        while (value >>= 7)
            bytes.prepend(char(0x80 | (value & 0x7f)));
        out.append(bytes);
    };
    encode(arcs[0] * 40 + arcs[1]);
    for (std::size_t i = 2; i < arcs.size(); ++i)
        encode(arcs[i]);
    return out;
}

class Parser {
public:
    explicit Parser(const QString& text)
        : m_lexer(text)
    {
    }

    RequirementExpr requirement()
    {
        RequirementExpr expression = orExpression(0);
        if (m_lexer.peek().kind != TokenKind::end)
            throw CompileError { u"unexpected \u201c%1\u201d"_s.arg(describe(m_lexer.peek())) };
        return expression;
    }

    RequirementSet set()
    {
        RequirementSet out;
        while (m_lexer.peek().kind != TokenKind::end) {
            const Token type = m_lexer.next();
            RequirementType kind;
            if (type.text == u"host")
                kind = RequirementType::host;
            else if (type.text == u"guest")
                kind = RequirementType::guest;
            else if (type.text == u"designated")
                kind = RequirementType::designated;
            else if (type.text == u"library")
                kind = RequirementType::library;
            else if (type.text == u"plugin")
                kind = RequirementType::plugin;
            else
                throw CompileError { u"unknown requirement type \u201c%1\u201d"_s.arg(describe(type)) };
            expectSymbol(u"=>"_s);
            out.entries.emplace_back(kind, Requirement(orExpression(0)));
            if (isSymbol(m_lexer.peek(), u";"_s))
                m_lexer.next();
        }
        if (out.entries.empty())
            throw CompileError { u"no requirements"_s };
        return out;
    }

private:
    static QString describe(const Token& token)
    {
        switch (token.kind) {
        case TokenKind::end:
            return u"end of text"_s;
        case TokenKind::word:
        case TokenKind::symbol:
            return token.text;
        default:
            return QString::fromUtf8(token.bytes);
        }
    }

    static bool isSymbol(const Token& token, const QString& symbol)
    {
        return token.kind == TokenKind::symbol && token.text == symbol;
    }

    static bool isWord(const Token& token, const QString& word)
    {
        return token.kind == TokenKind::word && token.text == word;
    }

    void expectSymbol(const QString& symbol)
    {
        const Token token = m_lexer.next();
        if (!isSymbol(token, symbol))
            throw CompileError { u"expected \u201c%1\u201d but found \u201c%2\u201d"_s.arg(
                symbol, describe(token)) };
    }

    void checkDepth(int depth)
    {
        if (depth > Requirement::maxDepth)
            throw CompileError { u"requirement nests too deeply"_s };
    }

    static RequirementExpr binary(RequirementOp op, RequirementExpr left, RequirementExpr right)
    {
        RequirementExpr node;
        node.op = op;
        node.operands.push_back(std::move(left));
        node.operands.push_back(std::move(right));
        return node;
    }

    RequirementExpr orExpression(int depth)
    {
        checkDepth(depth);
        RequirementExpr left = andExpression(depth + 1);
        while (isWord(m_lexer.peek(), u"or"_s) || isSymbol(m_lexer.peek(), u"||"_s)) {
            m_lexer.next();
            left = binary(RequirementOp::orOp, std::move(left), andExpression(depth + 1));
        }
        return left;
    }

    RequirementExpr andExpression(int depth)
    {
        checkDepth(depth);
        RequirementExpr left = primary(depth + 1);
        while (isWord(m_lexer.peek(), u"and"_s) || isSymbol(m_lexer.peek(), u"&&"_s)) {
            m_lexer.next();
            left = binary(RequirementOp::andOp, std::move(left), primary(depth + 1));
        }
        return left;
    }

    RequirementExpr primary(int depth)
    {
        checkDepth(depth);
        const Token token = m_lexer.next();
        RequirementExpr node;
        if (isSymbol(token, u"!"_s) || isWord(token, u"not"_s)) {
            node.op = RequirementOp::notOp;
            node.operands.push_back(primary(depth + 1));
            return node;
        }
        if (isSymbol(token, u"("_s)) {
            // ("name") names a requirement; an expression never starts with a string.
            if (m_lexer.peek().kind == TokenKind::string) {
                node.op = RequirementOp::namedCode;
                node.data = m_lexer.next().bytes;
                expectSymbol(u")"_s);
                return node;
            }
            RequirementExpr inner = orExpression(depth + 1);
            expectSymbol(u")"_s);
            return inner;
        }
        if (token.kind != TokenKind::word)
            throw CompileError { u"unexpected \u201c%1\u201d"_s.arg(describe(token)) };
        const QString& word = token.text;
        if (word == u"always" || word == u"true") {
            node.op = RequirementOp::alwaysTrue;
        } else if (word == u"never" || word == u"false") {
            node.op = RequirementOp::alwaysFalse;
        } else if (word == u"identifier") {
            node.op = RequirementOp::identifier;
            skipEquals();
            node.data = value();
        } else if (word == u"cdhash") {
            node.op = RequirementOp::cdhash;
            skipEquals();
            node.data = hash();
        } else if (word == u"platform") {
            node.op = RequirementOp::platform;
            skipEquals();
            node.integer = integer(m_lexer.next());
        } else if (word == u"notarized") {
            node.op = RequirementOp::notarized;
        } else if (word == u"legacy") {
            node.op = RequirementOp::legacyDeveloperId;
        } else if (word == u"anchor") {
            anchor(node);
        } else if (word == u"certificate" || word == u"cert") {
            node.certificate = slot(m_lexer.next());
            certificateTail(node);
        } else if (word == u"info" || word == u"entitlement") {
            node.op = word == u"info" ? RequirementOp::infoKeyField : RequirementOp::entitlementField;
            expectSymbol(u"["_s);
            node.data = m_lexer.bracketContent().toUtf8();
            matchSuffix(node);
        } else {
            throw CompileError { u"unknown word \u201c%1\u201d"_s.arg(word) };
        }
        return node;
    }

    void anchor(RequirementExpr& node)
    {
        const Token& next = m_lexer.peek();
        if (isWord(next, u"apple"_s)) {
            m_lexer.next();
            const Token& after = m_lexer.peek();
            if (isWord(after, u"generic"_s)) {
                m_lexer.next();
                node.op = RequirementOp::appleGenericAnchor;
            } else if ((after.kind == TokenKind::word && after.text != u"and" && after.text != u"or")
                || after.kind == TokenKind::string || after.kind == TokenKind::hexData) {
                node.op = RequirementOp::namedAnchor;
                node.data = value();
            } else {
                node.op = RequirementOp::appleAnchor;
            }
            return;
        }
        if (isWord(next, u"trusted"_s)) {
            m_lexer.next();
            node.op = RequirementOp::trustedCerts;
            return;
        }
        node.certificate = anchorCertificate;
        certificateTail(node);
    }

    void certificateTail(RequirementExpr& node)
    {
        const Token token = m_lexer.next();
        if (isWord(token, u"trusted"_s)) {
            node.op = RequirementOp::trustedCert;
            return;
        }
        if (isSymbol(token, u"="_s) || isSymbol(token, u"=="_s)) {
            node.op = RequirementOp::anchorHash;
            node.data = hash();
            return;
        }
        if (!isSymbol(token, u"["_s))
            throw CompileError { u"expected a certificate field, hash or \u201ctrusted\u201d"_s };
        bool quoted = false;
        const QString field = m_lexer.bracketContent(&quoted);
        if (quoted) {
            node.op = RequirementOp::certField;
            node.data = field.toUtf8();
        } else if (field.startsWith(u"field.")) {
            node.op = RequirementOp::certGeneric;
            node.data = oidBytes(field.mid(6));
        } else if (field.startsWith(u"policy.")) {
            node.op = RequirementOp::certPolicy;
            node.data = oidBytes(field.mid(7));
        } else if (field.startsWith(u"timestamp.")) {
            node.op = RequirementOp::certFieldDate;
            node.data = oidBytes(field.mid(10));
        } else {
            node.op = RequirementOp::certField;
            node.data = field.toUtf8();
        }
        matchSuffix(node);
    }

    void matchSuffix(RequirementExpr& node)
    {
        const Token& next = m_lexer.peek();
        if (isWord(next, u"exists"_s)) {
            m_lexer.next();
            node.match = MatchOp::exists;
        } else if (isWord(next, u"absent"_s)) {
            m_lexer.next();
            node.match = MatchOp::absent;
        } else if (isSymbol(next, u"="_s) || isSymbol(next, u"=="_s)) {
            m_lexer.next();
            if (timestamp(node, MatchOp::on))
                return;
            bool leadingStar = false;
            if (isSymbol(m_lexer.peek(), u"*"_s)) {
                m_lexer.next();
                leadingStar = true;
            }
            node.matchValue = value();
            bool trailingStar = false;
            if (isSymbol(m_lexer.peek(), u"*"_s)) {
                m_lexer.next();
                trailingStar = true;
            }
            node.match = leadingStar ? (trailingStar ? MatchOp::contains : MatchOp::endsWith)
                                     : (trailingStar ? MatchOp::beginsWith : MatchOp::equal);
        } else if (isSymbol(next, u"~"_s)) {
            m_lexer.next();
            node.match = MatchOp::contains;
            node.matchValue = value();
        } else if (isSymbol(next, u"<"_s) || isSymbol(next, u">"_s) || isSymbol(next, u"<="_s)
            || isSymbol(next, u">="_s)) {
            const QString symbol = m_lexer.next().text;
            const bool less = symbol.startsWith(u'<');
            const bool orEqual = symbol.endsWith(u'=');
            if (timestamp(node,
                    less ? (orEqual ? MatchOp::onOrBefore : MatchOp::before)
                         : (orEqual ? MatchOp::onOrAfter : MatchOp::after)))
                return;
            node.match = less ? (orEqual ? MatchOp::lessEqual : MatchOp::lessThan)
                              : (orEqual ? MatchOp::greaterEqual : MatchOp::greaterThan);
            node.matchValue = value();
        } else {
            node.match = MatchOp::exists;
        }
    }

    bool timestamp(RequirementExpr& node, MatchOp op)
    {
        if (!isWord(m_lexer.peek(), u"timestamp"_s))
            return false;
        m_lexer.next();
        const Token token = m_lexer.next();
        bool ok = false;
        const qint64 seconds = QString::fromUtf8(token.bytes).toLongLong(&ok);
        if (token.kind != TokenKind::string || !ok)
            throw CompileError { u"malformed timestamp"_s };
        node.match = op;
        node.matchTime = seconds;
        return true;
    }

    void skipEquals()
    {
        if (isSymbol(m_lexer.peek(), u"="_s) || isSymbol(m_lexer.peek(), u"=="_s))
            m_lexer.next();
    }

    QByteArray value()
    {
        const Token token = m_lexer.next();
        switch (token.kind) {
        case TokenKind::word:
            return token.text.toUtf8();
        case TokenKind::string:
        case TokenKind::hash:
        case TokenKind::hexData:
            return token.bytes;
        default:
            throw CompileError { u"expected a value but found \u201c%1\u201d"_s.arg(describe(token)) };
        }
    }

    QByteArray hash()
    {
        const Token token = m_lexer.next();
        if (token.kind != TokenKind::hash && token.kind != TokenKind::hexData)
            throw CompileError { u"expected a hash but found \u201c%1\u201d"_s.arg(describe(token)) };
        return token.bytes;
    }

    static std::int32_t integer(const Token& token)
    {
        bool ok = false;
        const int value = token.text.toInt(&ok);
        if (token.kind != TokenKind::word || !ok)
            throw CompileError { u"expected a number but found \u201c%1\u201d"_s.arg(describe(token)) };
        return value;
    }

    static std::int32_t slot(const Token& token)
    {
        if (isWord(token, u"leaf"_s))
            return leafCertificate;
        if (isWord(token, u"root"_s) || isWord(token, u"anchor"_s))
            return anchorCertificate;
        return integer(token);
    }

    Lexer m_lexer;
};

} // namespace

std::optional<QByteArray> encodeObjectIdentifier(const QString& dotted)
{
    try {
        return oidBytes(dotted);
    } catch (const CompileError&) {
        return std::nullopt;
    }
}

std::optional<Requirement> Requirement::compile(const QString& text, QString* error)
{
    try {
        Parser parser(text);
        return Requirement(parser.requirement());
    } catch (const CompileError& failure) {
        if (error)
            *error = failure.message;
        return std::nullopt;
    }
}

std::optional<RequirementSet> RequirementSet::compile(const QString& text, QString* error)
{
    try {
        Parser parser(text);
        return parser.set();
    } catch (const CompileError& failure) {
        if (error)
            *error = failure.message;
        return std::nullopt;
    }
}

} // namespace corvanta::codesign
