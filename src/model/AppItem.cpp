#include "model/AppItem.h"

namespace corvanta {

AppItem::AppItem(InstalledApp app, QObject* parent)
    : QObject(parent)
    , m_app(std::move(app))
{
}

void AppItem::setApp(InstalledApp app)
{
    m_app = std::move(app);
    Q_EMIT changed();
}

void AppItem::setStatus(Status status)
{
    if (m_status == status)
        return;
    m_status = std::move(status);
    Q_EMIT changed();
}

void AppItem::setChecking(bool checking)
{
    if (m_checking == checking)
        return;
    m_checking = checking;
    Q_EMIT changed();
}

void AppItem::setAttempts(std::vector<Attempt> attempts)
{
    m_attempts = std::move(attempts);
    Q_EMIT changed();
}

void AppItem::setRelease(std::optional<Release> release)
{
    m_release = std::move(release);
    Q_EMIT changed();
}

void AppItem::setPhase(InstallPhase phase)
{
    if (m_phase == phase)
        return;
    m_phase = std::move(phase);
    Q_EMIT changed();
}

void AppItem::setInstallLog(QStringList log)
{
    m_installLog = std::move(log);
    Q_EMIT changed();
}

} // namespace corvanta
