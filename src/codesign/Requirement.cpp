#include "codesign/Requirement.h"

#include <cctype>

#include <QList>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace corvanta::codesign {

namespace {

constexpr std::uint32_t requirementMagic = 0xfade0c00;
constexpr std::uint32_t requirementSetMagic = 0xfade0c01;
// The high byte of an operator word carries flags we don't give meaning to.
constexpr std::uint32_t opMask = 0x00ffffff;
// A requirement set with more entries than there are types is hostile.
constexpr std::uint32_t maxSetEntries = 16;

QString oidText(const QByteArray& bytes);
bool isUtf8(const QByteArray& bytes);

// Reads the expression stream of a requirement blob, each step bounds-checked.
class BlobReader {
public:
    explicit BlobReader(ByteView bytes)
        : m_bytes(bytes)
    {
    }

    std::optional<std::uint32_t> word()
    {
        const auto value = m_bytes.be32(m_at);
        if (value)
            m_at += 4;
        return value;
    }

    std::optional<QByteArray> data()
    {
        const auto length = word();
        if (!length)
            return std::nullopt;
        const auto bytes = m_bytes.sub(m_at, *length);
        if (!bytes)
            return std::nullopt;
        m_at += (std::uint64_t(*length) + 3) & ~std::uint64_t(3);
        if (m_at > m_bytes.size())
            return std::nullopt;
        return bytes->toByteArray();
    }

    std::optional<RequirementExpr> expression(int depth)
    {
        if (depth > Requirement::maxDepth)
            return std::nullopt;
        const auto opWord = word();
        if (!opWord)
            return std::nullopt;
        RequirementExpr node;
        const std::uint32_t op = *opWord & opMask;
        node.op = RequirementOp(op);
        switch (node.op) {
        case RequirementOp::alwaysFalse:
        case RequirementOp::alwaysTrue:
        case RequirementOp::appleAnchor:
        case RequirementOp::appleGenericAnchor:
        case RequirementOp::trustedCerts:
        case RequirementOp::notarized:
        case RequirementOp::legacyDeveloperId:
            return node;
        case RequirementOp::identifier:
        case RequirementOp::cdhash:
        case RequirementOp::namedAnchor:
        case RequirementOp::namedCode: {
            auto bytes = data();
            if (!bytes || (node.op == RequirementOp::namedCode && !isUtf8(*bytes)))
                return std::nullopt;
            node.data = std::move(*bytes);
            return node;
        }
        case RequirementOp::anchorHash: {
            const auto index = word();
            auto hash = data();
            if (!index || !hash)
                return std::nullopt;
            node.certificate = std::int32_t(*index);
            node.data = std::move(*hash);
            return node;
        }
        case RequirementOp::infoKeyValue: {
            auto key = data();
            auto value = data();
            if (!key || !value || !isUtf8(*key))
                return std::nullopt;
            node.data = std::move(*key);
            node.value = std::move(*value);
            return node;
        }
        case RequirementOp::andOp:
        case RequirementOp::orOp: {
            auto left = expression(depth + 1);
            if (!left)
                return std::nullopt;
            auto right = expression(depth + 1);
            if (!right)
                return std::nullopt;
            node.operands.push_back(std::move(*left));
            node.operands.push_back(std::move(*right));
            return node;
        }
        case RequirementOp::notOp: {
            auto operand = expression(depth + 1);
            if (!operand)
                return std::nullopt;
            node.operands.push_back(std::move(*operand));
            return node;
        }
        case RequirementOp::infoKeyField:
        case RequirementOp::entitlementField: {
            auto key = data();
            if (!key || !isUtf8(*key) || !match(node))
                return std::nullopt;
            node.data = std::move(*key);
            return node;
        }
        case RequirementOp::certField:
        case RequirementOp::certGeneric:
        case RequirementOp::certPolicy:
        case RequirementOp::certFieldDate: {
            const auto index = word();
            auto field = data();
            if (!index || !field || !match(node))
                return std::nullopt;
            node.certificate = std::int32_t(*index);
            node.data = std::move(*field);
            // An object identifier that doesn't decode is corruption, not a test.
            if (node.op != RequirementOp::certField && oidText(node.data).isEmpty())
                return std::nullopt;
            if (node.op == RequirementOp::certField && !isUtf8(node.data))
                return std::nullopt;
            return node;
        }
        case RequirementOp::trustedCert:
        case RequirementOp::platform: {
            const auto value = word();
            if (!value)
                return std::nullopt;
            (node.op == RequirementOp::trustedCert ? node.certificate : node.integer) = std::int32_t(*value);
            return node;
        }
        }
        return std::nullopt;
    }

