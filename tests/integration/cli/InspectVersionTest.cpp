#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

struct CliRun {
    int code = -1;
    QString out;
    QString err;
};

CliRun corvanta(const QStringList& arguments)
{
    QProcess process;
    process.start(QString::fromUtf8(CORVANTA_BINARY), arguments);
    EXPECT_TRUE(process.waitForFinished(30'000));
    return { process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
        QString::fromUtf8(process.readAllStandardError()) };
}

TEST(InspectVersion, PrintsTheParseAndTheAnswer)
{
    const CliRun run = corvanta({ u"inspect"_s, u"version"_s, u"v2.1.0"_s, u"2.1.1"_s });
    EXPECT_EQ(run.code, 0);
    EXPECT_TRUE(run.out.contains(u"parts:       2 . 1 . 0"_s)) << run.out.toStdString();
    EXPECT_TRUE(run.out.endsWith(u"isNewer: true\n"_s)) << run.out.toStdString();
}

TEST(InspectVersion, SaysWhenTheAnswerIsUndecided)
{
    EXPECT_TRUE(
        corvanta({ u"inspect"_s, u"version"_s, u"2023"_s, u"2.1"_s }).out.contains(u"isNewer: undecided"_s));
}

TEST(InspectVersion, GivesOneJsonDocument)
{
    const CliRun run = corvanta({ u"inspect"_s, u"version"_s, u"2.0-beta.2"_s, u"2.0"_s, u"--json"_s });
    const QJsonObject document = QJsonDocument::fromJson(run.out.toUtf8()).object();
    EXPECT_EQ(document[u"version"_s][u"pre"_s].toString(), u"beta.2"_s);
    EXPECT_EQ(document[u"version"_s][u"parts"_s][1].toInt(), 0);
    EXPECT_TRUE(document[u"isNewer"_s].toBool());
    EXPECT_TRUE(
        corvanta({ u"inspect"_s, u"version"_s, u"abc"_s, u"1"_s, u"--json"_s }).out.contains(u"null"_s));
}

TEST(Cli, UnknownCommandsPrintTheUsageAndExit2)
{
    for (const QStringList& arguments : { QStringList { u"frobnicate"_s }, QStringList { u"inspect"_s },
             QStringList { u"inspect"_s, u"version"_s } }) {
        const CliRun run = corvanta(arguments);
        EXPECT_EQ(run.code, 2) << arguments.join(u' ').toStdString();
        EXPECT_TRUE(run.err.contains(u"Usage: corvanta"_s));
    }
}

} // namespace
