#include "sources/CaskCatalog.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>

#include <QUrl>

#include <simdjson.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

namespace json = simdjson::ondemand;

std::optional<QString> text(const std::optional<std::string_view>& value)
{
    return value ? std::optional(fromUtf8(*value)) : std::nullopt;
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

std::string_view lastComponent(std::string_view path)
{
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Nesting deeper than this is refused rather than risking the stack.
constexpr int maxDepth = 512;

// The reader walks every value, reading the few it needs and checking the
// rest, so a document is taken only when it is valid JSON (escapes aside in
// strings never read): On-Demand alone would let a malformed value we skip
// pass unseen. Any failure unwinds as a simdjson_error and turns the whole
// document down.
void check(simdjson::error_code error)
{
    if (error)
        throw simdjson::simdjson_error(error);
}

void validate(json::value value, int depth);

json::array arrayOf(json::value& value, int depth)
{
    if (depth >= maxDepth)
        throw simdjson::simdjson_error(simdjson::DEPTH_ERROR);
    json::array array;
    check(value.get_array().get(array));
    return array;
}

json::object objectOf(json::value& value, int depth)
{
    if (depth >= maxDepth)
        throw simdjson::simdjson_error(simdjson::DEPTH_ERROR);
    json::object object;
    check(value.get_object().get(object));
    return object;
}

json::value element(simdjson::simdjson_result<json::value> result)
{
    json::value value;
    check(std::move(result).get(value));
    return value;
}

json::json_type typeOf(json::value& value)
{
    json::json_type type {};
    check(value.type().get(type));
    return type;
}

// A string's text: a view into the document itself unless it has escapes,
// which are rare; unescaping copies, and the copies would add up to most of
// the document.
std::string_view stringOf(json::value& value)
{
    const std::string_view token = value.raw_json_token();
    std::string_view text;
    if (token.find('\\') != std::string_view::npos) {
        check(value.get_string().get(text));
        return text;
    }
    json::raw_json_string raw;
    check(value.get_raw_json_string().get(raw));
    // The token runs to the next structural character: the closing quote,
    // then any white space.
    return token.substr(1, token.rfind('"') - 1);
}

// A member's name, unescaped only when it has escapes (they are rare, and
// unescaping copies).
std::string_view keyOf(json::field& field)
{
    const char* raw = field.key().raw();
    for (const char* at = raw; *at != '"'; ++at) {
        if (*at == '\\') {
            std::string_view key;
            check(field.unescaped_key().get(key));
            return key;
        }
        if (at[1] == '"')
            return std::string_view(raw, std::size_t(at + 1 - raw));
    }
    return {};
}

void validate(json::value value, int depth)
{
    switch (typeOf(value)) {
    case json::json_type::array:
        for (auto item : arrayOf(value, depth))
            validate(element(item), depth + 1);
        break;
    case json::json_type::object:
        for (auto result : objectOf(value, depth)) {
            json::field field;
            check(std::move(result).get(field));
            validate(field.value(), depth + 1);
        }
        break;
    case json::json_type::number: {
        double number = 0;
        check(value.get_double().get(number));
        break;
    }
    case json::json_type::string: {
        json::raw_json_string raw;
        check(value.get_raw_json_string().get(raw));
        break;
    }
    case json::json_type::boolean: {
        bool flag = false;
        check(value.get_bool().get(flag));
        break;
    }
    case json::json_type::null: {
        bool null = false;
        check(value.is_null().get(null));
        if (!null)
            throw simdjson::simdjson_error(simdjson::N_ATOM_ERROR);
        break;
    }
    }
}

// The value when it is a string, else none (and the value checked).
std::optional<std::string_view> optionalString(json::value value, int depth)
{
    if (typeOf(value) == json::json_type::string)
        return stringOf(value);
    validate(value, depth);
    return std::nullopt;
}

// The strings of a stanza entry: `direct` are the entry itself or the
// strings of its list, `all` every string through nested lists ("signal"
// holds pairs).
struct EntryStrings {
    std::vector<std::string_view> direct;
    std::vector<std::string_view> all;

    // `level` 0 is the entry, 1 an item of its list, more a nested list's.
    void read(json::value value, int depth, int level = 0)
    {
        const json::json_type type = typeOf(value);
        if (type == json::json_type::string) {
            const std::string_view text = stringOf(value);
            if (level <= 1)
                direct.push_back(text);
            all.push_back(text);
        } else if (type == json::json_type::array) {
            for (auto item : arrayOf(value, depth))
                read(element(item), depth + 1, level + 1);
        } else {
            validate(value, depth);
        }
    }
};

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

    void stanza(json::object object, int depth, bool isZap)
    {
        // Each member read once, in order; the lists a name stands for are
        // those of its last member, as with any JSON object.
        EntryStrings quit, trash, remove;
        for (auto result : object) {
            json::field field;
            check(std::move(result).get(field));
            const std::string_view key = keyOf(field);
            EntryStrings entry;
            entry.read(field.value(), depth + 1);
            for (std::string_view text : entry.all) {
                strings += '\n';
                strings += text;
            }
            if (key == "quit")
                quit = std::move(entry);
            else if (key == "trash")
                trash = std::move(entry);
            else if (key == "delete")
                remove = std::move(entry);
        }
        for (std::string_view id : quit.direct)
            bundleIDs.push_back(id);
        if (isZap) {
            for (const EntryStrings* entry : { &trash, &remove }) {
                for (std::string_view path : entry->direct) {
                    if (path.starts_with("~/Library/") && path.find('*') == std::string_view::npos)
                        zap.push_back(path);
                }
            }
        }
        // Sandboxed apps leave folders and preferences named after their identifier.
        for (std::string_view path : trash.direct) {
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
                    bundleIDs.push_back(id);
            }
        }
        if (!isZap) {
            for (std::string_view path : remove.direct) {
                if (path.starts_with("/Applications/") && path.ends_with(".app"))
                    addApp(path);
            }
        }
    }

    void appEntry(json::value entry, int depth)
    {
        if (typeOf(entry) == json::json_type::string) {
            addApp(stringOf(entry));
            return;
        }
        if (typeOf(entry) != json::json_type::object) {
            validate(entry, depth);
            return;
        }
        std::optional<std::string_view> target;
        for (auto result : objectOf(entry, depth)) {
            json::field field;
            check(std::move(result).get(field));
            if (keyOf(field) == "target")
                target = optionalString(field.value(), depth + 1);
            else
                validate(field.value(), depth + 1);
        }
        if (target)
            addApp(*target);
    }

    void read(json::value artifacts, int depth)
    {
        for (auto item : arrayOf(artifacts, depth)) {
            json::value artifact = element(item);
            if (typeOf(artifact) != json::json_type::object) {
                validate(artifact, depth + 1);
                continue;
            }
            for (auto result : objectOf(artifact, depth + 1)) {
                json::field field;
                check(std::move(result).get(field));
                const std::string_view kind = keyOf(field);
                json::value value = field.value();
                const bool known = kind == "app" || kind == "pkg" || kind == "uninstall" || kind == "zap";
                if (!known || typeOf(value) != json::json_type::array) {
                    validate(value, depth + 2);
                    continue;
                }
                bool pkgSeen = false;
                for (auto entryResult : arrayOf(value, depth + 2)) {
                    json::value entry = element(entryResult);
                    const json::json_type type = typeOf(entry);
                    if (kind == "app") {
                        appEntry(entry, depth + 3);
                    } else if (kind == "pkg" && !pkgSeen && type == json::json_type::string) {
                        // The first string names the package.
                        pkgSeen = true;
                        const std::string_view name = stringOf(entry);
                        if (!pkg)
                            pkg = name;
                    } else if ((kind == "uninstall" || kind == "zap") && type == json::json_type::object) {
                        stanza(objectOf(entry, depth + 3), depth + 3, kind == "zap");
                    } else {
                        validate(entry, depth + 3);
                    }
                }
            }
        }
    }
};

