#include "notch/IslandState.h"

using namespace Qt::StringLiterals;

namespace corvanta {

IslandState::IslandState(const NotchHost& host, QStringList ids, Desktop::Screen screen, QSizeF notch,
    bool preview, QDateTime now, QObject* parent)
    : QObject(parent)
    , m_host(host)
    , m_ids(std::move(ids))
    , m_screen(std::move(screen))
    , m_notch(notch)
    , m_lastTouch(std::move(now))
    , m_preview(preview)
{
}

void IslandState::setIds(QStringList ids)
{
    if (m_ids == ids)
        return;
    m_ids = std::move(ids);
    Q_EMIT rowsChanged();
}

void IslandState::setExpanded(bool expanded)
{
    if (m_expanded == expanded)
        return;
    m_expanded = expanded;
    Q_EMIT changed();
}

void IslandState::setHovering(bool hovering)
{
    if (m_hovering == hovering)
        return;
    m_hovering = hovering;
    Q_EMIT changed();
}

void IslandState::setLastTouch(QDateTime when)
{
    m_lastTouch = std::move(when);
    Q_EMIT changed();
}

void IslandState::setAskingToStop(bool asking)
{
    if (m_askingToStop == asking)
        return;
    m_askingToStop = asking;
    Q_EMIT changed();
}

void IslandState::setIslandRect(QRectF rect)
{
    if (m_islandRect == rect)
        return;
    m_islandRect = rect;
    Q_EMIT changed();
}

QList<IslandRow> IslandState::rows() const
{
    QList<IslandRow> result;
    for (const QString& id : m_ids) {
        if (std::optional<IslandRow> row = m_host.row(id))
            result << std::move(*row);
    }
    return result;
}

QStringList IslandState::pendingKeys() const
{
    QStringList keys;
    for (const IslandRow& row : rows())
        keys << row.key;
    return keys;
}

IslandState::Progress IslandState::progress(const QList<IslandRow>& rows)
{
    Progress counts;
    int idle = 0;
    for (const IslandRow& row : rows) {
        switch (row.phase.kind) {
        case InstallPhase::Kind::done:
            ++counts.updated;
            break;
        case InstallPhase::Kind::failed:
            ++counts.failed;
            break;
        case InstallPhase::Kind::idle:
            ++idle;
            break;
        case InstallPhase::Kind::queued:
        case InstallPhase::Kind::downloading:
        case InstallPhase::Kind::verifying:
        case InstallPhase::Kind::installing:
        case InstallPhase::Kind::blocked:
            ++counts.left;
            break;
        }
    }
    // Once a run began, an app it hasn't updated (one the installer can't
    // take, say) is still to go rather than silently done.
    if (counts.started())
        counts.left += idle;
    return counts;
}

QString IslandState::title(const QList<IslandRow>& rows)
{
    const Progress counts = progress(rows);
    if (!counts.started())
        return rows.size() == 1 ? u"1 update ready"_s : u"%1 updates ready"_s.arg(rows.size());
    QStringList parts;
    if (counts.updated > 0)
        parts << u"%1 updated"_s.arg(counts.updated);
    if (counts.failed > 0)
        parts << u"%1 failed"_s.arg(counts.failed);
    if (counts.left > 0)
        parts << u"%1 left"_s.arg(counts.left);
    return parts.join(u" \u00B7 "_s);
}

QString IslandState::subtitle(const QList<IslandRow>& rows, bool preview)
{
    if (preview)
        return u"Tour preview: this is how updates arrive. The buttons work for real ones."_s;
    const Progress counts = progress(rows);
    if (counts.started() && counts.left == 0) {
        return counts.failed > 0 ? u"Failed updates left the app untouched. Open Corvanta to see why."_s
                                 : u"Everything's on its newest version."_s;
    }
    if (rows.size() > 5)
        return u"Found in the background. Scroll to see all %1."_s.arg(rows.size());
    return u"Found in the background. Update now, or later from Corvanta."_s;
}

} // namespace corvanta
