// The system version the appcast filters compare with: how it is written,
// and how the Linux build is told which macOS it stands for.

#include "platform/HostInfo.h"
#include "platform/linux/LinuxHostInfo.h"

#include <QtGlobal>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

TEST(SystemVersion, ParseAndText)
{
    const std::vector<std::pair<QString, std::optional<QString>>> rows {
        { u"15"_s, u"15.0.0"_s },
        { u"14.6"_s, u"14.6.0"_s },
        { u"13.6.1"_s, u"13.6.1"_s },
        { u" 26.0.1 "_s, u"26.0.1"_s },
        { u"15.0.0.1"_s, std::nullopt },
        { u"15."_s, std::nullopt },
        { u"fifteen"_s, std::nullopt },
        { u"-1.0"_s, std::nullopt },
        { u"+15"_s, std::nullopt },
        { u""_s, std::nullopt },
    };
    for (const auto& [text, expected] : rows) {
        const std::optional<SystemVersion> version = SystemVersion::parse(text);
        EXPECT_EQ(version ? std::optional<QString>(version->text()) : std::nullopt, expected)
            << text.toStdString();
    }
}

// Restores an environment variable when the test ends.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const QByteArray& value)
        : m_name(name)
        , m_had(qEnvironmentVariableIsSet(name))
        , m_old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnvironment()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

TEST(LinuxHostInfo, SystemVersionIsASetting)
{
    {
        ScopedEnvironment version("CORVANTA_MACOS_VERSION", "");
        EXPECT_EQ(LinuxHostInfo().systemVersion(), (SystemVersion { 15, 0, 0 }));
    }
    {
        ScopedEnvironment version("CORVANTA_MACOS_VERSION", "13.6.1");
        EXPECT_EQ(LinuxHostInfo().systemVersion(), (SystemVersion { 13, 6, 1 }));
    }
    {
        // Unreadable: the default, not a system that filters everything out.
        ScopedEnvironment version("CORVANTA_MACOS_VERSION", "sonoma");
        EXPECT_EQ(LinuxHostInfo().systemVersion(), (SystemVersion { 15, 0, 0 }));
    }
}

TEST(LinuxHostInfo, AppleSiliconFollowsTheBuildUnlessSet)
{
    {
        ScopedEnvironment arm("CORVANTA_APPLE_SILICON", "1");
        EXPECT_TRUE(LinuxHostInfo().isAppleSilicon());
    }
    {
        ScopedEnvironment arm("CORVANTA_APPLE_SILICON", "0");
        EXPECT_FALSE(LinuxHostInfo().isAppleSilicon());
    }
    ScopedEnvironment arm("CORVANTA_APPLE_SILICON", "");
#if defined(Q_PROCESSOR_ARM_64)
    EXPECT_TRUE(LinuxHostInfo().isAppleSilicon());
#else
    EXPECT_FALSE(LinuxHostInfo().isAppleSilicon());
#endif
}

} // namespace
} // namespace corvanta