// The members of one cask object that matter; for each name the last member
// counts, as with any JSON object.
struct CaskFields {
    std::optional<std::string_view> token, version, url, sha256, homepage;
    Artifacts artifacts;
    // The variation for this Mac's system, when the index has one.
    std::optional<std::string_view> ownVersion, ownUrl, ownSha256;

    void variation(json::value value, int depth)
    {
        ownVersion = ownUrl = ownSha256 = std::nullopt;
        if (typeOf(value) != json::json_type::object) {
            validate(value, depth);
            return;
        }
        for (auto result : objectOf(value, depth)) {
            json::field field;
            check(std::move(result).get(field));
            const std::string_view key = keyOf(field);
            std::optional<std::string_view>* slot = key == "version" ? &ownVersion
                : key == "url"                                       ? &ownUrl
                : key == "sha256"                                    ? &ownSha256
                                                                     : nullptr;
            if (slot)
                *slot = optionalString(field.value(), depth + 1);
            else
                validate(field.value(), depth + 1);
        }
    }

    void variations(json::value value, int depth, std::string_view key)
    {
        ownVersion = ownUrl = ownSha256 = std::nullopt;
        if (key.empty() || typeOf(value) != json::json_type::object) {
            validate(value, depth);
            return;
        }
        for (auto result : objectOf(value, depth)) {
            json::field field;
            check(std::move(result).get(field));
            if (keyOf(field) == key)
                variation(field.value(), depth + 1);
            else
                validate(field.value(), depth + 1);
        }
    }

