#include "sources/CaskCatalog.h"

#include "sources/JsonReader.h"

#include <algorithm>
#include <array>
#include <functional>
#include <string_view>

#include <QUrl>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

std::optional<QString> text(const JsonNode* node)
{
    if (!node || !node->isString())
        return std::nullopt;
    return fromUtf8(node->text);
}

// Lower case without the full Unicode tables when the text is ASCII, as
// nearly everything in the index is; the general path is several times slower.
QString lowered(QString text)
{
    for (QChar c : std::as_const(text)) {
        if (c.unicode() >= 0x80)
            return text.toLower();
    }
    for (QChar& c : text) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + 32);
    }
    return text;
}

// A stanza entry is a single string or a list of them.
template<typename Visit> void eachString(const JsonNode* node, Visit visit)
{
    if (!node)
        return;
    if (node->isString()) {
        visit(std::string_view(node->text));
    } else if (node->isArray()) {
        for (const JsonNode& item : node->items) {
            if (item.isString())
                visit(std::string_view(item.text));
        }
    }
}

// Every string in a value, through nested lists ("signal" holds pairs).
void allStrings(const JsonNode& node, std::string& into)
{
    if (node.isString()) {
        into += '\n';
        into += node.text;
    } else if (node.isArray()) {
        for (const JsonNode& item : node.items)
            allStrings(item, into);
    }
}

std::string_view lastComponent(std::string_view path)
{
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// What one cask's artifacts say, gathered in the order they say it. Kept
// in UTF-8 until the end: most of what is looked at is not kept.
struct Artifacts {
    std::vector<std::string_view> apps;
    std::vector<std::string_view> bundleIDs;
    std::string strings; // each preceded by a line feed
    std::vector<std::string_view> zap;
    std::optional<std::string_view> pkg;

    void addApp(std::string_view path)
    {
        const std::string_view name = lastComponent(path);
        if (!name.empty())
            apps.push_back(name);
    }

    void stanza(const JsonNode& stanza, bool isZap)
    {
        for (const JsonNode& entry : stanza.items)
            allStrings(entry, strings);
        eachString(stanza.member("quit"), [this](std::string_view id) { bundleIDs.emplace_back(id); });
        if (isZap) {
            for (std::string_view entry : { "trash", "delete" }) {
                eachString(stanza.member(entry), [this](std::string_view path) {
                    if (path.starts_with("~/Library/") && path.find('*') == std::string_view::npos)
                        zap.push_back(path);
                });
            }
        }
        // Sandboxed apps leave folders and preferences named after their identifier.
        eachString(stanza.member("trash"), [this](std::string_view path) {
            for (std::string_view marker : { "/Containers/", "/Application Scripts/", "/Preferences/" }) {
                const std::size_t at = path.find(marker);
                if (at == std::string_view::npos)
                    continue;
                std::string_view id = path.substr(at + marker.size());
                id = id.substr(0, id.find('/'));
                if (id.ends_with(".plist"))
                    id.remove_suffix(6);
                if (id.find('*') != std::string_view::npos)
                    continue;
                int parts = 0;
                for (std::size_t start = 0; start <= id.size();) {
                    const std::size_t dot = std::min(id.find('.', start), id.size());
                    parts += dot > start ? 1 : 0;
                    start = dot + 1;
                }
                if (parts > 2)
                    bundleIDs.emplace_back(id);
            }
        });
        if (!isZap) {
            eachString(stanza.member("delete"), [this](std::string_view path) {
                if (path.starts_with("/Applications/") && path.ends_with(".app"))
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
                const std::string_view kind = artifact.keys[i];
                const JsonNode& value = artifact.items[i];
                if (!value.isArray())
                    continue;
                if (kind == "app") {
                    for (const JsonNode& entry : value.items) {
                        if (entry.isString())
                            addApp(entry.text);
                        else if (const JsonNode* target = entry.member("target");
                                 target && target->isString())
                            addApp(target->text);
                    }
                } else if (kind == "pkg") {
                    for (const JsonNode& entry : value.items) {
                        if (entry.isString()) {
                            if (!pkg)
                                pkg = entry.text;
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

// The lists are a handful of entries long: a linear search beats hashing.
template<typename Same> void appendDistinct(QStringList& list, QString item, Same same)
{
    for (const QString& present : std::as_const(list)) {
        if (same(present, item))
            return;
    }
    list.append(std::move(item));
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

    Artifacts found;
    if (artifacts && artifacts->isArray())
        found.read(*artifacts);
    if (found.apps.empty() && found.bundleIDs.empty())
        return std::nullopt;

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
    for (std::string_view app : found.apps) {
        appendDistinct(cask.apps, fromUtf8(app),
            [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; });
    }
    std::string mentions;
    for (std::size_t i = 0; i < found.bundleIDs.size(); ++i) {
        appendDistinct(cask.bundleIDs, fromUtf8(found.bundleIDs[i]), std::equal_to<QString>());
        if (i > 0)
            mentions += '\n';
        mentions += found.bundleIDs[i];
    }
    // The identifiers, then the stanza strings (each kept after a line feed).
    const std::string_view strings(found.strings);
    mentions += found.bundleIDs.empty() && !strings.empty() ? strings.substr(1) : strings;
    cask.mentions = lowered(fromUtf8(mentions));
    for (std::string_view path : found.zap)
        cask.zap << fromUtf8(path);
    if (found.pkg)
        cask.pkg = fromUtf8(*found.pkg);
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
        std::string_view key;
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
    QStringList names;
    for (const QString& app : cask.apps)
        appendDistinct(names, lowered(app), std::equal_to<QString>());
    for (const QString& name : std::as_const(names))
        byApp[name].push_back(index);
    QStringList ids;
    for (const QString& id : cask.bundleIDs)
        appendDistinct(ids, id, std::equal_to<QString>());
    for (const QString& id : std::as_const(ids))
        byBundle[id].push_back(index);
    byToken.insert(cask.token, index);
    casks.push_back(std::move(cask));
}

const Cask* CaskCatalog::find(const QString& bundleID, const QString& fileName) const
{
    const QString lowerID = lowered(bundleID);
    std::vector<const Cask*> candidates;
    for (qsizetype index : byApp.value(lowered(fileName))) {
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
