#include "demo/Manifest.h"
#include "support/Await.h"
#include "support/QtPrinters.h"

#include <csignal>
#include <iostream>

#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

struct Finished {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Finished corvanta(const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"ASAN_OPTIONS"_s, u"detect_leaks=0"_s);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(CORVANTA_BINARY), arguments);
    EXPECT_TRUE(
        waitUntil([&] { return process.state() == QProcess::NotRunning; }, std::chrono::seconds(120)));
    return { process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError() };
}

quint16 freePort()
{
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost));
    return probe.serverPort();
}

// `corvanta demo --make` and `--serve` as a user types them.
TEST(DemoCommand, MakesAWorldAndServesIt)
{
    QTemporaryDir folder;
    const QString root = folder.filePath(u"world"_s);
    const quint16 port = freePort();
    const Finished made
        = corvanta({ u"demo"_s, u"--make"_s, root, u"--port"_s, QString::number(port), u"--json"_s });
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    const QJsonObject json = QJsonDocument::fromJson(made.out).object();
    EXPECT_GT(json[u"milliseconds"_s].toInteger(), 0);
    const demo::Manifest manifest = demo::Manifest::load(root + u"/manifest.json"_s);
    EXPECT_EQ(json[u"apps"_s].toArray().size(), qsizetype(manifest.apps.size()));
    EXPECT_EQ(manifest.base, QUrl(u"http://127.0.0.1:%1/"_s.arg(port)));
    std::cout << "[ demo ] corvanta demo --make took " << json[u"milliseconds"_s].toInteger() << " ms\n";

    // The readable summary names every app and how to go on.
    const Finished again = corvanta({ u"demo"_s, u"--make"_s, root, u"--port"_s, QString::number(port) });
    ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
    const QString summary = QString::fromUtf8(again.out);
    for (const demo::SampleApp& app : manifest.apps)
        EXPECT_TRUE(summary.contains(app.path)) << app.path.toStdString();
    EXPECT_TRUE(summary.contains(u"corvanta demo --serve "_s + root));

    QProcess server;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"ASAN_OPTIONS"_s, u"detect_leaks=0"_s);
    server.setProcessEnvironment(environment);
    server.start(QStringLiteral(CORVANTA_BINARY), { u"demo"_s, u"--serve"_s, root, u"--latency"_s, u"10"_s });
    QByteArray output;
    ASSERT_TRUE(waitUntil(
        [&] {
            output += server.readAllStandardOutput();
            return output.contains("Press Ctrl-C to stop.") || server.state() == QProcess::NotRunning;
        },
        std::chrono::seconds(30)))
        << server.readAllStandardError().toStdString();
    EXPECT_TRUE(output.contains(QByteArray("at http://127.0.0.1:" + QByteArray::number(port) + '/')))
        << output.toStdString();

    QNetworkAccessManager network;
    QNetworkReply* reply = network.get(QNetworkRequest(manifest.base.resolved(QUrl(u"api/cask.json"_s))));
    ASSERT_TRUE(waitUntil([&] { return reply->isFinished(); }, std::chrono::seconds(20)));
    EXPECT_EQ(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    EXPECT_TRUE(QJsonDocument::fromJson(reply->readAll()).isArray());
    reply->deleteLater();

    // Interrupted, it says so and ends cleanly.
    ::kill(pid_t(server.processId()), SIGINT);
    ASSERT_TRUE(waitUntil([&] { return server.state() == QProcess::NotRunning; }, std::chrono::seconds(30)));
    output += server.readAllStandardOutput();
    EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(server.exitCode(), 0);
    EXPECT_TRUE(output.contains("200 GET /api/cask.json")) << output.toStdString();
    EXPECT_TRUE(output.endsWith("Stopped.\n")) << output.toStdString();
}

struct UsageRow {
    QStringList arguments;
    QString message; // the first line of stderr
    int exitCode;
};

std::ostream& operator<<(std::ostream& os, const UsageRow& row)
{
    return os << row.arguments.join(u' ').toStdString();
}

class DemoCommandRefuses : public testing::TestWithParam<UsageRow> { };

const QString demoUsage = u"demo takes [DIR] [--keep] [--headless], --make DIR [--port N], "
                          u"or --serve DIR [--port N] [--latency MS]."_s;

TEST_P(DemoCommandRefuses, WhatItCantDo)
{
    QTemporaryDir folder;
    QFile(folder.filePath(u"Letter.txt"_s)).open(QIODevice::WriteOnly);
    QStringList arguments { u"demo"_s };
    for (const QString& argument : GetParam().arguments)
        arguments << QString(argument).replace(u"$DIR"_s, folder.path());
    const Finished run = corvanta(arguments);
    EXPECT_EQ(run.exitCode, GetParam().exitCode);
    const QString expected = QString(GetParam().message).replace(u"$DIR"_s, folder.path());
    EXPECT_EQ(QString::fromUtf8(run.err).section(u'\n', 0, 0), expected);
}

INSTANTIATE_TEST_SUITE_P(Arguments, DemoCommandRefuses,
    testing::Values(UsageRow { { u"--make"_s, u"$DIR/a"_s, u"--serve"_s, u"$DIR/a"_s },
                        u"demo takes --make DIR or --serve DIR, not both."_s, 2 },
        UsageRow { { u"$DIR/a"_s, u"$DIR/b"_s }, demoUsage, 2 },
        UsageRow { { u"--headless"_s, u"--port"_s, u"8080"_s }, demoUsage, 2 },
        UsageRow { { u"--make"_s, u"$DIR/a"_s, u"--keep"_s }, demoUsage, 2 },
        // A folder for the demo must be empty or hold an earlier world, as for --make.
        UsageRow { { u"--headless"_s, u"$DIR"_s },
            u"$DIR isn't empty and holds no demo world; choose an empty or new folder."_s, 1 },
        UsageRow { { u"--make"_s }, u"--make and --serve need a folder."_s, 2 },
        UsageRow { { u"--make"_s, u"$DIR/a"_s, u"--port"_s, u"70000"_s },
            u"--port needs a port number from 1 to 65535."_s, 2 },
        UsageRow { { u"--make"_s, u"$DIR/a"_s, u"--latency"_s, u"5"_s },
            u"--latency goes with --serve and needs milliseconds."_s, 2 },
        UsageRow { { u"--make"_s, u"$DIR"_s },
            u"$DIR isn't empty and holds no demo world; choose an empty or new folder."_s, 1 },
        UsageRow { { u"--serve"_s, u"$DIR"_s },
            u"There's no demo world here: $DIR/manifest.json can't be read."_s, 1 }));

TEST(DemoCommand, ServesAWorldOnlyOnItsOwnPort)
{
    QTemporaryDir folder;
    const Finished made = corvanta({ u"demo"_s, u"--make"_s, folder.path(), u"--port"_s, u"18765"_s });
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    const Finished served = corvanta({ u"demo"_s, u"--serve"_s, folder.path(), u"--port"_s, u"18766"_s });
    EXPECT_EQ(served.exitCode, 1);
    EXPECT_EQ(QString::fromUtf8(served.err),
        u"The world in "_s + folder.path()
            + u" was made for port 18765; make it again with --port 18766 to serve it there.\n"_s);
}

} // namespace
