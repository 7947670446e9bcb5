#pragma once

#include "notch/NotchHost.h"
#include "platform/Desktop.h"

#include <QDateTime>
#include <QObject>
#include <QRectF>
#include <QSizeF>
#include <QStringList>

namespace corvanta {

// The notch panel while it is up: which apps it shows, its size and state,
// and the texts it shows. Made by UpdateIsland when a panel is presented and
// released when it closes; views observe changed() and rowsChanged().
class IslandState : public QObject {
    Q_OBJECT

public:
    IslandState(const NotchHost& host, QStringList ids, Desktop::Screen screen, QSizeF notch, bool preview,
        QDateTime now, QObject* parent = nullptr);

    // File paths of the apps shown, in the model's visible order.
    const QStringList& ids() const { return m_ids; }
    // The screen the panel drops on.
    const Desktop::Screen& screen() const { return m_screen; }
    // The notch's size, or the pill's on a screen without one (and with --no-notch).
    QSizeF notch() const { return m_notch; }
    // Open, not folded back into the notch.
    bool expanded() const { return m_expanded; }
    bool hovering() const { return m_hovering; }
    // The last interaction: appearing, hovering, clicking.
    const QDateTime& lastTouch() const { return m_lastTouch; }
    // The question whether to keep showing updates from the notch is up.
    bool askingToStop() const { return m_askingToStop; }
    // The panel's rectangle on screen, as the view placed it.
    const QRectF& islandRect() const { return m_islandRect; }
    // A tour preview: it records nothing in the notch memory.
    bool preview() const { return m_preview; }

    void setIds(QStringList ids);
    void setExpanded(bool expanded);
    void setHovering(bool hovering);
    void setLastTouch(QDateTime when);
    void setAskingToStop(bool asking);
    void setIslandRect(QRectF rect);

    // The shown apps as the model has them now; apps gone meanwhile are left out.
    QList<IslandRow> rows() const;
    // The pending keys of the shown apps.
    QStringList pendingKeys() const;
    QString title() const { return title(rows()); }
    QString subtitle() const { return subtitle(rows(), m_preview); }

    // Where an Update All of the shown apps stands.
    struct Progress {
        int updated = 0;
        int failed = 0;
        int left = 0; // queued, running, blocked, or not reached

        // Some update has begun: the title counts outcomes from then on.
        bool started() const { return updated + failed > 0 || left > 0; }
        friend bool operator==(const Progress&, const Progress&) = default;
    };
    static Progress progress(const QList<IslandRow>& rows);
    // "3 updates ready", or once updates run "2 updated · 1 failed · 1 left".
    static QString title(const QList<IslandRow>& rows);
    static QString subtitle(const QList<IslandRow>& rows, bool preview);

    // The panel's fixed texts.
    static inline const QString updateAllButton = QStringLiteral("Update All");
    static inline const QString openButton = QStringLiteral("Open Corvanta");
    static inline const QString laterButton = QStringLiteral("Later");
    static inline const QString laterHelp = QStringLiteral("Click to put these off; hold for more choices");
    static inline const QString dismissLabel = QStringLiteral("Dismiss");
    static inline const QString question
        = QStringLiteral("You've put these off a few times. Keep showing updates from the notch?");
    static inline const QString keepShowingButton = QStringLiteral("Keep showing");
    static inline const QString onlyMenuBarButton = QStringLiteral("Only the menu bar");

Q_SIGNALS:
    // Any of the panel's own properties changed.
    void changed();
    // The rows to draw changed: other apps, or the model's items moved on.
    void rowsChanged();

private:
    const NotchHost& m_host;
    QStringList m_ids;
    Desktop::Screen m_screen;
    QSizeF m_notch;
    bool m_expanded = false;
    bool m_hovering = false;
    QDateTime m_lastTouch;
    bool m_askingToStop = false;
    QRectF m_islandRect;
    bool m_preview = false;
};

} // namespace corvanta
