#pragma once

#include "support/TestServer.h"

#include <memory>
#include <optional>

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

namespace corvanta::test::detail {

// One client connection: reads requests one after another (pipelined ones
// wait their turn), answers each through the server's routes, and streams
// the body a block at a time as the socket drains so memory stays small.
class ServerConnection : public QObject {
public:
    ServerConnection(TestServer& server, QTcpSocket* socket, int serial);
    ~ServerConnection() override;

private:
    enum class State { readingHead, readingBody, waiting, sending, draining, closing };
    enum class Parse { incomplete, complete, malformed };

    void onReadyRead();
    void processInput();
    Parse parseHead();
    Parse parseBody();
    void reject(int status);

    void startResponse();
    void sendHead();
    void pump();
    void finishBody();
    void finishResponse();
    void closeConnection();
    void onDisconnected();
    bool dripping() const { return m_response.chunkSize > 0; }

    TestServer& m_server;
    QTcpSocket* m_socket;
    const int m_serial;
    State m_state = State::readingHead;
    QByteArray m_input;

    // The request being read.
    RecordedRequest m_request;
    bool m_chunkedBody = false;
    qint64 m_bodyLength = 0;
    bool m_keepAlive = true;

    // The response being sent.
    bool m_counted = false; // counted in the server's active requests
    Response m_response;
    bool m_headOnly = false;
    bool m_closeAfterResponse = false;
    std::unique_ptr<QFile> m_file;
    qint64 m_available = 0; // bytes of body at hand
    qint64 m_toSend = 0; // bytes of body to send before stopping
    qint64 m_sent = 0;
    QTimer m_timer; // latency, then drip intervals
};

} // namespace corvanta::test::detail
