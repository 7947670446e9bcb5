#include "codesign/MachO.h"
#include "codesign/PortableCodeSigning.h"
#include "demo/Manifest.h"
#include "demo/TreeDigest.h"
#include "discovery/Scanner.h"
#include "support/Await.h"
#include "support/QtPrinters.h"

#include <algorithm>
#include <csignal>
#include <optional>

#include <QDir>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvanta;
using namespace corvanta::demo;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

// ---- the program, as a user runs it ---------------------------------------------------------

QProcessEnvironment demoEnvironment(const QString& home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"HOME"_s, home);
    environment.insert(u"XDG_CONFIG_HOME"_s, home + u"/config"_s);
    environment.insert(u"TMPDIR"_s, home + u"/tmp"_s);
    environment.insert(u"LANG"_s, u"en_US.UTF-8"_s);
    environment.insert(u"LC_ALL"_s, u"en_US.UTF-8"_s);
    environment.insert(u"ASAN_OPTIONS"_s, u"detect_leaks=0"_s);
    // Whatever this machine is, the demo stands for the Mac its world is made for.
    environment.remove(u"CORVANTA_APPLE_SILICON"_s);
    environment.remove(u"CORVANTA_MACOS_VERSION"_s);
    QDir().mkpath(home + u"/tmp"_s);
    return environment;
}

// Processes whose parent is this one. Orphans of a program this test ran end
// up here, since the test makes itself their subreaper.
QList<qint64> children()
{
    QList<qint64> found;
    const QString self = QString::number(::getpid());
    for (const QString& pid : QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(u"/proc/"_s + pid + u"/status"_s);
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("PPid:") && line.mid(5).trimmed() == self.toLatin1())
                found << pid.toLongLong();
        }
    }
    return found;
}

bool portAnswers(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(2000);
}

// ---- reading what it printed ----------------------------------------------------------------

struct Event {
    QString title;
    QString message;
    QStringList log; // the "·" lines after it
};

const QRegularExpression columns(u"\\s{2,}"_s);

// The lines of the section whose heading starts with `heading`.
QStringList section(const QStringList& lines, const QString& heading)
{
    QStringList result;
    bool inside = false;
    for (const QString& line : lines) {
        if (line.startsWith(u"== "_s)) {
            inside = line == u"== "_s + heading || line.startsWith(u"== "_s + heading + u':');
            continue;
        }
        if (inside)
            result << line;
    }
    return result;
}

QHash<QString, QList<Event>> events(const QStringList& lines)
{
    QHash<QString, QList<Event>> result;
    QString last;
    for (const QString& line : lines) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(u"\u00b7 "_s)) {
            if (!result.value(last).isEmpty())
                result[last].last().log << trimmed.mid(2);
            continue;
        }
        const QStringList cells = trimmed.split(columns);
        if (!line.startsWith(u"  "_s) || cells.size() < 2)
            continue;
        last = cells[0];
        result[last].append({ cells[1], cells.value(2), {} });
    }
    return result;
}

// ---- the run --------------------------------------------------------------------------------

// `corvanta demo --headless DIR` run once for the whole suite: its output and
// the world it leaves in DIR, held against the world's own manifest.
class HeadlessDemo : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        home = new QTemporaryDir();
        layout = new WorldLayout { home->filePath(u"world"_s) };
        QProcess process;
        process.setProcessEnvironment(demoEnvironment(home->path()));
        process.start(QStringLiteral(CORVANTA_BINARY), { u"demo"_s, u"--headless"_s, layout->root });
        EXPECT_TRUE(
            waitUntil([&] { return process.state() == QProcess::NotRunning; }, std::chrono::seconds(300)));
        exitCode = process.exitCode();
        errors = QString::fromUtf8(process.readAllStandardError());
        output = new QString(QString::fromUtf8(process.readAllStandardOutput()));
        leftBehind = new QList<qint64>(children());
        manifest = new Manifest(Manifest::load(layout->manifest()));
        codeSigning = new codesign::PortableCodeSigning(codesign::TrustAnchors::fromFolder(layout->anchors()),
            manifest->appleSilicon ? codesign::cpu::arm64 : codesign::cpu::x86_64);
    }

    static void TearDownTestSuite()
    {
        delete codeSigning;
        delete manifest;
        delete leftBehind;
        delete output;
        delete layout;
        delete home;
    }

    void SetUp() override
    {
        ASSERT_EQ(exitCode, 0) << errors.toStdString() << output->toStdString();
        ASSERT_TRUE(errors.isEmpty()) << errors.toStdString();
    }

    static std::optional<InstalledApp> read(const QString& bundle)
    {
        return Scanner::read(QUrl::fromLocalFile(bundle), QUrl::fromLocalFile(QFileInfo(bundle).path()),
            *codeSigning, manifest->base);
    }

    static bool installs(const SampleApp& app)
    {
        return app.update && app.update->outcome == ExpectedUpdate::Outcome::installed;
    }

    static bool refuses(const SampleApp& app)
    {
        return app.update && app.update->outcome == ExpectedUpdate::Outcome::refused;
    }

    static inline QTemporaryDir* home = nullptr;
    static inline WorldLayout* layout = nullptr;
    static inline int exitCode = -1;
    static inline QString errors;
    static inline QString* output = nullptr;
    static inline QList<qint64>* leftBehind = nullptr;
    static inline Manifest* manifest = nullptr;
    static inline codesign::PortableCodeSigning* codeSigning = nullptr;
};

