#include "notch/UpdateIsland.h"

#include "notch/NotchScheduler.h"

using namespace Qt::StringLiterals;

namespace corvanta {

UpdateIsland::UpdateIsland(NotchHost& host, NotchScheduler& scheduler, Desktop& desktop, Clock& clock,
    Options options, QObject* parent)
    : QObject(parent)
    , m_host(host)
    , m_scheduler(scheduler)
    , m_desktop(desktop)
    , m_clock(clock)
    , m_options(options)
{
    connect(&m_scheduler, &NotchScheduler::showRequested, this,
        [this](bool automatic) { show(automatic, false); });
}

UpdateIsland::~UpdateIsland() = default;

QList<UpdateIsland::HoldItem> UpdateIsland::holdMenu()
{
    return {
        { HoldEntry::inOneHour, u"In 1 Hour"_s },
        { HoldEntry::tonight, u"Tonight"_s },
        { HoldEntry::tomorrow, u"Tomorrow"_s },
        { HoldEntry::nextWeek, u"Next Week"_s },
        { HoldEntry::skipTheseVersions, u"Skip These Versions"_s },
        { HoldEntry::dontShowFromNotch, u"Don't Show from the Notch"_s },
    };
}

QRect UpdateIsland::notchArea(const Desktop::Screen& screen, QSizeF notch)
{
    const QSize size = notch.toSize();
    return QRect(screen.frame.x() + (screen.frame.width() - size.width()) / 2, screen.frame.y(), size.width(),
        size.height());
}

std::optional<Desktop::Screen> UpdateIsland::chooseScreen() const
{
    const QList<Desktop::Screen> screens = m_desktop.screens();
    for (const Desktop::Screen& screen : screens) {
        if (screen.hasNotch())
            return screen;
    }
    for (const Desktop::Screen& screen : screens) {
        if (screen.underPointer)
            return screen;
    }
    for (const Desktop::Screen& screen : screens) {
        if (screen.primary)
            return screen;
    }
    if (!screens.isEmpty())
        return screens.front();
    return std::nullopt;
}

QSizeF UpdateIsland::notchSize(const Desktop::Screen& screen) const
{
    if (m_options.noNotch || !screen.hasNotch())
        return pill;
    return QSizeF(screen.notch);
}

void UpdateIsland::show(bool automatic, bool preview)
{
    const QStringList ids = m_host.updateIds();
    if (ids.isEmpty())
        return;
    if (m_state) {
        m_state->setIds(ids);
        return;
    }
    if (m_waiting)
        return;
    const std::optional<Desktop::Screen> screen = chooseScreen();
    if (!screen) {
        // Nowhere to drop from: the updates still reach the user.
        if (!preview)
            m_host.postNotification();
        return;
    }
    m_automatic = automatic;
    m_waiting = Waiting { *screen, preview, 0 };
    Q_EMIT waitingChanged();
    look();
}

void UpdateIsland::look()
{
    m_lookTimer.reset();
    if (!m_waiting)
        return;
    // Another app's panel in the notch area: wait for it rather than cover it.
    if (m_desktop.occupied(notchArea(m_waiting->screen, notchSize(m_waiting->screen)))) {
        if (++m_waiting->looks >= notchLooks) {
            m_waiting.reset();
            Q_EMIT waitingChanged();
            m_host.postNotification();
            return;
        }
        m_lookTimer = m_clock.after(notchLook, [this] { look(); });
        return;
    }
    const Waiting waited = *m_waiting;
    m_waiting.reset();
    Q_EMIT waitingChanged();
    QStringList ids = m_host.updateIds();
    if (!ids.isEmpty())
        present(std::move(ids), waited.screen, waited.preview);
}

void UpdateIsland::present(QStringList ids, const Desktop::Screen& screen, bool preview)
{
    const QDateTime now = m_clock.now();
    m_state = new IslandState(m_host, std::move(ids), screen, notchSize(screen), preview, now, this);
    m_state->setExpanded(true);
    if (!preview) {
        NotchMemory memory = m_host.memory();
        memory.lastShown = now;
        memory.lastShownKeys = m_state->pendingKeys();
        m_host.setMemory(memory);
    }
    Q_EMIT presented();
    armIdle();
}

void UpdateIsland::close()
{
    m_idleTimer.reset();
    if (!m_state)
        return;
    m_state->setExpanded(false);
    Q_EMIT closing();
    IslandState* state = m_state;
    m_state = nullptr;
    state->deleteLater();
    Q_EMIT closed();
}

void UpdateIsland::detach()
{
    close();
}

void UpdateIsland::appBecameActive()
{
    if (m_state && m_scheduler.appInUse())
        close();
}

void UpdateIsland::touch()
{
    if (m_state)
        m_state->setLastTouch(m_clock.now());
}

void UpdateIsland::armIdle()
{
    m_idleTimer = m_clock.after(idleCheck, [this] { idleTick(); });
}

void UpdateIsland::idleTick()
{
    m_idleTimer.reset();
    if (!m_state)
        return;
    bool busy = m_host.updatingAll() || m_state->askingToStop() || m_state->hovering();
    for (const IslandRow& row : m_state->rows())
        busy = busy || row.phase.isActive();
    const auto idle = m_options.idle.value_or(defaultIdle);
    if (!busy && m_state->lastTouch().msecsTo(m_clock.now()) > idle.count()) {
        close();
        return;
    }
    armIdle();
}

void UpdateIsland::updateAll()
{
    if (!m_state)
        return;
    touch();
    m_host.updateAll(m_state->ids());
}

void UpdateIsland::openCorvanta()
{
    close();
    Q_EMIT openMainWindow();
}

void UpdateIsland::later()
{
    if (!m_state)
        return;
    if (m_state->preview()) {
        close();
        return;
    }
    if (m_scheduler.dismissed(m_state->pendingKeys())) {
        touch();
        m_state->setAskingToStop(true);
        return;
    }
    close();
}

void UpdateIsland::dismiss()
{
    close();
}

void UpdateIsland::hold(HoldEntry entry)
{
    if (!m_state)
        return;
    const bool preview = m_state->preview();
    const QStringList ids = m_state->ids();
    close();
    switch (entry) {
    case HoldEntry::inOneHour:
    case HoldEntry::tonight:
    case HoldEntry::tomorrow:
    case HoldEntry::nextWeek:
        if (!preview) {
            const QString option = entry == HoldEntry::inOneHour ? u"hour"_s
                : entry == HoldEntry::tonight                    ? u"tonight"_s
                : entry == HoldEntry::tomorrow                   ? u"tomorrow"_s
                                                                 : u"week"_s;
            m_scheduler.snooze(option);
        }
        break;
    case HoldEntry::skipTheseVersions:
        m_host.skipVersions(ids);
        break;
    case HoldEntry::dontShowFromNotch:
        m_host.setMode(NotchMode::never);
        break;
    }
}

void UpdateIsland::keepShowing()
{
    if (!m_state)
        return;
    m_state->setAskingToStop(false);
    close();
}

void UpdateIsland::onlyMenuBar()
{
    if (!m_state)
        return;
    if (m_host.mode() != NotchMode::never)
        m_host.setMode(NotchMode::never);
    close();
}

void UpdateIsland::setHovering(bool hovering)
{
    if (!m_state)
        return;
    m_state->setHovering(hovering);
    touch();
}

void UpdateIsland::itemsChanged()
{
    if (m_state)
        Q_EMIT m_state->rowsChanged();
}

} // namespace corvanta
