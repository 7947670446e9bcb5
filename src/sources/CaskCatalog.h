#pragma once

#include "sources/Cask.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QByteArray>
#include <QString>

namespace corvanta {

// The casks of one cask index document and the three lookups over them. Built
// off the main thread, then handed over whole and never changed, so any
// thread may read it.
//
// Kept compact: a cask is a record of offsets into the downloaded bytes (which
// the catalog holds on to), and becomes a `Cask` only when a lookup returns it.
// Most of the index is never looked at; building 7,500 `Cask` values up front
// was most of the cost of loading it.
class CaskCatalog {
public:
    // A text in the body, or in the catalog's own bytes when it had to be
    // unescaped or was added as a `Cask`.
    struct Text {
        static constexpr std::uint32_t absent = ~std::uint32_t(0);
        static constexpr std::uint32_t own = std::uint32_t(1) << 31;
        std::uint32_t at = 0;
        std::uint32_t size = absent;
    };
    // A run of texts in the catalog's text pool.
    struct Range {
        std::uint32_t first = 0;
        std::uint32_t count = 0;
    };
    struct Entry {
        Text token, version, url, sha256, homepage, pkg;
        Range apps; // bundle paths' last components, as written
        Range ids; // every bundle identifier named, repeats included
        Range strings; // the uninstall and zap stanzas' strings
        Range zap;
        // `strings` holds the whole `mentions` of a cask that was added whole.
        bool addedWhole = false;
    };

    std::vector<Entry> casks; // in index order

    // The catalog of an index body, or none when it is not a JSON array of
    // objects. Casks take the fields of the variation under `variationKey`.
    // Objects without a token, and casks naming neither an app nor a bundle
    // identifier, are left out. Pure; safe on any thread.
    // A body given room by makeRoom is read in place and shared; any other is
    // copied once.
    static std::optional<CaskCatalog> parse(
        const QByteArray& body, const std::optional<QString>& variationKey);
    // Gives `body` the spare room to be read in place. A large buffer grows
    // where it lies (the allocator remaps its pages), so this costs no copy.
    static void makeRoom(QByteArray& body);

    // The cask at `index` (below casks.size()).
    Cask cask(std::size_t index) const;

    // The cask that installs the app with `bundleID` whose bundle is named
    // `fileName`, by name first, then by identifier; alternative editions and
    // casks that don't list the identifier lose ties. None when none fits.
    std::optional<Cask> find(const QString& bundleID, const QString& fileName) const;
    // The cask named `token`; the last of that name when several are.
    std::optional<Cask> token(const QString& token) const;

    // Indices of the casks installing a bundle named `fileName` (any case),
    // and of those naming `bundleID` (exact spelling), each once, ascending.
    std::vector<std::size_t> withApp(const QString& fileName) const;
    std::vector<std::size_t> withBundle(const QString& bundleID) const;

    void add(const Cask& cask);

private:
    friend class CaskCatalogBuilder;

    // A lookup key's hash and the cask it leads to; sorted, so the casks
    // under one hash are adjacent and ascending.
    struct Key {
        std::uint32_t hash;
        std::uint32_t cask;
        friend auto operator<=>(const Key&, const Key&) = default;
    };

    std::string_view view(Text text) const;
    Text keep(std::string_view text);
    Range keepAll(const std::vector<std::string_view>& texts);
    void index(std::uint32_t cask, bool sorted);
    std::vector<std::size_t> casksUnder(const std::vector<Key>& keys, std::uint32_t hash) const;

    QByteArray m_body;
    std::string m_own;
    std::vector<Text> m_texts;
    std::vector<Key> m_byApp; // hash of the lowercased bundle name
    std::vector<Key> m_byBundle; // hash of the identifier as spelled
    std::vector<Key> m_byToken;
};

} // namespace corvanta
