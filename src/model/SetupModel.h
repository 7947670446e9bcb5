#pragma once

#include "model/Setup.h"

#include <optional>

#include <QDateTime>
#include <QObject>
#include <QTimer>

namespace corvanta {

class Permissions;

// What the setup window shows: its step, whether the program holds the
// Accessibility permission (polled every second while the window is open),
// and the last failure.
class SetupModel : public QObject {
    Q_OBJECT

public:
    SetupModel(Setup& setup, const Permissions& permissions, SetupStep step, QObject* parent = nullptr);

    SetupStep step() const { return m_step; }
    bool trusted() const { return m_trusted; }
    bool asked() const { return m_asked; }
    const std::optional<QString>& error() const { return m_error; }
    Setup& setup() { return m_setup; }

    // Reads the permission, then polls it every second.
    void start();
    void poll();
    // From move or permission to login when setup still needs it, else done;
    // from login to done.
    void advance();
    void requestPermission();
    // The move card's button: copies, then relaunches from the copy; a
    // failure stays on the card as "Couldn't move it: …".
    void move(const QString& from);
    // "Keep It Here": never asked again.
    void skipMove();
    // The login card's answer.
    void answerLogin(bool on);

Q_SIGNALS:
    void changed();
    // The copy in Applications is ready; the program relaunches from it.
    void moved(const QString& bundle);

private:
    void setStep(SetupStep step);

    Setup& m_setup;
    const Permissions& m_permissions;
    SetupStep m_step;
    bool m_trusted = false;
    bool m_asked = false;
    std::optional<QString> m_error;
    std::optional<QDateTime> m_trustedSince;
    QTimer m_timer;
};

} // namespace corvanta
