// Kills a real `corvanta update` with SIGKILL at random moments of an install
// and looks at what is left. The app must be the old tree or the new one,
// never a mix; beside it only private staging folders, which the next install
// sweeps; and once the new version is in place the old copy is in the trash
// folder or still whole in a staging folder. Where strace is installed, two
// more runs are killed as they enter the exchange and the move to the trash,
// moments microseconds wide. A last, undisturbed install must leave no
// staging folder, no work folder and the old copy in the trash.
//
//   bench_stress_swap [--rounds N] [--seed S]
//
// Ends with a summary line, exits 1 on any violation and 2 when the world
// can't be set up.

#include "codesign/CodeSigner.h"
#include "install/Updater.h"
#include "platform/CodeSigning.h"
#include "support/BundleBuilder.h"
#include "support/EdKey.h"
#include "support/InstallFixtures.h"
#include "support/MachOWriter.h"
#include "support/Program.h"
#include "support/TestServer.h"
#include "support/ZipWriter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

using namespace corvanta;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// Big enough that unpacking and checking the seal take a good part of a run.
constexpr int resourceFiles = 320;
constexpr qsizetype resourceSize = 12 * 1024;
constexpr int frameworkFiles = 40;
constexpr qsizetype frameworkFileSize = 8 * 1024;
constexpr auto runLimit = 120s;

const QString appName = u"Foo.app"_s;

bool isStagingName(const QString& name)
{
    static const QRegularExpression pattern(
        u"^\\.corvanta-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"_s);
    return pattern.match(name).hasMatch();
}

QByteArray noise(QRandomGenerator& random, qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    return bytes;
}

