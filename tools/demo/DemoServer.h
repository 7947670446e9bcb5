#pragma once

#include <chrono>

#include <QObject>
#include <QString>
#include <QUrl>

class QTcpServer;

namespace corvanta::demo {

// The local update-services server: serves a demo world's documents on
// 127.0.0.1 at the paths the source readers use (see WorldRoutes).
//
// It is a QTcpServer with a small HTTP/1.1 layer of its own rather than Qt
// HttpServer: Qt 6.4's HttpServer is a technical preview, its router can't
// take one handler for every path and hold the responder for a delayed
// answer, and this server needs exactly that (added latency) plus streaming
// large files with flow control, keep-alive and HEAD; all of it fits in a
// few hundred lines we control.
class DemoServer : public QObject {
    Q_OBJECT

public:
    explicit DemoServer(QString documents, QObject* parent = nullptr);
    ~DemoServer() override;

    // Listens on 127.0.0.1:`port`, any free port for 0. False, with
    // errorString(), when the port can't be had.
    bool listen(quint16 port = 0);
    void close();
    quint16 port() const;
    // "http://127.0.0.1:<port>/"
    QUrl base() const;
    QString errorString() const;

    // Every answer waits this long before its first byte.
    void setLatency(std::chrono::milliseconds latency) { m_latency = latency; }
    std::chrono::milliseconds latency() const { return m_latency; }
    const QString& documents() const { return m_documents; }

Q_SIGNALS:
    // An answer was handed to the connection in full, body included.
    void served(const QString& method, const QString& target, int status);

private:
    void accept();

    QString m_documents;
    QTcpServer* m_server;
    std::chrono::milliseconds m_latency { 0 };
};

} // namespace corvanta::demo
