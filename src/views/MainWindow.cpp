#include "views/MainWindow.h"

#include "model/Store.h"
#include "views/AppCard.h"
#include "views/AppList.h"
#include "views/Banner.h"
#include "views/FilterChips.h"
#include "views/HeroView.h"
#include "views/LibraryPane.h"
#include "views/Look.h"
#include "views/NudgeCard.h"
#include "views/StoreWatch.h"
#include "views/Symbols.h"
#include "views/SystemSettings.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// The search field with its magnifying glass; Down moves into the list,
// Escape clears it.
class SearchField : public QLineEdit {
public:
    SearchField(std::function<void()> down, QWidget* parent)
        : QLineEdit(parent)
        , m_down(std::move(down))
    {
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Down) {
            m_down();
            return;
        }
        if (event->key() == Qt::Key_Escape && !text().isEmpty()) {
            clear();
            return;
        }
        QLineEdit::keyPressEvent(event);
    }
    void paintEvent(QPaintEvent* event) override
    {
        QLineEdit::paintEvent(event);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        Symbols::paint(painter, u"magnifyingglass"_s, QRectF(11, height() / 2.0 - 7.5, 15, 15),
            Look::colors().secondary);
    }

private:
    std::function<void()> m_down;
};

} // namespace

QUrl MainWindow::feedbackPage()
{
    return QUrl(u"https://brenmoral.com/corvanta/feedback"_s);
}

MainWindow::MainWindow(StoreWatch& watch, QWidget* parent)
    : QMainWindow(parent)
    , m_watch(watch)
{
    setWindowTitle(windowTitleText);
    setObjectName(u"main"_s);
    resize(980, 780);
    setMinimumSize(640, 480);

    auto* central = new QWidget(this);
    central->setObjectName(u"Window"_s);
    m_hero = new HeroView(watch, central);
    m_notice = new Banner(Banner::Tone::info, u"info.circle.fill"_s, central);
    m_notice->setObjectName(u"banner"_s);
    m_permission = new Banner(Banner::Tone::warning, u"lock.shield.fill"_s, central);
    m_permission->setText(u"Corvanta needs App Management permission to update your apps. Turn it on in "
                          u"System Settings › Privacy & Security › App Management."_s);
    m_permission->setAction(u"Open System Settings"_s);
    m_permission->setClosable(false);
    m_chips = new FilterChips(watch, central);
    m_nudge = new NudgeCard(watch.store(), central);
    m_list = new AppList(watch, central);
    m_library = new LibraryPane(watch, central);
    m_pages = new QStackedWidget(central);
    m_pages->addWidget(m_list);
    m_pages->addWidget(m_library);
    m_search = new SearchField([this] { m_list->focusFirst(); }, central);
    m_search->setObjectName(u"search"_s);
    m_search->setPlaceholderText(u"Search apps by name, bundle ID or source"_s);
    m_search->setClearButtonEnabled(true);
    m_search->setMinimumWidth(150);
    m_search->setMaximumWidth(340);
    m_search->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_search->setMinimumHeight(34);
    m_settingsButton = new QPushButton(central);
    m_settingsButton->setObjectName(u"settingsButton"_s);
    m_settingsButton->setToolTip(u"Settings"_s);
    m_settingsButton->setAccessibleName(u"Settings"_s);
    m_settingsButton->setFixedSize(34, 34);
    m_settingsButton->setIconSize(QSize(16, 16));
    m_settingsButton->setCursor(Qt::PointingHandCursor);

    auto* filters = new QHBoxLayout;
    filters->setSpacing(10);
    filters->addWidget(m_chips);
    filters->addStretch();
    filters->addWidget(m_search);
    filters->addWidget(m_settingsButton);

    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(22, 18, 16, 0);
    layout->setSpacing(12);
    layout->addWidget(m_hero);
    layout->addWidget(m_notice);
    layout->addWidget(m_permission);
    layout->addWidget(m_nudge);
    layout->addLayout(filters);
    layout->addWidget(m_pages, 1);
    setCentralWidget(central);
    // Nothing is focused at first, so no control shows a ring until the keyboard is used.
    central->setFocusPolicy(Qt::ClickFocus);
    central->setFocus();

    buildMenus();

    Store& store = watch.store();
    connect(m_search, &QLineEdit::textChanged, this, [&store](const QString& text) { store.setQuery(text); });
    connect(m_notice, &Banner::closeClicked, this, [&store] { store.setNotice(std::nullopt); });
    connect(m_permission, &Banner::actionClicked, this, [&store] {
        store.services().openURL(SystemSettings::appManagement());
        // Settings may already say yes by the time the user looks back.
        store.refreshPermissions();
    });
    connect(m_settingsButton, &QPushButton::clicked, m_settings, &QAction::trigger);
    connect(&watch, &StoreWatch::changed, this, &MainWindow::sync);
    connect(&Look::notifier(), &Look::changed, this, &MainWindow::sync);
    sync();

    setTabOrder(m_hero->checkButton(), m_hero->updateAllButton());
    setTabOrder(m_hero->updateAllButton(), m_chips->chip(Filter::all));
    setTabOrder(m_chips->chip(Filter::library), m_search);
    setTabOrder(m_search, m_settingsButton);
}