    bool atEnd() const { return m_at >= m_bytes.size(); }

private:
    bool match(RequirementExpr& node)
    {
        const auto op = word();
        if (!op || *op > std::uint32_t(MatchOp::absent))
            return false;
        node.match = MatchOp(*op);
        switch (node.match) {
        case MatchOp::exists:
        case MatchOp::absent:
            return true;
        case MatchOp::on:
        case MatchOp::before:
        case MatchOp::after:
        case MatchOp::onOrBefore:
        case MatchOp::onOrAfter: {
            const auto high = word();
            const auto low = word();
            if (!high || !low)
                return false;
            node.matchTime = std::int64_t(std::uint64_t(*high) << 32 | *low);
            return true;
        }
        default: {
            auto value = data();
            if (!value)
                return false;
            node.matchValue = std::move(*value);
            return true;
        }
        }
    }

    ByteView m_bytes;
    std::uint64_t m_at = 0;
};

class BlobWriter {
public:
    void word(std::uint32_t value)
    {
        const char bytes[4] = { char(value >> 24), char(value >> 16), char(value >> 8), char(value) };
        m_out.append(bytes, 4);
    }

    void data(const QByteArray& bytes)
    {
        word(std::uint32_t(bytes.size()));
        m_out.append(bytes);
        while (m_out.size() % 4)
            m_out.append('\0');
    }

    void expression(const RequirementExpr& node)
    {
        word(std::uint32_t(node.op));
        switch (node.op) {
        case RequirementOp::identifier:
        case RequirementOp::cdhash:
        case RequirementOp::namedAnchor:
        case RequirementOp::namedCode:
            data(node.data);
            break;
        case RequirementOp::anchorHash:
            word(std::uint32_t(node.certificate));
            data(node.data);
            break;
        case RequirementOp::infoKeyValue:
            data(node.data);
            data(node.value);
            break;
        case RequirementOp::andOp:
        case RequirementOp::orOp:
        case RequirementOp::notOp:
            for (const RequirementExpr& operand : node.operands)
                expression(operand);
            break;
        case RequirementOp::infoKeyField:
        case RequirementOp::entitlementField:
            data(node.data);
            match(node);
            break;
        case RequirementOp::certField:
        case RequirementOp::certGeneric:
        case RequirementOp::certPolicy:
        case RequirementOp::certFieldDate:
            word(std::uint32_t(node.certificate));
            data(node.data);
            match(node);
            break;
        case RequirementOp::trustedCert:
            word(std::uint32_t(node.certificate));
            break;
        case RequirementOp::platform:
            word(std::uint32_t(node.integer));
            break;
        default:
            break;
        }
    }

    QByteArray& bytes() { return m_out; }

private:
    void match(const RequirementExpr& node)
    {
        word(std::uint32_t(node.match));
        switch (node.match) {
        case MatchOp::exists:
        case MatchOp::absent:
            break;
        case MatchOp::on:
        case MatchOp::before:
        case MatchOp::after:
        case MatchOp::onOrBefore:
        case MatchOp::onOrAfter:
            word(std::uint32_t(std::uint64_t(node.matchTime) >> 32));
            word(std::uint32_t(node.matchTime));
            break;
        default:
            data(node.matchValue);
            break;
        }
    }

