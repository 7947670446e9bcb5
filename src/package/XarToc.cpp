#include "package/XarToc.h"

#include <set>

#include <QXmlStreamReader>

using namespace Qt::StringLiterals;

namespace corvanta::xar {

namespace {

constexpr int maxDepth = 64;
constexpr std::size_t maxEntries = 200'000;

XarError damaged(const QString& detail)
{
    return XarError(u"The installer package is damaged: %1."_s.arg(detail));
}

class TocParser {
public:
    explicit TocParser(const QByteArray& xml)
        : m_xml(xml)
    {
    }

    Toc parse()
    {
        // Only a plain document: a document type could declare entities.
        while (!m_xml.atEnd() && m_xml.readNext() != QXmlStreamReader::StartElement)
            check();
        check();
        if (m_xml.name() != u"xar")
            throw damaged(u"its table of contents isn't a xar document"_s);
        while (next()) {
            if (m_xml.name() == u"toc")
                toc();
            else
                m_xml.skipCurrentElement();
        }
        check();
        return std::move(m_toc);
    }

private:
    // Moves to the next child element of the current one; false at its end.
    bool next()
    {
        const bool found = m_xml.readNextStartElement();
        check();
        return found;
    }

    void check()
    {
        if (m_xml.tokenType() == QXmlStreamReader::DTD
            || m_xml.tokenType() == QXmlStreamReader::EntityReference)
            throw damaged(u"its table of contents declares a document type"_s);
        if (m_xml.hasError())
            throw damaged(u"its table of contents isn't well-formed XML ("_s + m_xml.errorString() + u')');
    }

    QString text()
    {
        const QString value = m_xml.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
        check();
        return value.trimmed();
    }

    quint64 number()
    {
        bool ok = false;
        const quint64 value = text().toULongLong(&ok);
        if (!ok)
            throw damaged(u"a number in its table of contents isn't one"_s);
        return value;
    }

    void toc()
    {
        while (next()) {
            const QStringView name = m_xml.name();
            if (name == u"checksum") {
                m_toc.checksumStyle = m_xml.attributes().value(u"style"_s).toString();
                while (next()) {
                    if (m_xml.name() == u"offset")
                        m_toc.checksumOffset = number();
                    else if (m_xml.name() == u"size")
                        m_toc.checksumSize = number();
                    else
                        m_xml.skipCurrentElement();
                }
            } else if (name == u"signature") {
                if (m_xml.attributes().value(u"style"_s) != u"RSA" || m_toc.signature) {
                    m_xml.skipCurrentElement();
                    continue;
                }
                m_toc.signature = signature();
            } else if (name == u"x-signature") {
                m_toc.cmsSignature = m_toc.cmsSignature || m_xml.attributes().value(u"style"_s) == u"CMS";
                m_xml.skipCurrentElement();
            } else if (name == u"file") {
                file(QString(), 1);
            } else {
                m_xml.skipCurrentElement();
            }
        }
    }

    Signature signature()
    {
        Signature out;
        while (next()) {
            const QStringView name = m_xml.name();
            if (name == u"offset")
                out.offset = number();
            else if (name == u"size")
                out.size = number();
            else if (name == u"KeyInfo")
                certificates(out.certificates, 0);
            else
                m_xml.skipCurrentElement();
        }
        return out;
    }

    // Every X509Certificate below KeyInfo, whatever wraps it.
    void certificates(QList<QByteArray>& out, int depth)
    {
        if (depth > 4)
            throw damaged(u"its signature's key information nests too deep"_s);
        while (next()) {
            if (m_xml.name() != u"X509Certificate") {
                certificates(out, depth + 1);
                continue;
            }
            QByteArray base64 = text().toLatin1();
            base64.replace('\n', "").replace('\r', "").replace(' ', "").replace('\t', "");
            auto der = QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
            if (!der || der.decoded.isEmpty())
                throw damaged(u"a certificate of its signature isn't Base64"_s);
            out.append(der.decoded);
        }
    }

    void file(const QString& parent, int depth)
    {
        if (depth > maxDepth)
            throw damaged(u"its folders nest too deep"_s);
        if (m_toc.entries.size() >= maxEntries)
            throw damaged(u"it lists too many files"_s);
        const std::size_t at = m_toc.entries.size();
        m_toc.entries.emplace_back();
        std::optional<QString> name;
        QString type;
        while (next()) {
            const QStringView element = m_xml.name();
            if (element == u"name") {
                name = text();
                if (name->isEmpty() || *name == u"." || *name == u".." || name->contains(u'/')
                    || name->contains(QChar(0)))
                    throw damaged(u"it names a file \u201c%1\u201d"_s.arg(*name));
                m_toc.entries[at].path = parent.isEmpty() ? *name : parent + u'/' + *name;
            } else if (element == u"type") {
                type = text();
                if (type == u"symlink")
                    m_toc.entries[at].link = m_xml.attributes().value(u"link"_s).toString();
            } else if (element == u"link") {
                m_toc.entries[at].link = text();
            } else if (element == u"data") {
                m_toc.entries[at].data = data();
            } else if (element == u"file") {
                if (!name)
                    throw damaged(u"a folder in it has no name before its files"_s);
                file(m_toc.entries[at].path, depth + 1);
            } else {
                m_xml.skipCurrentElement();
            }
        }
        if (!name)
            throw damaged(u"a file in it has no name"_s);
        Entry& entry = m_toc.entries[at];
        entry.kind = type == u"file" ? Entry::Kind::file
            : type == u"directory"   ? Entry::Kind::directory
            : type == u"symlink"     ? Entry::Kind::symlink
                                     : Entry::Kind::other;
        if (!m_paths.insert(entry.path).second)
            throw damaged(u"it names \u201c%1\u201d twice"_s.arg(entry.path));
    }

    Data data()
    {
        Data out;
        while (next()) {
            const QStringView name = m_xml.name();
            if (name == u"offset") {
                out.offset = number();
            } else if (name == u"length") {
                out.length = number();
            } else if (name == u"size") {
                out.size = number();
            } else if (name == u"encoding") {
                out.encoding = m_xml.attributes().value(u"style"_s).toString();
                m_xml.skipCurrentElement();
            } else if (name == u"archived-checksum" || name == u"extracted-checksum") {
                const bool archived = name == u"archived-checksum";
                const auto type = hashTypeNamed(m_xml.attributes().value(u"style"_s));
                const QByteArray hex = text().toLatin1();
                const QByteArray value = QByteArray::fromHex(hex);
                if (!type || value.toHex() != hex.toLower() || value.size() != digest(*type, {}).size())
                    throw damaged(u"a file's checksum in it isn't one Corvanta can check"_s);
                (archived ? out.archived : out.extracted) = Checksum { *type, value };
            } else {
                m_xml.skipCurrentElement();
            }
        }
        return out;
    }

    QXmlStreamReader m_xml;
    Toc m_toc;
    std::set<QString> m_paths;
};

} // namespace

Toc parseToc(const QByteArray& xml)
{
    return TocParser(xml).parse();
}

} // namespace corvanta::xar
