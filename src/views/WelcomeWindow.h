#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QStackedWidget;

namespace corvanta {

class Store;

// "Welcome to Corvanta": a few pages on what it does, the offer to sign in
// when this build has account settings, and the way to the tour. Finishing
// or closing it counts as onboarded.
class WelcomeWindow : public QWidget {
    Q_OBJECT

public:
    explicit WelcomeWindow(Store& store, QWidget* parent = nullptr);

    static inline const QString title = QStringLiteral("Welcome to Corvanta");

    QStackedWidget* pages() const { return m_pages; }
    QPushButton* backButton() const { return m_back; }
    QPushButton* nextButton() const { return m_next; }
    QPushButton* signInButton() const { return m_signIn; }
    QPushButton* tourButton() const { return m_tour; }

Q_SIGNALS:
    // "Sign In": the Library's form in the main window.
    void signInRequested();
    // "Take the Tour".
    void tourRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void go(int page);
    void finish();

    Store& m_store;
    QStackedWidget* m_pages;
    QPushButton* m_back;
    QPushButton* m_next;
    QPushButton* m_signIn = nullptr;
    QPushButton* m_tour;
    QList<QWidget*> m_dots;
};

} // namespace corvanta
