#pragma once

#include <memory>
#include <optional>
#include <vector>

#include <QString>
#include <QVariantMap>

namespace corvanta::codesign {

// One rule of a resource seal: a regular expression over paths relative to
// the sealed folder, with what it means for the files it matches.
struct ResourceRule {
    QString pattern;
    double weight = 1;
    bool omit = false; // not sealed at all
    bool optional = false; // sealed, but may be missing
    bool nested = false; // code found here is sealed as nested code
};

// The rules of a seal, best (heaviest) first. Patterns are POSIX extended
// regular expressions, as the platform reads them.
class ResourceRules {
public:
    ResourceRules();
    ~ResourceRules();
    ResourceRules(ResourceRules&&) noexcept;
    ResourceRules& operator=(ResourceRules&&) noexcept;

    // None when a rule is malformed or its pattern doesn't compile, or when
    // there are implausibly many rules or patterns implausibly long.
    static std::optional<ResourceRules> fromPlist(const QVariantMap& rules);

    // The rules the signer writes: the platform's standard for app bundles.
    static QVariantMap standardRules(); // "rules", the first-version seal
    static QVariantMap standardRules2(); // "rules2"

    // The heaviest rule matching `path`; none when no rule matches.
    const ResourceRule* match(const QString& path) const;

private:
    struct Compiled;
    std::vector<std::unique_ptr<Compiled>> m_rules;
};

} // namespace corvanta::codesign