void MainWindow::buildMenus()
{
    Store& store = m_watch.store();
    QMenu* corvanta = menuBar()->addMenu(u"Corvanta"_s);
    m_settings = corvanta->addAction(u"Settings…"_s);
    m_settings->setShortcut(QKeySequence(u"Ctrl+,"_s));
    m_settings->setMenuRole(QAction::PreferencesRole);
    corvanta->addSeparator();
    m_quit = corvanta->addAction(u"Quit Corvanta"_s);
    m_quit->setShortcut(QKeySequence(u"Ctrl+Q"_s));
    m_quit->setMenuRole(QAction::QuitRole);

    QMenu* apps = menuBar()->addMenu(u"Apps"_s);
    m_checkAgain = apps->addAction(u"Check Again"_s);
    m_checkAgain->setShortcut(QKeySequence(u"Ctrl+R"_s));
    m_updateAll = apps->addAction(u"Update All"_s);
    m_updateAll->setShortcut(QKeySequence(u"Ctrl+Shift+U"_s));
    apps->addSeparator();
    QAction* find = apps->addAction(u"Find"_s);
    find->setShortcut(QKeySequence::Find);

    QMenu* help = menuBar()->addMenu(u"Help"_s);
    m_tour = help->addAction(u"Take the Tour"_s);
    m_welcome = help->addAction(u"Show Welcome Again"_s);
    help->addSeparator();
    m_feedback = help->addAction(u"Review / Report…"_s);
    // The tour and the welcome pages arrive with onboarding; until a hook is
    // connected their entries stay disabled.
    m_tour->setEnabled(false);
    m_welcome->setEnabled(false);

    connect(m_checkAgain, &QAction::triggered, this, [&store] { store.refresh(false, false); });
    connect(m_updateAll, &QAction::triggered, this, [&store] { store.updateAll(); });
    connect(find, &QAction::triggered, this, [this] {
        m_search->setFocus(Qt::ShortcutFocusReason);
        m_search->selectAll();
    });
    connect(m_feedback, &QAction::triggered, this, [&store] { store.services().openURL(feedbackPage()); });
}

void MainWindow::sync()
{
    const Store& store = m_watch.store();
    m_notice->setVisible(store.notice().has_value());
    if (store.notice())
        m_notice->setText(*store.notice());
    bool blocked = false;
    for (const AppItem* item : store.items())
        blocked = blocked || item->phase().kind == InstallPhase::Kind::blocked;
    m_permission->setVisible(store.appManagement() == Permissions::State::denied || blocked);
    m_nudge->sync();
    m_pages->setCurrentWidget(store.filter() == Filter::library ? static_cast<QWidget*>(m_library) : m_list);
    m_checkAgain->setEnabled(!store.scanning());
    m_updateAll->setEnabled(!store.updatingAll() && !store.installable().isEmpty());
    m_settingsButton->setIcon(Symbols::pixmap(u"slider.horizontal.3"_s, 16, Look::colors().text));
    if (m_search->text() != store.query())
        m_search->setText(store.query());
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Closing hides the window; the program lives on in the menu bar.
    if (m_closeHook && !m_closeHook(this)) {
        event->ignore();
        return;
    }
    event->accept();
}

} // namespace corvanta
