#include "sources/CaskCatalog.h"

#include "sources/JsonReader.h"

#include <array>
#include <string_view>

#include <QSet>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

std::optional<QString> text(const JsonNode* node)
{
    if (!node || !node->isString())
        return std::nullopt;
    return QString::fromUtf8(node->text.data(), qsizetype(node->text.size()));
}

// A stanza entry is a single string or a list of them.
template<typename Visit> void eachString(const JsonNode* node, Visit visit)
{
    if (!node)
        return;
    if (node->isString()) {
        visit(QString::fromUtf8(node->text.data(), qsizetype(node->text.size())));
    } else if (node->isArray()) {
        for (const JsonNode& item : node->items) {
            if (item.isString())
                visit(QString::fromUtf8(item.text.data(), qsizetype(item.text.size())));
        }
    }
}

// Every string in a value, through nested lists ("signal" holds pairs).
void allStrings(const JsonNode& node, QStringList& into)
{
    if (node.isString()) {
        into << QString::fromUtf8(node.text.data(), qsizetype(node.text.size()));
    } else if (node.isArray()) {
        for (const JsonNode& item : node.items)
            allStrings(item, into);
    }
}

QString lastComponent(const QString& path)
{
    const QStringList pieces = path.split(u'/', Qt::SkipEmptyParts);
    return pieces.isEmpty() ? QString() : pieces.last();
}

// What one cask's artifacts say, gathered in the order they say it.
struct Artifacts {
    QStringList apps;
    QStringList bundleIDs;
    QStringList strings;
    QStringList zap;
    std::optional<QString> pkg;

    void addApp(const QString& path)
    {
        const QString name = lastComponent(path);
        if (!name.isEmpty())
            apps << name;
    }

    void stanza(const JsonNode& stanza, bool isZap)
    {
        for (const JsonNode& entry : stanza.items)
            allStrings(entry, strings);
        eachString(stanza.member("quit"), [this](const QString& id) { bundleIDs << id; });
        if (isZap) {
            for (std::string_view entry : { "trash", "delete" }) {
                eachString(stanza.member(entry), [this](const QString& path) {
                    if (path.startsWith(u"~/Library/") && !path.contains(u'*'))
                        zap << path;
                });
            }
        }
        // Sandboxed apps leave folders and preferences named after their identifier.
        eachString(stanza.member("trash"), [this](const QString& path) {
            for (QStringView marker : { u"/Containers/", u"/Application Scripts/", u"/Preferences/" }) {
                const qsizetype at = path.indexOf(marker);
                if (at < 0)
                    continue;
                QString id = path.mid(at + marker.size()).section(u'/', 0, 0);
                if (id.endsWith(u".plist"))
                    id.chop(6);
                if (id.split(u'.', Qt::SkipEmptyParts).size() > 2 && !id.contains(u'*'))
                    bundleIDs << id;
            }
        });
        if (!isZap) {
            eachString(stanza.member("delete"), [this](const QString& path) {
                if (path.startsWith(u"/Applications/") && path.endsWith(u".app"))
                    addApp(path);
            });
        }
    }

    void read(const JsonNode& artifacts)
    {
        for (const JsonNode& artifact : artifacts.items) {
            if (!artifact.isObject())
                continue;
            for (std::size_t i = 0; i < artifact.keys.size(); ++i) {
                const std::string& kind = artifact.keys[i];
                const JsonNode& value = artifact.items[i];
                if (!value.isArray())
                    continue;
                if (kind == "app") {
                    for (const JsonNode& entry : value.items) {
                        if (entry.isString())
                            addApp(*text(&entry));
                        else if (const std::optional<QString> target = text(entry.member("target")))
                            addApp(*target);
                    }
                } else if (kind == "pkg") {
                    for (const JsonNode& entry : value.items) {
                        if (entry.isString()) {
                            if (!pkg)
                                pkg = text(&entry);
                            break;
                        }
                    }
                } else if (kind == "uninstall" || kind == "zap") {
                    for (const JsonNode& stanzaNode : value.items) {
                        if (stanzaNode.isObject())
                            stanza(stanzaNode, kind == "zap");
                    }
                }
            }
        }
    }
};

QStringList distinct(const QStringList& list, Qt::CaseSensitivity sensitivity)
{
    QStringList result;
    QSet<QString> seen;
    for (const QString& item : list) {
        const QString key = sensitivity == Qt::CaseInsensitive ? item.toLower() : item;
        if (!seen.contains(key)) {
            seen.insert(key);
            result << item;
        }
    }
    return result;
}

} // namespace

