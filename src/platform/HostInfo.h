#pragma once

#include <optional>

#include <QString>
#include <QStringView>

namespace corvanta {

// The operating system version of this Mac, as major.minor.patch.
struct SystemVersion {
    int major = 0;
    int minor = 0;
    int patch = 0;

    // "15.0.0": always three components, as the appcast filters compare it.
    QString text() const;
    // Reads "15", "15.1" or "15.1.2"; none for anything else.
    static std::optional<SystemVersion> parse(QStringView text);

    friend bool operator==(const SystemVersion&, const SystemVersion&) = default;
};

// Facts about the machine the update sources need to pick a build that runs
// here. A small interface so tests and the Linux build can say which Mac
// they stand for.
class HostInfo {
public:
    virtual ~HostInfo() = default;

    virtual SystemVersion systemVersion() const = 0;
    virtual bool isAppleSilicon() const = 0;
};

// A host whose answers are given up front (tests, the command line).
class FixedHostInfo : public HostInfo {
public:
    FixedHostInfo(SystemVersion version, bool appleSilicon)
        : m_version(version)
        , m_appleSilicon(appleSilicon)
    {
    }

    SystemVersion systemVersion() const override { return m_version; }
    bool isAppleSilicon() const override { return m_appleSilicon; }

private:
    SystemVersion m_version;
    bool m_appleSilicon;
};

} // namespace corvanta
