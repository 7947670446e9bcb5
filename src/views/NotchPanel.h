#pragma once

#include <QPointer>
#include <QPropertyAnimation>
#include <QTimer>
#include <QWidget>

class QLabel;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QVBoxLayout;

namespace corvanta {

class IslandState;
class Store;
class UpdateIsland;

// The panel that drops from the notch (a pill at the top centre where the
// screen has none): the updates found in the background with their install
// phases, the title and subtitle, "Update All", "Open Corvanta", "Later"
// (click to put off, hold for more), the close control and the question.
// It draws the island's state and calls its controls; it never takes the
// focus from the application in front.
class NotchPanel : public QWidget {
    Q_OBJECT

public:
    NotchPanel(Store& store, UpdateIsland& island, QWidget* parent = nullptr);

    // How long "Later" is held before its menu opens.
    static constexpr int holdDelay = 550; // ms
    static constexpr int panelWidth = 440;

    QLabel* title() const { return m_title; }
    QLabel* subtitle() const { return m_subtitle; }
    QPushButton* updateAllButton() const { return m_updateAll; }
    QPushButton* openButton() const { return m_open; }
    QPushButton* laterButton() const { return m_later; }
    QPushButton* dismissButton() const { return m_dismiss; }
    QPushButton* keepShowingButton() const { return m_keep; }
    QPushButton* onlyMenuBarButton() const { return m_onlyMenuBar; }
    QLabel* questionText() const { return m_question; }
    // The rows' widgets, top to bottom.
    QList<QWidget*> rows() const;
    // Opens the menu "Later" shows when held (tests call it instead of holding).
    void openHoldMenu();
    // The closing main window folds into the top of its screen, where the
    // panel lives, then hides; with reduced motion it simply closes. The
    // answer is whether the window may close at once.
    bool foldWindow(QWidget* window);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void presented();
    void closing();
    void sync();
    void syncRows();
    QRect finalGeometry() const;
    QRect notchGeometry() const;

    Store& m_store;
    UpdateIsland& m_island;
    QPointer<IslandState> m_state;
    QLabel* m_title;
    QLabel* m_subtitle;
    QWidget* m_rowBox;
    QScrollArea* m_scroll = nullptr;
    QVBoxLayout* m_rowLayout;
    QStackedWidget* m_pages;
    QPushButton* m_updateAll;
    QPushButton* m_open;
    QPushButton* m_later;
    QPushButton* m_dismiss;
    QLabel* m_question;
    QPushButton* m_keep;
    QPushButton* m_onlyMenuBar;
    QTimer m_hold;
    bool m_held = false;
    QPropertyAnimation m_motion;
    QRect m_notch;
};

} // namespace corvanta