// Foo.app with a framework (Versions/Current and its links), a few hundred
// resource files and an EdDSA key, signed ad hoc.
QString buildApp(const QString& folder, const QString& version, const QString& build, std::uint32_t seed,
    const QString& edKey, const QUrl& feed)
{
    test::BundleBuilder builder(folder, u"Foo"_s);
    builder.bundleID(u"com.example.foo"_s)
        .version(version)
        .build(build)
        .edKey(edKey)
        .feedURL(feed.toString())
        .executable(u"Foo"_s, test::MachOWriter::executable(CpuType::ofThisBuild(), 200000, seed));
    const QString kit = u"Contents/Frameworks/Kit.framework"_s;
    builder.file(kit + u"/Versions/A/Kit"_s, test::MachOWriter::library(CpuType::ofThisBuild(), 60000, seed))
        .file(kit + u"/Versions/A/Resources/Info.plist"_s,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            "<key>CFBundleIdentifier</key><string>com.example.Kit</string>"
            "<key>CFBundleExecutable</key><string>Kit</string></dict></plist>\n")
        .symlink(kit + u"/Versions/Current"_s, u"A"_s)
        .symlink(kit + u"/Kit"_s, u"Versions/Current/Kit"_s)
        .symlink(kit + u"/Resources"_s, u"Versions/Current/Resources"_s);
    QRandomGenerator random(seed);
    for (int i = 0; i < frameworkFiles; ++i)
        builder.file(kit + u"/Versions/A/Resources/data/%1.bin"_s.arg(i, 3, 10, QChar(u'0')),
            noise(random, frameworkFileSize));
    for (int i = 0; i < resourceFiles; ++i)
        builder.file(u"Contents/Resources/parts/%1/%2.bin"_s.arg(i % 16).arg(i, 4, 10, QChar(u'0')),
            noise(random, resourceSize));
    const QString path = builder.create();
    codesign::CodeSigner(codesign::SigningOptions {}).sign(path);
    return path;
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The whole tree, its root's mode included.
bool sameTree(const test::Snapshot& expected, const test::Snapshot& actual)
{
    return expected.value(QString()) == actual.value(QString())
        && test::difference(expected, actual).isEmpty();
}

QString firstLines(const QString& text, int count = 12)
{
    QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
    const qsizetype total = lines.size();
    if (total > count) {
        lines = lines.mid(0, count);
        lines << u"… %1 more"_s.arg(total - count);
    }
    return u"    "_s + lines.join(u"\n    "_s);
}

// Lets the owner remove what an install left read-only.
void removeTree(const QString& path)
{
    QDirIterator walk(path, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (walk.hasNext())
        QFile::setPermissions(walk.next(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QDir(path).removeRecursively();
}

struct Options {
    int rounds = 1000;
    std::uint64_t seed = std::random_device {}();
};

std::optional<Options> parse(const QStringList& arguments)
{
    Options options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& flag = arguments[i];
        if (i + 1 >= arguments.size())
            return std::nullopt;
        bool ok = false;
        if (flag == u"--rounds")
            options.rounds = arguments[++i].toInt(&ok);
        else if (flag == u"--seed")
            options.seed = arguments[++i].toULongLong(&ok);
        if (!ok || options.rounds < 0)
            return std::nullopt;
    }
    return options;
}

// How a run of the child ended.
struct Run {
    bool killed = false;
    int exitCode = -1;
    qint64 milliseconds = 0;
    QString output;
};

class Stress {
public:
    Stress()
    {
        for (const QString& folder : { applications(), trash(), home(), temp() })
            QDir().mkpath(folder);
        m_server.on(u"/api/cask.json"_s, test::Response::json("[]"));
        m_server.onPrefix(u"/lookup"_s,
            [](const test::RecordedRequest&) { return test::Response::json(R"({"results":[]})"); });

        const QUrl feed = m_server.url(u"/Foo/appcast.xml"_s);
        m_pristine = buildApp(m_root.filePath(u"old"_s), u"1.0"_s, u"1"_s, 1, m_key.publicKey(), feed);
        const QString fresh
            = buildApp(m_root.filePath(u"new"_s), u"2.0"_s, u"2"_s, 2, m_key.publicKey(), feed);
        m_old = test::snapshot(m_pristine);
        m_new = test::snapshot(fresh);
        const QString zip = m_root.filePath(u"Foo-2.0.zip"_s);
        {
            test::ZipWriter writer(zip);
            writer.tree(fresh, appName);
        }
        QFile file(zip);
        if (!file.open(QIODevice::ReadOnly))
            qFatal("can't read the zip");
        m_zipBytes = file.readAll();
        m_files = int(m_new.size());
        m_server.on(u"/Foo/Foo-2.0.zip"_s, test::Response { .body = m_zipBytes });
        const QString appcast = uR"(<?xml version="1.0"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel><item>
<sparkle:version>2</sparkle:version><sparkle:shortVersionString>2.0</sparkle:shortVersionString>
<enclosure url="/Foo/Foo-2.0.zip" length="%1" sparkle:edSignature="%2"/>
</item></channel></rss>)"_s.arg(QString::number(m_zipBytes.size()), m_key.sign(m_zipBytes));
        m_server.on(u"/Foo/appcast.xml"_s, test::Response::text(appcast.toUtf8(), 200, "application/xml"));
    }

    QString applications() const { return m_root.filePath(u"Applications"_s); }
    QString trash() const { return m_root.filePath(u"Trash"_s); } // where --sandbox puts old copies
    QString home() const { return m_root.filePath(u"home"_s); }
    QString temp() const { return m_root.filePath(u"tmp"_s); }
    QString installed() const { return applications() + u'/' + appName; }
    int files() const { return m_files; }
    qint64 zipSize() const { return m_zipBytes.size(); }

    // Foo.app back to 1.0 and an empty trash; staging folders stay for the sweep.
    void reset()
    {
        removeTree(installed());
        for (const QString& name : entries(trash()))
            removeTree(trash() + u'/' + name);
        if (QProcess::execute(u"cp"_s, { u"-a"_s, m_pristine, applications() }) != 0)
            qFatal("can't copy the old version into place");
    }

    // Empties the child's TMPDIR; returns how many work folders were there.
    int clearTemp()
    {
        const QStringList left = entries(temp());
        for (const QString& name : left)
            removeTree(temp() + u'/' + name);
        return int(left.size());
    }

    // Starts `corvanta update foo`, and kills it after `killAfter` unless it
    // ended; with `killAt`, strace kills it as it enters the rename that
    // names that path.
    Run run(std::optional<std::chrono::milliseconds> killAfter, const QString& killAt = {})
    {
        QProcessEnvironment environment = test::programEnvironment(home());
        environment.insert(u"TMPDIR"_s, temp());
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        QEventLoop loop;
        QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
        Run run;
        QTimer killer;
        killer.setSingleShot(true);
        killer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&killer, &QTimer::timeout, &loop, [&] {
            if (process.state() != QProcess::NotRunning) {
                run.killed = true;
                process.kill();
            }
        });
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, [&] {
            run.output += u"\n(still running after the limit; killed)"_s;
            process.kill();
            loop.quit();
        });
        QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                loop.quit();
        });

        QElapsedTimer clock;
        clock.start();
        QString program = QStringLiteral(CORVANTA_BINARY);
        QStringList arguments { u"update"_s, u"foo"_s, u"--yes"_s, u"--sandbox"_s, applications(),
            u"--mock"_s, m_server.url().toString() };
        if (!killAt.isEmpty()) {
            arguments
                = QStringList { u"-f"_s, u"-qq"_s, u"-o"_s, u"/dev/null"_s, u"-e"_s, u"trace=renameat2"_s,
                      u"-e"_s, u"inject=renameat2:signal=SIGKILL"_s, u"-P"_s, killAt, program }
                + arguments;
            program = u"strace"_s;
        }
        process.start(program, arguments);
        if (killAfter)
            killer.start(*killAfter);
        limit.start(runLimit);
        // The loopback server answers from this loop while the child runs.
        loop.exec();
        process.waitForFinished();
        run.milliseconds = clock.elapsed();
        run.output += QString::fromUtf8(process.readAll());
        // strace dies of the signal that killed the child.
        run.killed = run.killed || (!killAt.isEmpty() && process.exitStatus() == QProcess::CrashExit);
        if (!run.killed && process.exitStatus() == QProcess::NormalExit)
            run.exitCode = process.exitCode();
        return run;
    }

    // Staging folders beside the app, and the names that are neither those nor the app.
    std::pair<std::set<QString>, QStringList> besideTheApp() const
    {
        std::set<QString> staging;
        QStringList strangers;
        for (const QString& name : entries(applications())) {
            if (isStagingName(name))
                staging.insert(name);
            else if (name != appName)
                strangers << name;
        }
        return { staging, strangers };
    }

    const test::Snapshot& oldTree() const { return m_old; }
    const test::Snapshot& newTree() const { return m_new; }