std::optional<Cask> CaskFields::build(const std::optional<QString>& variationKey) const
{
    const std::optional<QString> tokenText = text(token);
    if (!tokenText)
        return std::nullopt;

    const JsonNode* variation = nullptr;
    if (variationKey && variations) {
        const QByteArray key = variationKey->toUtf8();
        variation = variations->member(std::string_view(key.constData(), std::size_t(key.size())));
        if (variation && !variation->isObject())
            variation = nullptr;
    }
    // The variation for this Mac's system overrides the top-level download.
    auto pick = [variation](const JsonNode* top, std::string_view name) {
        if (variation) {
            if (const JsonNode* own = variation->member(name); own && own->isString())
                return own;
        }
        return top;
    };

    Cask cask;
    cask.token = *tokenText;
    cask.version = text(pick(version, "version")).value_or(QString());
    if (const std::optional<QString> address = text(pick(url, "url"))) {
        const QUrl parsed(*address);
        if (parsed.isValid() && !parsed.isEmpty())
            cask.url = parsed;
    }
    cask.sha256 = text(pick(sha256, "sha256"));
    cask.homepage = text(homepage);

    Artifacts found;
    if (artifacts && artifacts->isArray())
        found.read(*artifacts);
    cask.apps = distinct(found.apps, Qt::CaseInsensitive);
    cask.bundleIDs = distinct(found.bundleIDs, Qt::CaseSensitive);
    if (cask.apps.isEmpty() && cask.bundleIDs.isEmpty())
        return std::nullopt;
    cask.mentions = (found.bundleIDs + found.strings).join(u'\n').toLower();
    cask.zap = found.zap;
    cask.pkg = found.pkg;
    return cask;
}

std::optional<CaskCatalog> CaskCatalog::parse(
    const QByteArray& body, const std::optional<QString>& variationKey)
{
    JsonReader reader(std::string_view(body.constData(), std::size_t(body.size())));
    CaskCatalog catalog;
    if (!reader.consume('['))
        return std::nullopt;
    if (!reader.consume(']')) {
        std::array<JsonNode, 7> nodes;
        std::string key;
        do {
            if (!reader.consume('{'))
                return std::nullopt;
            CaskFields fields;
            if (!reader.consume('}')) {
                do {
                    if (!reader.readString(key) || !reader.consume(':'))
                        return std::nullopt;
                    // Only these members are materialised; the rest is checked and skipped.
                    JsonNode* node = nullptr;
                    const JsonNode** slot = nullptr;
                    if (key == "token")
                        node = &nodes[0], slot = &fields.token;
                    else if (key == "version")
                        node = &nodes[1], slot = &fields.version;
                    else if (key == "url")
                        node = &nodes[2], slot = &fields.url;
                    else if (key == "sha256")
                        node = &nodes[3], slot = &fields.sha256;
                    else if (key == "homepage")
                        node = &nodes[4], slot = &fields.homepage;
                    else if (key == "artifacts")
                        node = &nodes[5], slot = &fields.artifacts;
                    else if (key == "variations")
                        node = &nodes[6], slot = &fields.variations;
                    if (node) {
                        if (!reader.readValue(*node))
                            return std::nullopt;
                        *slot = node;
                    } else if (!reader.skipValue()) {
                        return std::nullopt;
                    }
                } while (reader.consume(','));
                if (!reader.consume('}'))
                    return std::nullopt;
            }
            if (std::optional<Cask> cask = fields.build(variationKey))
                catalog.add(std::move(*cask));
        } while (reader.consume(','));
        if (!reader.consume(']'))
            return std::nullopt;
    }
    if (!reader.atEnd())
        return std::nullopt;
    return catalog;
}

void CaskCatalog::add(Cask cask)
{
    const qsizetype index = qsizetype(casks.size());
    QSet<QString> names;
    for (const QString& app : cask.apps)
        names.insert(app.toLower());
    for (const QString& name : names)
        byApp[name].push_back(index);
    for (const QString& id : cask.bundleIDs)
        byBundle[id].push_back(index);
    byToken.insert(cask.token, index);
    casks.push_back(std::move(cask));
}

const Cask* CaskCatalog::find(const QString& bundleID, const QString& fileName) const
{
    const QString lowerID = bundleID.toLower();
    std::vector<const Cask*> candidates;
    for (qsizetype index : byApp.value(fileName.toLower())) {
        const Cask& cask = casks[std::size_t(index)];
        // A cask that names other identifiers and never this one installs a namesake.
        if (cask.bundleIDs.isEmpty() || cask.mentions.contains(lowerID))
            candidates.push_back(&cask);
    }
    if (candidates.empty()) {
        for (qsizetype index : byBundle.value(bundleID))
            candidates.push_back(&casks[std::size_t(index)]);
    }
    const Cask* best = nullptr;
    int bestPenalty = 0;
    for (const Cask* cask : candidates) {
        const int penalty
            = (cask->token.contains(u'@') ? 2 : 0) + (cask->bundleIDs.contains(bundleID) ? 0 : 1);
        if (!best || penalty < bestPenalty) {
            best = cask;
            bestPenalty = penalty;
        }
    }
    return best;
}

const Cask* CaskCatalog::token(const QString& name) const
{
    const auto found = byToken.constFind(name);
    return found == byToken.cend() ? nullptr : &casks[std::size_t(*found)];
}

} // namespace corvanta
