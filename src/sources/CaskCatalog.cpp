#include "sources/CaskCatalog.h"

#include "sources/ElementSpans.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <future>
#include <span>
#include <string_view>
#include <system_error>
#include <thread>
#include <type_traits>

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

    void clear()
    {
        direct.clear();
        all.clear();
    }
};

// What one cask's artifacts say, gathered in the order they say it. Kept
// as views; one reader serves every cask, so its lists allocate only while
// they grow.
struct Artifacts {
    std::vector<std::string_view> apps;
    std::vector<std::string_view> bundleIDs;
    std::vector<std::string_view> strings;
    std::vector<std::string_view> zap;
    std::optional<std::string_view> pkg;
    // A stanza's lists by name, and the entry being read.
    EntryStrings quit, trash, remove, scratch;

    void clear()
    {
        apps.clear();
        bundleIDs.clear();
        strings.clear();
        zap.clear();
        pkg.reset();
    }

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
        quit.clear();
        trash.clear();
        remove.clear();
        for (auto result : object) {
            json::field field;
            check(std::move(result).get(field));
            const std::string_view key = keyOf(field);
            scratch.clear();
            scratch.read(field.value(), depth + 1);
            strings.insert(strings.end(), scratch.all.begin(), scratch.all.end());
            if (key == "quit")
                std::swap(quit, scratch);
            else if (key == "trash")
                std::swap(trash, scratch);
            else if (key == "delete")
                std::swap(remove, scratch);
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
        token = version = url = sha256 = homepage = std::nullopt;
        ownVersion = ownUrl = ownSha256 = std::nullopt;
        artifacts.clear();
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
                artifacts.clear();
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
};
// FNV-1a over the bytes, letters folded to lower case when `fold`.
std::uint32_t hashOf(std::string_view text, bool fold)
{
    std::uint32_t hash = 2166136261u;
    for (char c : text) {
        if (fold && c >= 'A' && c <= 'Z')
            c = char(c + 32);
        hash = (hash ^ std::uint8_t(c)) * 16777619u;
    }
    return hash;
}

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return std::uint8_t(c) < 0x80; });
}

// The hash a bundle name is filed under: of its lowercased form, found
// without a copy when the name is ASCII, as nearly every one is.
std::uint32_t nameHash(std::string_view name)
{
    if (isAscii(name))
        return hashOf(name, true);
    const QByteArray folded = lowered(fromUtf8(name)).toUtf8();
    return hashOf(std::string_view(folded.constData(), std::size_t(folded.size())), false);
}

// The lists are a handful of entries long: a linear search beats hashing.
template<typename Same> void appendDistinct(QStringList& list, QString item, Same same)
{
    for (const QString& present : std::as_const(list)) {
        if (same(present, item))
            return;
    }
    list.append(std::move(item));
}

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

// Files what a cask object said into the catalog.
class CaskCatalogBuilder {
public:
    static void add(CaskCatalog& catalog, const CaskFields& fields)
    {
        if (!fields.token)
            return;
        const Artifacts& found = fields.artifacts;
        if (found.apps.empty() && found.bundleIDs.empty())
            return;
        const auto keep = [&](const std::optional<std::string_view>& text) {
            return text ? catalog.keep(*text) : CaskCatalog::Text();
        };
        CaskCatalog::Entry entry;
        entry.token = catalog.keep(*fields.token);
        // The variation for this Mac's system overrides the top-level download.
        entry.version = keep(fields.ownVersion ? fields.ownVersion : fields.version);
        entry.url = keep(fields.ownUrl ? fields.ownUrl : fields.url);
        entry.sha256 = keep(fields.ownSha256 ? fields.ownSha256 : fields.sha256);
        entry.homepage = keep(fields.homepage);
        entry.pkg = keep(found.pkg);
        entry.apps = catalog.keepAll(found.apps);
        entry.ids = catalog.keepAll(found.bundleIDs);
        entry.strings = catalog.keepAll(found.strings);
        entry.zap = catalog.keepAll(found.zap);
        catalog.casks.push_back(entry);
        catalog.index(std::uint32_t(catalog.casks.size() - 1), false);
    }

    static void sort(CaskCatalog& catalog)
    {
        for (auto* keys : { &catalog.m_byApp, &catalog.m_byBundle, &catalog.m_byToken }) {
            std::sort(keys->begin(), keys->end());
            keys->erase(std::unique(keys->begin(), keys->end()), keys->end());
        }
    }