    void read(json::object object, std::string_view variationKey)
    {
        for (auto result : object) {
            json::field field;
            check(std::move(result).get(field));
            const std::string_view key = keyOf(field);
            std::optional<std::string_view>* slot = key == "token" ? &token
                : key == "version"                                 ? &version
                : key == "url"                                     ? &url
                : key == "sha256"                                  ? &sha256
                : key == "homepage"                                ? &homepage
                                                                   : nullptr;
            if (slot) {
                *slot = optionalString(field.value(), 2);
            } else if (key == "artifacts") {
                artifacts = Artifacts();
                json::value value = field.value();
                if (typeOf(value) == json::json_type::array)
                    artifacts.read(value, 2);
                else
                    validate(value, 2);
            } else if (key == "variations") {
                variations(field.value(), 2, variationKey);
            } else {
                validate(field.value(), 2);
            }
        }
    }

    std::optional<Cask> build() const;
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

std::optional<Cask> CaskFields::build() const
{
    if (!token)
        return std::nullopt;
    const Artifacts& found = artifacts;
    if (found.apps.empty() && found.bundleIDs.empty())
        return std::nullopt;

    Cask cask;
    cask.token = fromUtf8(*token);
    // The variation for this Mac's system overrides the top-level download.
    cask.version = text(ownVersion ? ownVersion : version).value_or(QString());
    if (const std::optional<QString> address = text(ownUrl ? ownUrl : url)) {
        const QUrl parsed(*address);
        if (parsed.isValid() && !parsed.isEmpty())
            cask.url = parsed;
    }
    cask.sha256 = text(ownSha256 ? ownSha256 : sha256);
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

} // namespace

void CaskCatalog::makeRoom(QByteArray& body)
{
    const qsizetype size = body.size();
    body.reserve(size + qsizetype(simdjson::SIMDJSON_PADDING));
    // What lies past the end is read but never used; zero it all the same.
    std::memset(body.data() + size, 0, simdjson::SIMDJSON_PADDING);
}

std::optional<CaskCatalog> CaskCatalog::parse(
    const QByteArray& body, const std::optional<QString>& variationKey)
{
    std::string_view text(body.constData(), std::size_t(body.size()));
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    const QByteArray key = variationKey ? variationKey->toUtf8() : QByteArray();
    const std::string_view keyText(key.constData(), std::size_t(key.size()));
    const std::size_t room = std::size_t(body.capacity() - body.size());
    const bool inPlace = room >= simdjson::SIMDJSON_PADDING;
    simdjson::padded_string copy;
    if (!inPlace)
        copy = simdjson::padded_string(text);
    const simdjson::padded_string_view input = inPlace
        ? simdjson::padded_string_view(text.data(), text.size(), text.size() + room)
        : simdjson::padded_string_view(copy);

    CaskCatalog catalog;
    try {
        json::parser parser;
        json::document document;
        check(parser.iterate(input).get(document));
        json::array casks;
        check(document.get_array().get(casks));
        for (auto item : casks) {
            json::object object;
            check(std::move(item).get(object));
            CaskFields fields;
            fields.read(object, keyText);
            if (std::optional<Cask> cask = fields.build())
                catalog.add(std::move(*cask));
        }
        // Past the array's end only the padding may remain.
        const char* rest = nullptr;
        if (document.current_location().get(rest) != simdjson::OUT_OF_BOUNDS)
            return std::nullopt;
    } catch (const simdjson::simdjson_error&) {
        return std::nullopt;
    }
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
