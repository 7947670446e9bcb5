#include "platform/linux/LinuxHostInfo.h"

#include <QLoggingCategory>
#include <QtGlobal>

namespace corvanta {

namespace {

Q_LOGGING_CATEGORY(logHost, "corvanta.platform.host", QtWarningMsg)

SystemVersion configuredVersion()
{
    const QString text = qEnvironmentVariable("CORVANTA_MACOS_VERSION");
    if (text.isEmpty())
        return LinuxHostInfo::defaultVersion;
    if (const std::optional<SystemVersion> version = SystemVersion::parse(text))
        return *version;
    qCWarning(logHost) << "CORVANTA_MACOS_VERSION is not a version like 15.0.0:" << text;
    return LinuxHostInfo::defaultVersion;
}

bool configuredAppleSilicon()
{
    const QByteArray text = qgetenv("CORVANTA_APPLE_SILICON");
    if (text == "1")
        return true;
    if (text == "0")
        return false;
#if defined(Q_PROCESSOR_ARM_64)
    return true;
#else
    return false;
#endif
}

} // namespace

LinuxHostInfo::LinuxHostInfo()
    : m_version(configuredVersion())
    , m_appleSilicon(configuredAppleSilicon())
{
}

} // namespace corvanta
