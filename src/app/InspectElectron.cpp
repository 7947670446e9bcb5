#include "app/Commands.h"
#include "sources/CheckError.h"
#include "sources/Electron.h"
#include "sources/Net.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// The feed's bytes and the address its relative links resolve against:
// a file on disk, or a download through the session.
QCoro::Task<Release> readFeed(QString argument)
{
    const QUrl url(argument);
    const bool remote = url.scheme() == u"http" || url.scheme() == u"https";
    if (remote) {
        Net net;
        Release release = co_await Electron::read(net, url);
        co_return release;
    }
    const QString path = url.isLocalFile() ? url.toLocalFile() : argument;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw CheckError(u"Can't read "_s + path + u": "_s + file.errorString());
    co_return Electron::parse(file.readAll(), QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}

} // namespace

QCoro::Task<int> commands::inspectElectron(CliContext& context)
{
    if (context.arguments.size() != 1)
        co_return context.usage(u"inspect electron takes one feed URL or file."_s);
    std::optional<Release> release;
    try {
        release = co_await readFeed(context.arguments[0]);
    } catch (const Error& error) {
        context.err << error.description() << u'\n';
        co_return 1;
    }

    if (context.json) {
        context.out << QJsonDocument(toJson(*release)).toJson(QJsonDocument::Indented);
        co_return 0;
    }
    context.out << u"version:  "_s << release->label() << u'\n';
    if (release->download) {
        context.out << u"download: "_s << release->download->url.toString() << u'\n';
        context.out << u"size:     "_s
                    << (release->download->size ? QString::number(*release->download->size) : u"unknown"_s)
                    << u'\n';
    } else {
        context.out << u"download: none\n"_s;
    }
    co_return 0;
}

} // namespace corvanta
