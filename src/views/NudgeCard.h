#pragma once

#include <QFrame>

class QPushButton;

namespace corvanta {

class Store;

// "Back up your app list": the main window's invitation to sign in, shown
// while AccountNudge wants it.
class NudgeCard : public QFrame {
    Q_OBJECT

public:
    explicit NudgeCard(Store& store, QWidget* parent = nullptr);

    QPushButton* notNowButton() const { return m_notNow; }
    QPushButton* signInButton() const { return m_signIn; }

    void sync();

private:
    Store& m_store;
    QPushButton* m_notNow;
    QPushButton* m_signIn;
};

} // namespace corvanta
