#pragma once

#include <optional>

#include <QLocalServer>
#include <QObject>
#include <QUrl>

namespace corvanta {

class Launch;

// One running copy per user (and per sandbox): the first copy listens on a
// local socket; a later one tells it to come forward and leaves. A launch the
// desktop makes to hand over a sign-in callback URL passes it the same way.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // `version` is what this copy answers a later one that asks.
    explicit SingleInstance(QString name, QString version = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The socket name for this user and, under --sandbox, this sandbox.
    static QString nameFor(const Launch& launch);

    // True when this copy is now the one: it listens. False when another
    // copy answered; it has been asked to show its window.
    bool claim();
    // Listens when no other copy does; false, asking nothing of it, when one does.
    bool listenIfFree();
    // Hands `url` to the copy listening on `name`; false when none listens.
    static bool forward(const QString& name, const QUrl& url);
    // The version of the copy that listens; none when none answers.
    std::optional<QString> runningVersion() const;
    // An older copy is running: asks it to quit and waits (a few seconds at
    // most) until it has let go of the socket. True when this copy may go on.
    bool takeOver() const;
    const QString& name() const { return m_name; }

    // The longest request a copy reads; a callback URL is far shorter.
    static constexpr qint64 maxRequest = 4096;

Q_SIGNALS:
    // Another launch asked this copy to bring its window forward.
    void activated();
    // Another launch was handed `url` by the desktop.
    void urlOpened(const QUrl& url);
    // A newer copy takes over: this one should quit.
    void quitRequested();

private:
    // Another copy answered on the socket; it was sent `request`.
    bool answered(const QByteArray& request) const;
    void read();

    QString m_name;
    QString m_version;
    QLocalServer m_server;
};

} // namespace corvanta
