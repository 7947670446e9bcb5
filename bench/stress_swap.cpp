// Kills a real `corvanta update` with SIGKILL at random moments of an install
// and looks at what is left. The app must be the old tree or the new one,
// never a mix; beside it only private staging folders, which the next
// install sweeps, as it sweeps the work folders left in TMPDIR; every old
// copy a swap displaced is whole in the trash folder or whole in a staging
// folder, whose sweep then moves it to the trash. Where strace is installed, two more runs
// are killed as they enter the exchange and the move to the trash, moments
// microseconds wide. A last, undisturbed install must leave no staging
// folder, no work folder and every old copy in the trash.
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

const QString uuid = u"[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"_s;

bool isStagingName(const QString& name)
{
    static const QRegularExpression pattern(u"^\\.corvanta-"_s + uuid + u'$');
    return pattern.match(name).hasMatch();
}

// A download's work folder in the temporary folder.
bool isWorkName(const QString& name)
{
    static const QRegularExpression pattern(u"^corvanta-"_s + uuid + u'$');
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

    // Work folders in the child's TMPDIR.
    std::set<QString> workFolders() const
    {
        std::set<QString> found;
        for (const QString& name : entries(temp())) {
            if (isWorkName(name))
                found.insert(name);
        }
        return found;
    }

    // Those of the staging folders `names` that hold a whole 1.0: an old copy
    // the exchange displaced and the trash hasn't got yet.
    std::set<QString> holdingOld(const std::set<QString>& names) const
    {
        std::set<QString> holding;
        for (const QString& name : names) {
            const QString app = applications() + u'/' + name + u'/' + appName;
            if (QFileInfo::exists(app) && sameTree(m_old, test::snapshot(app)))
                holding.insert(name);
        }
        return holding;
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
    int workLeft = 0; // rounds that left their work folder in TMPDIR
};

// What is beside the app and in TMPDIR as a run starts.
struct Before {
    std::set<QString> staging;
    std::set<QString> holdingOld; // staging folders with a displaced old copy
    std::set<QString> work;
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

    Before before() const
    {
        Before state;
        state.staging = m_stress.besideTheApp().first;
        state.holdingOld = m_stress.holdingOld(state.staging);
        state.work = m_stress.workFolders();
        return state;
    }

    // What a run left; returns whether 2.0 is in place.
    bool examine(Tally& tally, const QString& where, int round, const Before& before, const Run& run)
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
        const bool ownStaging = track(staging, before.staging, m_stagingLeftBy, m_swept, round);
        tally.stagingLeft += ownStaging ? 1 : 0;
        expectSwept(where, staging, before.staging, m_stagingLeftBy, ownStaging || isNew);
        // The work folders are swept just before this run makes its own.
        const std::set<QString> work = m_stress.workFolders();
        const bool ownWork = track(work, before.work, m_workLeftBy, m_workSwept, round);
        tally.workLeft += ownWork ? 1 : 0;
        expectSwept(where, work, before.work, m_workLeftBy, ownWork || ownStaging || isNew);

        // Every old copy a swap displaced is whole in the trash or whole in a
        // staging folder, where the next sweep finds it: never lost, never partial.
        const std::set<QString> holding = m_stress.holdingOld(staging);
        for (const QString& name : holding)
            tally.oldCopyInStaging += before.staging.contains(name) ? 0 : 1;
        for (const QString& name : before.holdingOld)
            m_keptBySweep += holding.contains(name) ? 0 : 1;
        const QStringList trashed = entries(m_stress.trash());
        for (const QString& name : trashed) {
            if (!sameTree(m_stress.oldTree(), test::snapshot(m_stress.trash() + u'/' + name)))
                violation(where + u": the trash holds "_s + name + u", which isn't a whole 1.0"_s);
        }
        const qsizetype displaced = qsizetype(before.holdingOld.size()) + (isNew ? 1 : 0);
        const qsizetype accounted = qsizetype(holding.size()) + trashed.size();
        if (displaced != accounted)
            violation(where
                + u": %1 old copies displaced (%2 of them waiting in staging folders before the run), "
                  u"but %3 in staging folders and %4 in the trash after it"_s.arg(displaced)
                      .arg(before.holdingOld.size())
                      .arg(holding.size())
                      .arg(trashed.size()));
        return isNew;
    }

    // The undisturbed install at the end: 2.0 in place, and nothing left.
    void examineLast(const Before& before, const Run& run)
    {
        const QString where = u"the undisturbed install at the end"_s;
        Tally last;
        const bool isNew = examine(last, where, 0, before, run);
        if (run.killed || !isNew)
            violation(where + u" didn't put 2.0 in place"_s);
        const auto [staging, strangers] = m_stress.besideTheApp();
        if (!staging.empty())
            violation(where + u" left beside the app: "_s
                + QStringList(staging.begin(), staging.end()).join(u", "_s));
        if (const std::set<QString> work = m_stress.workFolders(); !work.empty())
            violation(
                where + u" left in its TMPDIR: "_s + QStringList(work.begin(), work.end()).join(u", "_s));
    }

    int violations() const { return m_violations; }
    int swept() const { return m_swept; } // staging folders a later install removed
    int workSwept() const { return m_workSwept; } // work folders a later install removed
    int keptBySweep() const { return m_keptBySweep; } // old copies a sweep moved to the trash

private:
    // Notes the folders of this round's; returns whether there are any.
    static bool track(const std::set<QString>& now, const std::set<QString>& before,
        std::map<QString, int>& leftBy, int& swept, int round)
    {
        bool own = false;
        for (const QString& name : now) {
            if (!before.contains(name)) {
                own = true;
                leftBy.emplace(name, round);
            }
        }
        for (const QString& name : before) {
            if (!now.contains(name)) {
                ++swept;
                leftBy.erase(name);
            }
        }
        return own;
    }

    void expectSwept(const QString& where, const std::set<QString>& now, const std::set<QString>& before,
        std::map<QString, int>& leftBy, bool sweepRan)
    {
        if (!sweepRan)
            return;
        for (const QString& name : before) {
            if (now.contains(name))
                violation(where + u": "_s + name + u", left by round "_s + QString::number(leftBy[name])
                    + u", survived this round's sweep"_s);
        }
    }

    Stress& m_stress;
    std::map<QString, int> m_stagingLeftBy; // staging folder → the round that left it
    std::map<QString, int> m_workLeftBy; // work folder → the round that left it
    int m_violations = 0;
    int m_swept = 0;
    int m_workSwept = 0;
    int m_keptBySweep = 0;
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
    for (int round = 1; round <= options.rounds; ++round) {
        stress.reset();
        const Before before = examiner.before();
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
            const Before before = examiner.before();
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
    const Before before = examiner.before();
    examiner.examineLast(before, stress.run(std::nullopt));

    std::printf("stress_swap: %d rounds: %d ended old, %d ended new (%d ran to the end), %d left staging "
                "mid-way, %d old copies left in staging, %d work folders left; later installs swept %d "
                "staging and %d work folders and moved %d old copies to the trash; %d violations\n",
        tally.rounds, tally.endedOld, tally.endedNew, tally.finished, tally.stagingLeft,
        tally.oldCopyInStaging, tally.workLeft, examiner.swept(), examiner.workSwept(),
        examiner.keptBySweep(), examiner.violations());
    if (!targetedOutcomes.isEmpty())
        std::printf("stress_swap: killed by strace %s\n", qPrintable(targetedOutcomes.join(u"; "_s)));
    else
        std::printf("stress_swap: no strace, so no kills at the exchange and at the move to the trash\n");
    return examiner.violations() == 0 ? 0 : 1;
}