    QByteArray m_out;
};

// Words that would read as syntax if printed bare.
bool isKeyword(const QByteArray& word)
{
    static const QList<QByteArray> keywords { "and", "or", "not", "always", "never", "true", "false",
        "exists", "absent", "generic", "trusted", "anchor", "apple", "certificate", "cert", "identifier",
        "info", "entitlement", "cdhash", "leaf", "root", "platform", "notarized", "legacy", "timestamp",
        "host", "guest", "designated", "library", "plugin" };
    return keywords.contains(word);
}

// A value as the requirement language writes it: bare when it is a simple
// word, quoted when printable, hexadecimal otherwise.
QString dataText(const QByteArray& bytes, bool dotOkay, bool forceQuote = false)
{
    enum { simple, printable, binary } mode = forceQuote ? printable : simple;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (std::isalnum(c) || (c == '.' && dotOkay)) {
            if (i == 0 && std::isdigit(c))
                mode = printable;
        } else if (c < 0x80 && (std::isgraph(c) || std::isspace(c))) {
            if (mode == simple)
                mode = printable;
        } else if (c >= 0x80) {
            // UTF-8 text reads fine inside quotes.
            if (mode == simple)
                mode = printable;
        } else {
            mode = binary;
            break;
        }
    }
    if (mode == simple && (bytes.isEmpty() || isKeyword(bytes)))
        mode = printable;
    if (mode == printable && !QString::fromUtf8(bytes).toUtf8().startsWith(bytes))
        mode = binary;
    switch (mode) {
    case simple:
        return QString::fromUtf8(bytes);
    case printable: {
        QString text = u"\""_s;
        for (const QChar c : QString::fromUtf8(bytes)) {
            if (c == u'"' || c == u'\\')
                text += u'\\';
            text += c;
        }
        return text + u'"';
    }
    case binary:
        break;
    }
    return u"0x"_s + QString::fromLatin1(bytes.toHex());
}

// A key or field name inside brackets: bare when simple, else quoted (any
// text can be quoted there; names are checked to be UTF-8 when read).
QString bracketText(const QByteArray& bytes, bool forceQuote = false)
{
    const QString simple = dataText(bytes, true, forceQuote);
    if (!simple.startsWith(u"0x"))
        return simple;
    QString text = u"\""_s;
    for (const QChar c : QString::fromUtf8(bytes)) {
        if (c == u'"' || c == u'\\')
            text += u'\\';
        text += c;
    }
    return text + u'"';
}

bool isUtf8(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

QString hashText(const QByteArray& bytes)
{
    return u"H\""_s + QString::fromLatin1(bytes.toHex()) + u'"';
}

QString certificateSlot(std::int32_t index)
{
    if (index == leafCertificate)
        return u"leaf"_s;
    if (index == anchorCertificate)
        return u"root"_s;
    return QString::number(index);
}

// Dotted text of the content bytes of a DER object identifier.
QString oidText(const QByteArray& bytes)
{
    QStringList parts;
    std::uint64_t value = 0;
    bool first = true;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        value = value << 7 | (byte & 0x7f);
        if (value > (std::uint64_t(1) << 56))
            return {};
        if (byte & 0x80)
            continue;
        if (first) {
            const std::uint64_t head = value < 80 ? value / 40 : 2;
            parts << QString::number(head) << QString::number(value - head * 40);
            first = false;
        } else {
            parts << QString::number(value);
        }
        value = 0;
    }
    if (parts.isEmpty() || (!bytes.isEmpty() && (static_cast<unsigned char>(bytes.back()) & 0x80)))
        return {};
    return parts.join(u'.');
}

