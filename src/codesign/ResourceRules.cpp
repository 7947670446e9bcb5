#include "codesign/ResourceRules.h"

#include <algorithm>

#include <regex.h>

using namespace Qt::StringLiterals;

namespace corvanta::codesign {

namespace {

constexpr qsizetype maxRules = 256;
constexpr qsizetype maxPatternLength = 1024;

QVariantMap rule(double weight, bool omit = false, bool optional = false, bool nested = false)
{
    QVariantMap out { { u"weight"_s, weight } };
    if (omit)
        out.insert(u"omit"_s, true);
    if (optional)
        out.insert(u"optional"_s, true);
    if (nested)
        out.insert(u"nested"_s, true);
    return out;
}

bool hasBackReference(const QString& pattern)
{
    for (qsizetype i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] == u'\\') {
            if (pattern[i + 1].isDigit())
                return true;
            ++i;
        }
    }
    return false;
}

} // namespace

struct ResourceRules::Compiled {
    ResourceRule rule;
    regex_t regex {};

    ~Compiled() { regfree(&regex); }
};

ResourceRules::ResourceRules() = default;
ResourceRules::~ResourceRules() = default;
ResourceRules::ResourceRules(ResourceRules&&) noexcept = default;
ResourceRules& ResourceRules::operator=(ResourceRules&&) noexcept = default;

std::optional<ResourceRules> ResourceRules::fromPlist(const QVariantMap& rules)
{
    if (rules.size() > maxRules)
        return std::nullopt;
    ResourceRules out;
    for (auto it = rules.cbegin(); it != rules.cend(); ++it) {
        ResourceRule rule;
        rule.pattern = it.key();
        const QVariant& value = it.value();
        if (value.typeId() == QMetaType::Bool) {
            // "true" seals the matching files; "false" is an old way to omit them.
            rule.omit = !value.toBool();
        } else if (value.typeId() == QMetaType::QVariantMap) {
            const QVariantMap options = value.toMap();
            if (options.contains(u"weight"_s)) {
                bool ok = false;
                rule.weight = options.value(u"weight"_s).toDouble(&ok);
                if (!ok)
                    return std::nullopt;
            }
            rule.omit = options.value(u"omit"_s).toBool();
            rule.optional = options.value(u"optional"_s).toBool();
            rule.nested = options.value(u"nested"_s).toBool();
        } else {
            return std::nullopt;
        }
        // Back-references would let a hostile seal make matching exponential.
        if (rule.pattern.isEmpty() || rule.pattern.size() > maxPatternLength
            || hasBackReference(rule.pattern))
            return std::nullopt;
        auto compiled = std::make_unique<Compiled>();
        compiled->rule = rule;
        if (regcomp(&compiled->regex, rule.pattern.toUtf8().constData(), REG_EXTENDED | REG_NOSUB) != 0)
            return std::nullopt;
        out.m_rules.push_back(std::move(compiled));
    }
    std::stable_sort(out.m_rules.begin(), out.m_rules.end(),
        [](const auto& a, const auto& b) { return a->rule.weight > b->rule.weight; });
    return out;
}

const ResourceRule* ResourceRules::match(const QString& path) const
{
    const QByteArray bytes = path.toUtf8();
    for (const auto& compiled : m_rules) {
        if (regexec(&compiled->regex, bytes.constData(), 0, nullptr, 0) == 0)
            return &compiled->rule;
    }
    return nullptr;
}

QVariantMap ResourceRules::standardRules()
{
    return {
        { u"^Resources/"_s, true },
        { u"^Resources/.*\\.lproj/"_s, rule(1000, false, true) },
        { u"^Resources/.*\\.lproj/locversion.plist$"_s, rule(1100, true) },
        { u"^Resources/Base\\.lproj/"_s, rule(1010) },
        { u"^version.plist$"_s, true },
    };
}

QVariantMap ResourceRules::standardRules2()
{
    return {
        { u".*\\.dSYM($|/)"_s, rule(11) },
        { u"^(.*/)?\\.DS_Store$"_s, rule(2000, true) },
        { u"^(Frameworks|SharedFrameworks|PlugIns|Plug-ins|XPCServices|Helpers|MacOS|Library/(Automator|Spotlight|LoginItems))/"_s,
            rule(10, false, false, true) },
        { u"^.*"_s, true },
        { u"^Info\\.plist$"_s, rule(20, true) },
        { u"^PkgInfo$"_s, rule(20, true) },
        { u"^Resources/"_s, rule(20) },
        { u"^Resources/.*\\.lproj/"_s, rule(1000, false, true) },
        { u"^Resources/.*\\.lproj/locversion.plist$"_s, rule(1100, true) },
        { u"^Resources/Base\\.lproj/"_s, rule(1010) },
        { u"^[^/]+$"_s, rule(10, false, false, true) },
        { u"^embedded\\.provisionprofile$"_s, rule(20) },
        { u"^version\\.plist$"_s, rule(20) },
    };
}

} // namespace corvanta::codesign
