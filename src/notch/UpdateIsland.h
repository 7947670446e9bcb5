#pragma once

#include "notch/Clock.h"
#include "notch/IslandState.h"
#include "notch/NotchHost.h"
#include "platform/Desktop.h"

#include <chrono>
#include <memory>
#include <optional>

#include <QList>
#include <QObject>
#include <QPointer>

namespace corvanta {

class NotchScheduler;

// The notch panel's behaviour: at most one panel, waiting for a free notch
// area before it drops, its buttons, and closing by itself when left alone.
// The view draws state() between presented() and closed() and calls the
// control functions below; it never decides anything itself.
class UpdateIsland : public QObject {
    Q_OBJECT

public:
    struct Options {
        // --notch-idle: how long the panel stays up untouched (default 30 s).
        std::optional<std::chrono::milliseconds> idle;
        // --no-notch: draw the pill even where the screen has a notch.
        bool noNotch = false;
    };

    UpdateIsland(NotchHost& host, NotchScheduler& scheduler, Desktop& desktop, Clock& clock, Options options,
        QObject* parent = nullptr);
    ~UpdateIsland() override;

    // Shows the current updates: changes the rows of a panel that is up;
    // otherwise, unless one already waits, waits for the notch area to be
    // free (once a second, up to 600 times, then posts the plain notification
    // instead) and presents. `preview` (the tour) records nothing.
    void show(bool automatic, bool preview);
    // Closes the panel at once when one is up.
    void detach();
    // The application became active: a panel gives way once the user is in the app.
    void appBecameActive();

    // The panel that is up, or null.
    IslandState* state() const { return m_state; }
    // A presentation waits for the notch area.
    bool waiting() const { return m_waiting.has_value(); }
    // The current panel was dropped by the scheduler rather than asked for.
    bool automatic() const { return m_automatic; }

    // ---- The panel's controls ---------------------------------------------
    // Updates every shown app the installer can take; the panel stays and follows.
    void updateAll();
    // Closes the panel into the main window.
    void openCorvanta();
    // Puts the shown updates off; may turn the panel to the question.
    void later();
    // The close control: closes without recording a put-off.
    void dismiss();

    enum class HoldEntry { inOneHour, tonight, tomorrow, nextWeek, skipTheseVersions, dontShowFromNotch };
    struct HoldItem {
        HoldEntry entry;
        QString title;
    };
    // The menu "Later" opens when held, in order.
    static QList<HoldItem> holdMenu();
    void hold(HoldEntry entry);

    // The question's answers.
    void keepShowing();
    void onlyMenuBar();

    // The pointer entered or left the panel.
    void setHovering(bool hovering);
    // The model's items changed; the panel redraws its rows.
    void itemsChanged();

    static constexpr auto idleCheck = std::chrono::seconds(2);
    static constexpr auto defaultIdle = std::chrono::seconds(30);
    static constexpr auto notchLook = std::chrono::seconds(1);
    static constexpr int notchLooks = 600;
    // The panel's size where the screen has no notch.
    static inline const QSizeF pill { 190, 32 };
    // The notch's rectangle on `screen`, or the pill's at the top centre.
    static QRect notchArea(const Desktop::Screen& screen, QSizeF notch);

Q_SIGNALS:
    // A panel is up: state() is set. The view drops its window.
    void presented();
    // The panel is folding away; state() is still set while this is emitted.
    void closing();
    // No panel any more: state() is null.
    void closed();
    // "Open Corvanta": the view brings the main window up.
    void openMainWindow();
    void waitingChanged();

private:
    struct Waiting {
        Desktop::Screen screen;
        bool preview = false;
        int looks = 0;
    };

    std::optional<Desktop::Screen> chooseScreen() const;
    QSizeF notchSize(const Desktop::Screen& screen) const;
    void look();
    void present(QStringList ids, const Desktop::Screen& screen, bool preview);
    void close();
    void touch();
    void armIdle();
    void idleTick();

    NotchHost& m_host;
    NotchScheduler& m_scheduler;
    Desktop& m_desktop;
    Clock& m_clock;
    Options m_options;
    QPointer<IslandState> m_state;
    bool m_automatic = false;
    std::optional<Waiting> m_waiting;
    std::unique_ptr<Timer> m_lookTimer;
    std::unique_ptr<Timer> m_idleTimer;
};

} // namespace corvanta
