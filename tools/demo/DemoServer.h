#pragma once

#include "demo/HttpServer.h"

#include <QString>

namespace corvanta::demo {

// The local update-services server: serves a demo world's documents on
// 127.0.0.1 at the paths the source readers use (routes in WorldRoutes).
class DemoServer : public HttpServer {
public:
    explicit DemoServer(QString documents, QObject* parent = nullptr);

    const QString& documents() const { return m_documents; }

private:
    QString m_documents;
};

} // namespace corvanta::demo