private:
    QTemporaryDir m_root;
    test::TestServer m_server;
    test::EdKey m_key;
    QString m_pristine;
    test::Snapshot m_old;
    test::Snapshot m_new;
    QByteArray m_zipBytes;
    int m_files = 0;
};

struct Tally {
    int rounds = 0;
    int endedOld = 0;
    int endedNew = 0;
    int finished = 0; // the child ended before its kill
    int stagingLeft = 0; // rounds that left a staging folder of their own
    int oldCopyInStaging = 0; // new version in place, its old copy still in the staging folder
};

// The checks after each run, and what they found.
class Examiner {
public:
    explicit Examiner(Stress& stress)
        : m_stress(stress)
    {
    }

    void violation(const QString& what)
    {
        ++m_violations;
        std::fprintf(stderr, "VIOLATION %s\n", qPrintable(what));
        std::fflush(stderr);
    }

    // What a killed run left, `before` being the staging folders there when it started.
    void examine(
        Tally& tally, const QString& where, int round, const std::set<QString>& before, const Run& run)
    {
        ++tally.rounds;
        if (!run.killed) {
            ++tally.finished;
            if (run.exitCode != 0)
                violation(where + u": the install ended on its own with status %1:\n"_s.arg(run.exitCode)
                    + firstLines(run.output));
        }

        const auto [staging, strangers] = m_stress.besideTheApp();
        if (!strangers.isEmpty())
            violation(where + u": beside the app: "_s + strangers.join(u", "_s));

        const test::Snapshot now = test::snapshot(m_stress.installed());
        const bool isOld = sameTree(m_stress.oldTree(), now);
        const bool isNew = !isOld && sameTree(m_stress.newTree(), now);
        if (isOld)
            ++tally.endedOld;
        else if (isNew)
            ++tally.endedNew;
        else
            violation(where + u": Foo.app is neither version; against 2.0:\n"_s
                + firstLines(test::difference(m_stress.newTree(), now)) + u"\n  against 1.0:\n"_s
                + firstLines(test::difference(m_stress.oldTree(), now)));

        // A staging folder of this round's means its sweep ran, and so does a
        // new version in place: nothing an earlier round left may remain then.
        bool ownStaging = false;
        for (const QString& name : staging) {
            if (!before.contains(name)) {
                ownStaging = true;
                m_leftBy.emplace(name, round);
            }
        }
        tally.stagingLeft += ownStaging ? 1 : 0;
        for (const QString& name : before) {
            if (!staging.contains(name)) {
                ++m_swept;
                m_leftBy.erase(name);
            } else if (ownStaging || isNew) {
                violation(where + u": "_s + name + u", left by round "_s + QString::number(m_leftBy[name])
                    + u", survived this round's sweep"_s);
            }
        }

        // The old copy goes to the trash whole, or is still whole where the
        // exchange put it; it is never partly anywhere.
        const QString trashed = m_stress.trash() + u'/' + appName;
        if (isNew) {
            bool inStaging = false;
            for (const QString& name : staging) {
                if (!before.contains(name)) {
                    const QString kept = m_stress.applications() + u'/' + name + u'/' + appName;
                    inStaging = inStaging || sameTree(m_stress.oldTree(), test::snapshot(kept));
                }
            }
            const bool inTrash
                = QFileInfo::exists(trashed) && sameTree(m_stress.oldTree(), test::snapshot(trashed));
            if (inStaging && !inTrash)
                ++tally.oldCopyInStaging;
            else if (!inTrash)
                violation(where
                    + u": the new version is in place, but the old copy is neither in the trash "
                      u"nor whole in a staging folder"_s);
        } else if (!entries(m_stress.trash()).isEmpty()) {
            violation(where + u": the old version is in place, yet the trash holds "_s
                + entries(m_stress.trash()).join(u", "_s));
        }
    }

