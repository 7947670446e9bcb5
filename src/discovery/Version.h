#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <vector>

#include <QString>

namespace corvanta {

// A version number as apps, feeds and tags write it, parsed tolerantly:
// "v2.1.0", "1.0 (123)", "2.0-beta.10", "2023".
class Version {
public:
    // None when the text is absent or holds no readable number.
    static std::optional<Version> parse(const std::optional<QString>& text);

    const std::vector<std::int64_t>& parts() const { return m_parts; }
    // The pre-release tag in lower case ("beta.2", "rc1"); none for a release.
    const std::optional<QString>& pre() const { return m_pre; }
    // The input with surrounding spaces and tabs removed.
    const QString& description() const { return m_description; }

    static std::strong_ordering compare(const Version& a, const Version& b);
    // False when one side is a lone number of 1000 or more (a build counter)
    // and the other a dotted version: such numbers are of different kinds.
    static bool comparable(const Version& a, const Version& b);

    // One side of a comparison: the marketing version and the build number.
    struct Pair {
        std::optional<QString> shortVersion;
        std::optional<QString> build;
    };
    // True when `latest` is newer than `installed`; none when they can't be compared.
    static std::optional<bool> isNewer(const Pair& installed, const Pair& latest);

    friend bool operator==(const Version& a, const Version& b) { return compare(a, b) == 0; }
    friend std::strong_ordering operator<=>(const Version& a, const Version& b) { return compare(a, b); }

private:
    Version() = default;

    std::vector<std::int64_t> m_parts;
    std::optional<QString> m_pre;
    QString m_description;
};

} // namespace corvanta