QString matchText(const RequirementExpr& node)
{
    const QString value = dataText(node.matchValue, false);
    const QString time = u"timestamp \""_s + QString::number(node.matchTime) + u'"';
    switch (node.match) {
    case MatchOp::exists:
        return u" /* exists */"_s;
    case MatchOp::absent:
        return u" absent"_s;
    case MatchOp::equal:
        return u" = "_s + value;
    case MatchOp::contains:
        return u" ~ "_s + value;
    case MatchOp::beginsWith:
        return u" = "_s + value + u'*';
    case MatchOp::endsWith:
        return u" = *"_s + value;
    case MatchOp::lessThan:
        return u" < "_s + value;
    case MatchOp::greaterThan:
        return u" > "_s + value;
    case MatchOp::lessEqual:
        return u" <= "_s + value;
    case MatchOp::greaterEqual:
        return u" >= "_s + value;
    case MatchOp::on:
        return u" = "_s + time;
    case MatchOp::before:
        return u" < "_s + time;
    case MatchOp::after:
        return u" > "_s + time;
    case MatchOp::onOrBefore:
        return u" <= "_s + time;
    case MatchOp::onOrAfter:
        return u" >= "_s + time;
    }
    return {};
}

QString certificateFieldText(const RequirementExpr& node)
{
    QString field;
    switch (node.op) {
    case RequirementOp::certField: {
        // A name that reads like an OID test is quoted, which keeps it a name.
        const bool looksLikeOid = node.data.startsWith("field.") || node.data.startsWith("policy.")
            || node.data.startsWith("timestamp.");
        field = bracketText(node.data, looksLikeOid);
        break;
    }
    case RequirementOp::certGeneric:
        field = u"field."_s + oidText(node.data);
        break;
    case RequirementOp::certPolicy:
        field = u"policy."_s + oidText(node.data);
        break;
    default:
        field = u"timestamp."_s + oidText(node.data);
        break;
    }
    return u"certificate "_s + certificateSlot(node.certificate) + u'[' + field + u']' + matchText(node);
}

enum class Level { top, orLevel, andLevel, primary };

QString expressionText(const RequirementExpr& node, Level level)
{
    switch (node.op) {
    case RequirementOp::alwaysFalse:
        return u"never"_s;
    case RequirementOp::alwaysTrue:
        return u"always"_s;
    case RequirementOp::identifier:
        return u"identifier "_s + dataText(node.data, false);
    case RequirementOp::appleAnchor:
        return u"anchor apple"_s;
    case RequirementOp::appleGenericAnchor:
        return u"anchor apple generic"_s;
    case RequirementOp::namedAnchor:
        return u"anchor apple "_s + dataText(node.data, false);
    case RequirementOp::anchorHash:
        return u"certificate "_s + certificateSlot(node.certificate) + u" = "_s + hashText(node.data);
    case RequirementOp::infoKeyValue:
        return u"info["_s + bracketText(node.data) + u"] = "_s + dataText(node.value, false);
    case RequirementOp::andOp: {
        const QString text = expressionText(node.operands[0], Level::andLevel) + u" and "_s
            + expressionText(node.operands[1], Level::andLevel);
        return level > Level::andLevel ? u'(' + text + u')' : text;
    }
    case RequirementOp::orOp: {
        const QString text = expressionText(node.operands[0], Level::orLevel) + u" or "_s
            + expressionText(node.operands[1], Level::orLevel);
        return level > Level::orLevel ? u'(' + text + u')' : text;
    }
    case RequirementOp::notOp:
        return u"! "_s + expressionText(node.operands[0], Level::primary);
    case RequirementOp::cdhash:
        return u"cdhash "_s + hashText(node.data);
    case RequirementOp::infoKeyField:
        return u"info["_s + bracketText(node.data) + u']' + matchText(node);
    case RequirementOp::entitlementField:
        return u"entitlement["_s + bracketText(node.data) + u']' + matchText(node);
    case RequirementOp::certField:
    case RequirementOp::certGeneric:
    case RequirementOp::certPolicy:
    case RequirementOp::certFieldDate:
        return certificateFieldText(node);
    case RequirementOp::trustedCert:
        return u"certificate "_s + certificateSlot(node.certificate) + u" trusted"_s;
    case RequirementOp::trustedCerts:
        return u"anchor trusted"_s;
    case RequirementOp::namedCode:
        return u'(' + bracketText(node.data, true) + u')';
    case RequirementOp::platform:
        return u"platform = "_s + QString::number(node.integer);
    case RequirementOp::notarized:
        return u"notarized"_s;
    case RequirementOp::legacyDeveloperId:
        return u"legacy"_s;
    }
    return {};
}

