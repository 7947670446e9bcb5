#pragma once

#include <QLocalServer>
#include <QObject>

namespace corvanta {

class Launch;

// One running copy per user (and per sandbox): the first copy listens on a
// local socket; a later one tells it to come forward and leaves.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(QString name, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The socket name for this user and, under --sandbox, this sandbox.
    static QString nameFor(const Launch& launch);

    // True when this copy is now the one: it listens. False when another
    // copy answered; it has been asked to show its window.
    bool claim();
    const QString& name() const { return m_name; }

Q_SIGNALS:
    // Another launch asked this copy to bring its window forward.
    void activated();

private:
    void read();

    QString m_name;
    QLocalServer m_server;
};

} // namespace corvanta
