#include "support/ServedFile.h"

#include "demo/HttpServer.h"

#include <csignal>

#include <QCoreApplication>

#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta::test {

namespace {

// The child: serve the file until killed; the port goes up the pipe.
[[noreturn]] void serve(const QString& file, const QString& path, int pipe)
{
    int argc = 1;
    char name[] = "served-file";
    char* argv[] = { name, nullptr };
    QCoreApplication application(argc, argv);
    demo::HttpServer server;
    server.setHandler([&](const demo::HttpRequest& request) {
        return request.target == path.toUtf8() ? demo::HttpReply { .file = file }
                                               : demo::HttpReply::text("Not Found\n", 404);
    });
    if (!server.listen())
        ::_exit(1);
    const quint16 port = server.port();
    if (::write(pipe, &port, sizeof port) != sizeof port)
        ::_exit(1);
    ::close(pipe);
    ::_exit(application.exec());
}

} // namespace

ServedFile::ServedFile(const QString& file, const QString& path)
{
    int pipe[2];
    if (::pipe(pipe) != 0)
        qFatal("no pipe for the file server");
    m_child = ::fork();
    if (m_child == 0) {
        ::close(pipe[0]);
        serve(file, path, pipe[1]);
    }
    ::close(pipe[1]);
    quint16 port = 0;
    const bool told = ::read(pipe[0], &port, sizeof port) == sizeof port;
    ::close(pipe[0]);
    if (m_child < 0 || !told)
        qFatal("the file server didn't start");
    m_url = QUrl(u"http://127.0.0.1:%1%2"_s.arg(port).arg(path));
}

ServedFile::~ServedFile()
{
    ::kill(m_child, SIGTERM);
    ::waitpid(m_child, nullptr, 0);
}

} // namespace corvanta::test