// What the summary claims holds on disk: new versions in place and valid, the
// refused apps byte for byte as the world made them, the old versions whole
// in the sandbox's Trash folder. The tables themselves are CheckTest's and
// UpdateTest's to prove.
TEST_F(HeadlessDemo, BundlesOnDiskAreWhatTheSummarySays)
{
    const auto count = [](auto&& predicate) {
        return std::count_if(manifest->apps.begin(), manifest->apps.end(), predicate);
    };
    EXPECT_TRUE(output->contains(
        u"\nSummary: installed %1 updates and refused %2,"_s.arg(count(installs)).arg(count(refuses))))
        << output->toStdString();
    QStringList trashed;
    for (const SampleApp& app : manifest->apps) {
        SCOPED_TRACE(app.name.toStdString());
        const QString bundle = layout->applications() + u'/' + app.path;
        ASSERT_FALSE(app.digest.isEmpty());
        if (!installs(app)) {
            EXPECT_EQ(treeDigest(bundle), app.digest) << "untouched";
            continue;
        }
        const std::optional<InstalledApp> now = read(bundle);
        ASSERT_TRUE(now.has_value());
        EXPECT_EQ(now->version, app.update->version);
        EXPECT_EQ(now->bundleID, app.bundleID);
        EXPECT_EQ(now->team, app.team);
        const ValidityResult validity = codeSigning->checkValidity(bundle, ValidityFlags::installer);
        EXPECT_TRUE(validity.isValid()) << validity.message.value_or(QString()).toStdString();
        EXPECT_NE(treeDigest(bundle), app.digest) << "replaced";

        const QString old = layout->trash() + u'/' + QFileInfo(bundle).fileName();
        trashed << QFileInfo(old).fileName();
        EXPECT_EQ(treeDigest(old), app.digest) << "the old version is whole in the Trash";
        const std::optional<InstalledApp> before = read(old);
        ASSERT_TRUE(before.has_value());
        EXPECT_EQ(before->version, app.version);
        EXPECT_EQ(before->build, app.build);
    }
    QStringList inTrash
        = QDir(layout->trash()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    inTrash.sort();
    trashed.sort();
    EXPECT_EQ(inTrash, trashed);
    // Nothing of the installs' work folders or staging is left.
    EXPECT_EQ(
        QDir(home->filePath(u"tmp"_s)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList());
    for (const QString& entry : QDir(layout->applications()).entryList(QDir::Hidden | QDir::AllEntries))
        EXPECT_FALSE(entry.startsWith(u".corvanta-"_s)) << entry.toStdString();
}

TEST_F(HeadlessDemo, NothingIsLeftRunning)
{
    EXPECT_FALSE(portAnswers(quint16(manifest->base.port()))) << "the server stopped";
    EXPECT_EQ(*leftBehind, QList<qint64>()) << "no process outlives the demo";
    EXPECT_TRUE(output->trimmed().endsWith(u"Stopped the demo server; the world stays in "_s + layout->root
        + u" (corvanta demo --serve "_s + layout->root + u" serves it again)."_s))
        << output->right(300).toStdString();
}

// Ctrl-C during "Update All": the app being installed finishes, the rest stay
// queued no more, and the server and the temporary world go.
TEST(HeadlessDemoStops, OnInterruptItCleansUp)
{
    QTemporaryDir home;
    QProcess process;
    process.setProcessEnvironment(demoEnvironment(home.path()));
    process.start(QStringLiteral(CORVANTA_BINARY), { u"demo"_s, u"--headless"_s });
    QByteArray output;
    ASSERT_TRUE(waitUntil(
        [&] {
            output += process.readAllStandardOutput();
            return output.contains("Installing ") || process.state() == QProcess::NotRunning;
        },
        std::chrono::seconds(300)))
        << output.toStdString();
    ASSERT_EQ(process.state(), QProcess::Running) << output.toStdString();
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(
        waitUntil([&] { return process.state() == QProcess::NotRunning; }, std::chrono::seconds(120)));
    output += process.readAllStandardOutput();
    const QString text = QString::fromUtf8(output);
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 130);
    EXPECT_TRUE(
        QString::fromUtf8(process.readAllStandardError()).contains(u"Stopping after the current step"_s));
    EXPECT_FALSE(text.contains(u"== Check again"_s)) << text.toStdString();

    // The app being installed when Ctrl-C came finished; none after it started.
    const QHash<QString, QList<Event>> phases = events(section(text.split(u'\n'), u"Update All"_s));
    int started = 0;
    for (const QList<Event>& shown : phases)
        started += shown.size() > 1 ? 1 : 0;
    int ended = 0;
    for (const QList<Event>& shown : phases)
        ended += shown.last().title.startsWith(u"Updated to "_s) || shown.last().title == u"Update failed"_s;
    EXPECT_EQ(started, ended) << text.toStdString();
    EXPECT_LT(started, phases.size()) << "the queue stopped before its end";

    const QRegularExpression served(u"Served at http://127\\.0\\.0\\.1:(\\d+)/"_s);
    const QRegularExpressionMatch port = served.match(text);
    ASSERT_TRUE(port.hasMatch()) << text.toStdString();
    EXPECT_FALSE(portAnswers(quint16(port.captured(1).toUInt())));
    const QRegularExpression removed(u"Stopped the demo server and removed (\\S+)\\.\n"_s);
    const QRegularExpressionMatch world = removed.match(text);
    ASSERT_TRUE(world.hasMatch()) << text.toStdString();
    EXPECT_TRUE(world.captured(1).startsWith(home.filePath(u"tmp/corvanta-demo-"_s)));
    EXPECT_FALSE(QFileInfo::exists(world.captured(1)));
    EXPECT_EQ(QDir(home.filePath(u"tmp"_s)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList());
}

} // namespace
