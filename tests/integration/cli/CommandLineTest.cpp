#include "support/Program.h"

#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

// The command line's own work: arguments in, exit code and key output out.
// What the commands compute is proven where it is computed; a row here shows
// only that the command reaches it and prints it.
TEST(CommandLine, ArgumentsToExitCodeAndOutput)
{
    QTemporaryDir home;
    const QString feed = home.filePath(u"latest-mac.yml"_s);
    QFile file(feed);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("version: 2.3.4\nfiles:\n  - url: App-2.3.4-mac.zip\n    size: 9876\n");
    file.close();
    const QString apps = home.filePath(u"Applications"_s);

    struct Row {
        QStringList arguments;
        int exitCode;
        QStringList out; // each appears in standard output
        QString err; // appears in standard error
    };
    const std::vector<Row> rows {
        { { u"inspect"_s, u"version"_s, u"v2.1.0"_s, u"2.1.1"_s }, 0,
            { u"parts:       2 . 1 . 0"_s, u"isNewer: true\n"_s } },
        { { u"inspect"_s, u"version"_s, u"2023"_s, u"2.1"_s }, 0, { u"isNewer: undecided"_s } },
        { { u"inspect"_s, u"version"_s, u"2.0-beta.2"_s, u"2.0"_s, u"--json"_s }, 0,
            { u"\"isNewer\": true"_s, u"\"pre\": \"beta.2\""_s } },
        { { u"inspect"_s, u"version"_s, u"abc"_s, u"1"_s, u"--json"_s }, 0, { u"\"isNewer\": null"_s } },
        { { u"inspect"_s, u"electron"_s, feed, u"--json"_s }, 0,
            { u"\"size\": 9876"_s,
                u"\"url\": \""_s + QUrl::fromLocalFile(home.filePath(u"App-2.3.4-mac.zip"_s)).toString() } },
        { { u"inspect"_s, u"electron"_s, home.filePath(u"missing.yml"_s) }, 1, {}, u"Can't read "_s },
        { { u"frobnicate"_s }, 2, {}, u"Usage: corvanta"_s },
        { { u"inspect"_s }, 2, {}, u"Usage: corvanta"_s },
        { { u"inspect"_s, u"version"_s }, 2, {}, u"Usage: corvanta"_s },
        { { u"check"_s, u"--mock"_s }, 2, {}, u"Usage: corvanta"_s },
        { { u"check"_s, u"--mock"_s, u"ftp://example.com"_s, u"--sandbox"_s, apps }, 2, {}, {} },
        { { u"check"_s, u"extra"_s }, 2, {}, u"check takes only --sandbox DIR"_s },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments.join(u' ').toStdString());
        const ProgramRun ran = runProgram(row.arguments, programEnvironment(home.path()));
        EXPECT_EQ(ran.exitCode, row.exitCode) << ran.err.toStdString();
        for (const QString& text : row.out)
            EXPECT_TRUE(ran.out.contains(text)) << ran.out.toStdString();
        EXPECT_TRUE(ran.err.contains(row.err)) << ran.err.toStdString();
    }
}

} // namespace