QString typeName(RequirementType type)
{
    switch (type) {
    case RequirementType::host:
        return u"host"_s;
    case RequirementType::guest:
        return u"guest"_s;
    case RequirementType::designated:
        return u"designated"_s;
    case RequirementType::library:
        return u"library"_s;
    case RequirementType::plugin:
        return u"plugin"_s;
    }
    return QString::number(std::uint32_t(type));
}

} // namespace

std::optional<Requirement> Requirement::fromBlob(ByteView blob)
{
    const auto magic = blob.be32(0);
    const auto length = blob.be32(4);
    const auto kind = blob.be32(8);
    if (!magic || *magic != requirementMagic || !length || *length < 12 || *length > blob.size() || !kind
        || *kind != exprForm)
        return std::nullopt;
    BlobReader reader(*blob.sub(12, *length - 12));
    auto expression = reader.expression(0);
    if (!expression)
        return std::nullopt;
    return Requirement(std::move(*expression));
}

QByteArray Requirement::toBlob() const
{
    BlobWriter writer;
    writer.word(requirementMagic);
    writer.word(0);
    writer.word(exprForm);
    writer.expression(m_expression);
    QByteArray& bytes = writer.bytes();
    const std::uint32_t length = std::uint32_t(bytes.size());
    bytes[4] = char(length >> 24);
    bytes[5] = char(length >> 16);
    bytes[6] = char(length >> 8);
    bytes[7] = char(length);
    return bytes;
}

QString Requirement::text() const
{
    return expressionText(m_expression, Level::top);
}

std::optional<RequirementSet> RequirementSet::fromBlob(ByteView blob)
{
    const auto magic = blob.be32(0);
    const auto length = blob.be32(4);
    const auto count = blob.be32(8);
    if (!magic || *magic != requirementSetMagic || !length || *length > blob.size() || !count
        || *count > maxSetEntries)
        return std::nullopt;
    const ByteView bytes = *blob.sub(0, *length);
    RequirementSet out;
    for (std::uint32_t i = 0; i < *count; ++i) {
        const auto type = bytes.be32(12 + i * 8);
        const auto offset = bytes.be32(16 + i * 8);
        if (!type || !offset)
            return std::nullopt;
        const auto rest = bytes.from(*offset);
        if (!rest)
            return std::nullopt;
        auto requirement = Requirement::fromBlob(*rest);
        if (!requirement)
            return std::nullopt;
        out.entries.emplace_back(RequirementType(*type), std::move(*requirement));
    }
    return out;
}

QByteArray RequirementSet::toBlob() const
{
    QList<QByteArray> blobs;
    for (const auto& entry : entries)
        blobs.append(entry.second.toBlob());
    BlobWriter writer;
    const std::uint32_t headerSize = 12 + 8 * std::uint32_t(entries.size());
    std::uint32_t total = headerSize;
    for (const QByteArray& blob : blobs)
        total += std::uint32_t(blob.size());
    writer.word(requirementSetMagic);
    writer.word(total);
    writer.word(std::uint32_t(entries.size()));
    std::uint32_t offset = headerSize;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        writer.word(std::uint32_t(entries[i].first));
        writer.word(offset);
        offset += std::uint32_t(blobs[qsizetype(i)].size());
    }
    for (const QByteArray& blob : blobs)
        writer.bytes().append(blob);
    return writer.bytes();
}

QString RequirementSet::text() const
{
    QStringList lines;
    for (const auto& [type, requirement] : entries)
        lines << typeName(type) + u" => "_s + requirement.text();
    return lines.join(u'\n');
}

const Requirement* RequirementSet::find(RequirementType type) const
{
    for (const auto& entry : entries) {
        if (entry.first == type)
            return &entry.second;
    }
    return nullptr;
}

} // namespace corvanta::codesign
