#pragma once

#include <functional>

#include <QMainWindow>

class QAction;
class QLineEdit;
class QPushButton;
class QStackedWidget;

namespace corvanta {

class AppList;
class Banner;
class FilterChips;
class HeroView;
class LibraryPane;
class NudgeCard;
class StoreWatch;

// The main window "Corvanta": the hero, the notice and permission banners,
// the filter chips and search field, and the list of app cards; its menus
// carry the Apps commands. Closing it hides it; the program keeps running.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    static inline const QString windowTitleText = QStringLiteral("Corvanta");

    explicit MainWindow(StoreWatch& watch, QWidget* parent = nullptr);

    HeroView* hero() const { return m_hero; }
    FilterChips* chips() const { return m_chips; }
    QLineEdit* search() const { return m_search; }
    AppList* list() const { return m_list; }
    LibraryPane* library() const { return m_library; }
    NudgeCard* nudge() const { return m_nudge; }
    Banner* notice() const { return m_notice; }
    Banner* permission() const { return m_permission; }

    QAction* checkAgainAction() const { return m_checkAgain; }
    QAction* updateAllAction() const { return m_updateAll; }
    QAction* settingsAction() const { return m_settings; }
    QAction* quitAction() const { return m_quit; }
    QAction* tourAction() const { return m_tour; }
    QAction* welcomeAction() const { return m_welcome; }
    QAction* feedbackAction() const { return m_feedback; }

    // Asked before the window closes; false keeps it open. The notch panel
    // folds the window into the notch through it.
    void setCloseHook(std::function<bool(QMainWindow*)> hook) { m_closeHook = std::move(hook); }

    // The maker's page for reviews and reports.
    static QUrl feedbackPage();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void sync();

    StoreWatch& m_watch;
    HeroView* m_hero;
    Banner* m_notice;
    Banner* m_permission;
    FilterChips* m_chips;
    QLineEdit* m_search;
    QPushButton* m_settingsButton;
    AppList* m_list;
    LibraryPane* m_library;
    NudgeCard* m_nudge;
    QStackedWidget* m_pages;
    QAction* m_checkAgain = nullptr;
    QAction* m_updateAll = nullptr;
    QAction* m_settings = nullptr;
    QAction* m_quit = nullptr;
    QAction* m_tour = nullptr;
    QAction* m_welcome = nullptr;
    QAction* m_feedback = nullptr;
    std::function<bool(QMainWindow*)> m_closeHook;
};

} // namespace corvanta