    // Reads the casks at `spans` into `catalog`, in order; false when one of
    // them is not a single valid object.
    static bool read(CaskCatalog& catalog, std::span<const std::string_view> spans, const char* end,
        std::string_view variationKey)
    {
        try {
            json::parser parser;
            CaskFields fields;
            for (const std::string_view span : spans) {
                const simdjson::padded_string_view input(
                    span.data(), span.size(), std::size_t(end - span.data()));
                json::document document;
                check(parser.iterate(input).get(document));
                json::object object;
                check(document.get_object().get(object));
                fields.read(object, variationKey);
                // The span is one value: nothing may follow it.
                const char* rest = nullptr;
                if (document.current_location().get(rest) != simdjson::OUT_OF_BOUNDS)
                    return false;
                add(catalog, fields);
            }
        } catch (const simdjson::simdjson_error&) {
            return false;
        }
        return true;
    }

    // Appends the casks `part` read after those of `into`; false when the
    // catalog's own bytes would outgrow their 31-bit offsets.
    static bool append(CaskCatalog& into, const CaskCatalog& part)
    {
        using Text = CaskCatalog::Text;
        if (into.m_own.size() + part.m_own.size() >= Text::own)
            return false;
        const auto ownShift = std::uint32_t(into.m_own.size());
        const auto textShift = std::uint32_t(into.m_texts.size());
        const auto caskShift = std::uint32_t(into.casks.size());
        const auto moved = [ownShift](Text text) {
            if (text.size != Text::absent && (text.at & Text::own))
                text.at += ownShift;
            return text;
        };
        for (CaskCatalog::Entry entry : part.casks) {
            for (Text* text :
                { &entry.token, &entry.version, &entry.url, &entry.sha256, &entry.homepage, &entry.pkg })
                *text = moved(*text);
            for (CaskCatalog::Range* range : { &entry.apps, &entry.ids, &entry.strings, &entry.zap })
                range->first += textShift;
            into.casks.push_back(entry);
        }
        for (const Text text : part.m_texts)
            into.m_texts.push_back(moved(text));
        into.m_own += part.m_own;
        const std::pair<std::vector<CaskCatalog::Key>*, const std::vector<CaskCatalog::Key>*> lookups[]
            = { { &into.m_byApp, &part.m_byApp }, { &into.m_byBundle, &part.m_byBundle },
                  { &into.m_byToken, &part.m_byToken } };
        for (const auto& [keys, more] : lookups) {
            for (CaskCatalog::Key key : *more) {
                key.cask += caskShift;
                keys->push_back(key);
            }
        }
        return true;
    }
};