    // One undisturbed install on what the rounds left: it sweeps every
    // staging folder and leaves nothing behind.
    void examineLast(const Run& run)
    {
        const QString where = u"the undisturbed install at the end"_s;
        if (run.exitCode != 0)
            violation(where + u" failed with status %1:\n"_s.arg(run.exitCode) + firstLines(run.output));
        const test::Snapshot now = test::snapshot(m_stress.installed());
        if (!sameTree(m_stress.newTree(), now))
            violation(where + u" didn't put 2.0 in place:\n"_s
                + firstLines(test::difference(m_stress.newTree(), now)));
        const auto [staging, strangers] = m_stress.besideTheApp();
        m_swept += int(std::count_if(m_leftBy.begin(), m_leftBy.end(),
            [&](const auto& left) { return !staging.contains(left.first); }));
        if (!staging.empty() || !strangers.isEmpty()) {
            QStringList left(staging.begin(), staging.end());
            violation(where + u" left beside the app: "_s + (left + strangers).join(u", "_s));
        }
        if (const QStringList work = entries(m_stress.temp()); !work.isEmpty())
            violation(where + u" left in its TMPDIR: "_s + work.join(u", "_s));
        const QString trashed = m_stress.trash() + u'/' + appName;
        if (!QFileInfo::exists(trashed) || !sameTree(m_stress.oldTree(), test::snapshot(trashed)))
            violation(where + u" didn't leave the old copy whole in the trash folder"_s);
    }

    int violations() const { return m_violations; }
    int swept() const { return m_swept; } // staging folders a later install removed

private:
    Stress& m_stress;
    std::map<QString, int> m_leftBy; // staging folder → the round that left it
    int m_violations = 0;
    int m_swept = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const std::optional<Options> parsed = parse(QCoreApplication::arguments());
    if (!parsed) {
        std::fprintf(stderr, "usage: bench_stress_swap [--rounds N] [--seed S]\n");
        return 2;
    }
    const Options options = *parsed;
    std::mt19937_64 random(options.seed);
    Stress stress;
    Examiner examiner(stress);

