#pragma once

#include <QScrollArea>

class QLabel;
class QVBoxLayout;

namespace corvanta {

class AuthView;
class ConfirmEmailTile;
class LibraryView;
class StoreWatch;

// What the "Library" chip shows: why there is no library in a build without
// account settings, the sign-in form while signed out, and the signed-in
// account with its email confirmation and sync state.
class LibraryPane : public QScrollArea {
    Q_OBJECT

public:
    explicit LibraryPane(StoreWatch& watch, QWidget* parent = nullptr);

    static inline const QString notSetUpTitle = QStringLiteral("Library isn't set up in this build");
    static inline const QString notSetUpText
        = QStringLiteral("This copy of Corvanta was built without its Firebase settings.");

    // Present only while signed out.
    AuthView* authView() const { return m_auth; }
    ConfirmEmailTile* confirmTile() const { return m_confirm; }
    // Present only while signed in.
    LibraryView* libraryView() const { return m_library; }
    QLabel* title() const { return m_title; }
    QLabel* text() const { return m_text; }

private:
    void sync();

    StoreWatch& m_watch;
    QVBoxLayout* m_layout;
    QLabel* m_title;
    QLabel* m_text;
    ConfirmEmailTile* m_confirm;
    AuthView* m_auth = nullptr;
    LibraryView* m_library = nullptr;
};

} // namespace corvanta