namespace {

// Reading casks is independent, so a large index is read in parts on the
// cores; a thread pays for itself over a hundred casks or so.
std::size_t partsFor(std::size_t casks)
{
    constexpr std::size_t perPart = 128;
    return std::clamp<std::size_t>(casks / perPart, 1, std::max(1u, std::thread::hardware_concurrency()));
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
    CaskCatalog catalog;
    // Offsets into the body are 31 bits.
    if (body.size() >= qsizetype(Text::own))
        return std::nullopt;
    catalog.m_body = body;
    if (body.capacity() - body.size() < qsizetype(simdjson::SIMDJSON_PADDING))
        makeRoom(catalog.m_body);
    std::string_view text(catalog.m_body.constData(), std::size_t(catalog.m_body.size()));
    const std::size_t room = std::size_t(catalog.m_body.capacity() - catalog.m_body.size());
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    const QByteArray key = variationKey ? variationKey->toUtf8() : QByteArray();
    const std::string_view keyText(key.constData(), std::size_t(key.size()));
    // Every element is read as a document of its own, so the parser's index
    // covers one cask at a time rather than the whole body.
    const char* const end = text.data() + text.size() + room;
    std::vector<std::string_view> spans;
    try {
        ElementSpans elements(text);
        while (const std::optional<std::string_view> span = elements.next())
            spans.push_back(*span);
    } catch (const simdjson::simdjson_error&) {
        return std::nullopt;
    }

    // The first part is read into the catalog itself, the others into
    // catalogs of their own over the same body, appended in order after.
    const std::size_t parts = partsFor(spans.size());
    std::vector<CaskCatalog> others(parts - 1);
    const auto partOf = [&](std::size_t part) {
        return std::span<const std::string_view>(spans).subspan(
            part * spans.size() / parts, (part + 1) * spans.size() / parts - part * spans.size() / parts);
    };
    std::vector<std::future<bool>> reading;
    bool good = true;
    for (std::size_t part = 1; part < parts; ++part) {
        CaskCatalog& into = others[part - 1];
        into.m_body = catalog.m_body;
        const auto work = [&into, casks = partOf(part), end, keyText] {
            return CaskCatalogBuilder::read(into, casks, end, keyText);
        };
        try {
            reading.push_back(std::async(std::launch::async, work));
        } catch (const std::system_error&) {
            good = work() && good; // no thread to spare
            reading.push_back({});
        }
    }
    good = CaskCatalogBuilder::read(catalog, partOf(0), end, keyText) && good;
    for (std::future<bool>& part : reading) {
        if (part.valid())
            good = part.get() && good;
    }
    for (const CaskCatalog& part : others)
        good = good && CaskCatalogBuilder::append(catalog, part);
    if (!good)
        return std::nullopt;
    if (catalog.m_own.size() >= Text::own)
        return std::nullopt;
    CaskCatalogBuilder::sort(catalog);
    return catalog;
}

std::string_view CaskCatalog::view(Text text) const
{
    if (text.size == Text::absent)
        return {};
    if (text.at & Text::own)
        return std::string_view(m_own).substr(text.at & ~Text::own, text.size);
    return std::string_view(m_body.constData() + text.at, text.size);
}

CaskCatalog::Text CaskCatalog::keep(std::string_view text)
{
    const char* body = m_body.constData();
    // Unescaped strings live in the parser's buffer, which the next cask reuses.
    if (text.data() >= body && text.data() + text.size() <= body + m_body.size())
        return Text { std::uint32_t(text.data() - body), std::uint32_t(text.size()) };
    const Text kept { std::uint32_t(m_own.size()) | Text::own, std::uint32_t(text.size()) };
    m_own += text;
    return kept;
}

CaskCatalog::Range CaskCatalog::keepAll(const std::vector<std::string_view>& texts)
{
    const Range range { std::uint32_t(m_texts.size()), std::uint32_t(texts.size()) };
    for (std::string_view text : texts)
        m_texts.push_back(keep(text));
    return range;
}

void CaskCatalog::index(std::uint32_t cask, bool sorted)
{
    const Entry& entry = casks[cask];
    const auto file = [&](std::vector<Key>& keys, std::uint32_t hash) {
        const Key key { hash, cask };
        if (!sorted)
            keys.push_back(key);
        else if (const auto at = std::lower_bound(keys.begin(), keys.end(), key);
                 at == keys.end() || *at != key)
            keys.insert(at, key);
    };
    for (std::uint32_t i = 0; i < entry.apps.count; ++i)
        file(m_byApp, nameHash(view(m_texts[entry.apps.first + i])));
    for (std::uint32_t i = 0; i < entry.ids.count; ++i)
        file(m_byBundle, hashOf(view(m_texts[entry.ids.first + i]), false));
    file(m_byToken, hashOf(view(entry.token), false));
}

Cask CaskCatalog::cask(std::size_t index) const
{
    const Entry& entry = casks[index];
    const auto text
        = [&](Text at) { return at.size == Text::absent ? std::nullopt : std::optional(fromUtf8(view(at))); };
    const auto texts = [&](Range range) {
        QStringList list;
        for (std::uint32_t i = 0; i < range.count; ++i)
            list << fromUtf8(view(m_texts[range.first + i]));
        return list;
    };
    Cask cask;
    cask.token = fromUtf8(view(entry.token));
    cask.version = text(entry.version).value_or(QString());
    if (const std::optional<QString> address = text(entry.url)) {
        const QUrl parsed(*address);
        if (parsed.isValid() && !parsed.isEmpty())
            cask.url = parsed;
    }
    cask.sha256 = text(entry.sha256);
    cask.homepage = text(entry.homepage);
    for (const QString& app : texts(entry.apps))
        appendDistinct(cask.apps, app, sameName);
    const QStringList ids = texts(entry.ids);
    for (const QString& id : ids)
        appendDistinct(cask.bundleIDs, id, std::equal_to<QString>());
    // The identifiers, then the stanza strings, one per line.
    const QStringList strings = texts(entry.strings);
    cask.mentions = entry.addedWhole ? strings.value(0) : lowered((ids + strings).join(u'\n'));
    cask.zap = texts(entry.zap);
    cask.pkg = text(entry.pkg);
    return cask;
}

std::vector<std::size_t> CaskCatalog::casksUnder(const std::vector<Key>& keys, std::uint32_t hash) const
{
    const auto [from, to]
        = std::equal_range(keys.begin(), keys.end(), hash, [](const auto& a, const auto& b) {
              if constexpr (std::is_same_v<std::decay_t<decltype(a)>, Key>)
                  return a.hash < b;
              else
                  return a < b.hash;
          });
    std::vector<std::size_t> found;
    for (auto at = from; at != to; ++at)
        found.push_back(at->cask);
    return found;
}

std::vector<std::size_t> CaskCatalog::withApp(const QString& fileName) const
{
    const QString name = lowered(fileName);
    const QByteArray bytes = name.toUtf8();
    std::vector<std::size_t> found
        = casksUnder(m_byApp, hashOf(std::string_view(bytes.constData(), std::size_t(bytes.size())), false));
    // A hash is no proof: keep the casks that really install the name.
    std::erase_if(found, [&](std::size_t index) {
        const Range apps = casks[index].apps;
        for (std::uint32_t i = 0; i < apps.count; ++i) {
            if (lowered(fromUtf8(view(m_texts[apps.first + i]))) == name)
                return false;
        }
        return true;
    });
    return found;
}

std::vector<std::size_t> CaskCatalog::withBundle(const QString& bundleID) const
{
    const QByteArray bytes = bundleID.toUtf8();
    const std::string_view id(bytes.constData(), std::size_t(bytes.size()));
    std::vector<std::size_t> found = casksUnder(m_byBundle, hashOf(id, false));
    std::erase_if(found, [&](std::size_t index) {
        const Range ids = casks[index].ids;
        for (std::uint32_t i = 0; i < ids.count; ++i) {
            if (view(m_texts[ids.first + i]) == id)
                return false;
        }
        return true;
    });
    return found;
}

void CaskCatalog::add(const Cask& cask)
{
    const auto keepText = [&](const std::optional<QString>& text) {
        return text ? keep(text->toUtf8().toStdString()) : Text();
    };
    const auto keepList = [&](const QStringList& list) {
        std::vector<std::string> bytes;
        for (const QString& text : list)
            bytes.push_back(text.toUtf8().toStdString());
        return keepAll(std::vector<std::string_view>(bytes.begin(), bytes.end()));
    };
    Entry entry;
    entry.token = keepText(cask.token);
    entry.version = cask.version.isEmpty() ? Text() : keepText(cask.version);
    entry.url = cask.url ? keepText(cask.url->toString(QUrl::FullyEncoded)) : Text();
    entry.sha256 = keepText(cask.sha256);
    entry.homepage = keepText(cask.homepage);
    entry.pkg = keepText(cask.pkg);
    entry.apps = keepList(cask.apps);
    entry.ids = keepList(cask.bundleIDs);
    entry.strings = keepList({ cask.mentions });
    entry.zap = keepList(cask.zap);
    entry.addedWhole = true;
    casks.push_back(entry);
    index(std::uint32_t(casks.size() - 1), true);
}

std::optional<Cask> CaskCatalog::find(const QString& bundleID, const QString& fileName) const
{
    const QString lowerID = lowered(bundleID);
    std::vector<Cask> candidates;
    for (std::size_t index : withApp(fileName)) {
        Cask found = cask(index);
        // A cask that names other identifiers and never this one installs a namesake.
        if (found.bundleIDs.isEmpty() || found.mentions.contains(lowerID))
            candidates.push_back(std::move(found));
    }
    if (candidates.empty()) {
        for (std::size_t index : withBundle(bundleID))
            candidates.push_back(cask(index));
    }
    const Cask* best = nullptr;
    int bestPenalty = 0;
    for (const Cask& candidate : candidates) {
        const int penalty
            = (candidate.token.contains(u'@') ? 2 : 0) + (candidate.bundleIDs.contains(bundleID) ? 0 : 1);
        if (!best || penalty < bestPenalty) {
            best = &candidate;
            bestPenalty = penalty;
        }
    }
    return best ? std::optional(*best) : std::nullopt;
}

std::optional<Cask> CaskCatalog::token(const QString& name) const
{
    const QByteArray bytes = name.toUtf8();
    const std::string_view wanted(bytes.constData(), std::size_t(bytes.size()));
    const std::vector<std::size_t> found = casksUnder(m_byToken, hashOf(wanted, false));
    for (auto at = found.rbegin(); at != found.rend(); ++at) {
        if (view(casks[*at].token) == wanted)
            return cask(*at);
    }
    return std::nullopt;
}

} // namespace corvanta