    // The length of an undisturbed install, over which the kills are spread.
    std::vector<qint64> durations;
    for (int i = 0; i < 3; ++i) {
        stress.reset();
        const Run run = stress.run(std::nullopt);
        if (run.exitCode != 0 || !sameTree(stress.newTree(), test::snapshot(stress.installed()))) {
            std::fprintf(stderr, "an undisturbed install failed:\n%s\n", qPrintable(run.output));
            return 2;
        }
        durations.push_back(run.milliseconds);
    }
    std::sort(durations.begin(), durations.end());
    const qint64 span = durations[1];
    std::printf("stress_swap: %d entries in the app, %.1f MB zip; undisturbed install %lld ms (median of 3); "
                "seed %llu\n",
        stress.files(), double(stress.zipSize()) / 1e6, static_cast<long long>(span),
        static_cast<unsigned long long>(options.seed));
    std::fflush(stdout);
    std::uniform_int_distribution<qint64> delays(0, span);

    Tally tally;
    int workFolders = 0; // left in TMPDIR by killed runs; nothing removes them
    for (int round = 1; round <= options.rounds; ++round) {
        stress.reset();
        workFolders += stress.clearTemp();
        const std::set<QString> before = stress.besideTheApp().first;
        const qint64 delay = delays(random);
        const Run run = stress.run(std::chrono::milliseconds(delay));
        examiner.examine(tally,
            u"round %1 (kill after %2 ms, seed %3)"_s.arg(round).arg(delay).arg(options.seed), round, before,
            run);
        if (round % 50 == 0) {
            std::printf("  … %d rounds: %d old, %d new, %d violations\n", round, tally.endedOld,
                tally.endedNew, examiner.violations());
            std::fflush(stdout);
        }
    }

    // The exchange and the move to the trash are microseconds apart, out of a
    // timer's reach: strace kills the child as it enters each rename.
    Tally targeted;
    QStringList targetedOutcomes;
    if (!QStandardPaths::findExecutable(u"strace"_s).isEmpty()) {
        const std::pair<QString, QString> moments[] = {
            { u"the exchange"_s, stress.installed() },
            { u"the move to the trash"_s, stress.trash() + u'/' + appName },
        };
        int round = options.rounds;
        for (const auto& [moment, path] : moments) {
            stress.reset();
            workFolders += stress.clearTemp();
            const std::set<QString> before = stress.besideTheApp().first;
            const Tally was = targeted;
            const Run run = stress.run(std::nullopt, path);
            examiner.examine(targeted, u"killed entering "_s + moment, ++round, before, run);
            const char* outcome = targeted.endedNew > was.endedNew ? "new" : "old";
            const bool kept = targeted.oldCopyInStaging > was.oldCopyInStaging;
            targetedOutcomes << u"at %1: %2%3"_s.arg(moment, QLatin1StringView(outcome),
                kept ? u" (the old copy left in its staging folder)"_s : QString());
        }
    }

    stress.reset();
    workFolders += stress.clearTemp();
    examiner.examineLast(stress.run(std::nullopt));

    std::printf("stress_swap: %d rounds: %d ended old, %d ended new (%d ran to the end), %d left staging "
                "mid-way, %d old copies left in staging; %d staging folders swept later; %d work folders "
                "left in TMPDIR; %d violations\n",
        tally.rounds, tally.endedOld, tally.endedNew, tally.finished, tally.stagingLeft,
        tally.oldCopyInStaging, examiner.swept(), workFolders, examiner.violations());
    if (!targetedOutcomes.isEmpty())
        std::printf("stress_swap: killed by strace %s\n", qPrintable(targetedOutcomes.join(u"; "_s)));
    else
        std::printf("stress_swap: no strace, so no kills at the exchange and at the move to the trash\n");
    return examiner.violations() == 0 ? 0 : 1;
}
