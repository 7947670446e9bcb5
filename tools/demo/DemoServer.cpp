#include "demo/DemoServer.h"

#include "demo/WorldRoutes.h"

#include <QDateTime>

namespace corvanta::demo {

DemoServer::DemoServer(QString documents, QObject* parent)
    : HttpServer(parent)
    , m_documents(std::move(documents))
{
    setHandler([this](const HttpRequest& request) {
        HttpReply reply = WorldRoutes::answer(m_documents, request);
        reply.headers.prepend({ "Date", httpDate(QDateTime::currentDateTimeUtc()) });
        reply.headers.prepend({ "Server", "corvanta-demo" });
        return reply;
    });
}

} // namespace corvanta::demo
