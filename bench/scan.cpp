// Scanning an Applications folder of 500 bundles: mixed XML and binary
// Info.plists, receipts, Electron configurations and real Mach-O executables.
// The baseline is the bare file reads a scan can't avoid (listing, each
// Info.plist, and the head of each executable), done in the same run. A warm
// scan is one the program repeats (every refresh rescans); the first scan of
// a process is timed on its own, since it also decodes every signer's
// certificate once.

#include "codesign/PortableCodeSigning.h"
#include "codesign/PropertyList.h"
#include "discovery/Scanner.h"

#include <cstdio>
#include <map>
#include <string>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

constexpr int bundleCount = 500;

const QStringList executables {
    u"sparkle-DevSignedApp-SignedApp"_s,
    u"santa-universal-appledev-team-EQHXZ8M8AV"_s,
    u"sparkle2-Updater-universal-adhoc"_s,
    u"santa-x86_64-unsigned"_s,
};

// The shared real-world files sit beside the repository, which holds the
// build folder this program runs from.
QString realworld()
{
#ifdef CORVANTA_REALWORLD
    return QStringLiteral(CORVANTA_REALWORLD);
#else
    for (QDir dir(QCoreApplication::applicationDirPath()); !dir.isRoot(); dir.cdUp()) {
        if (QFileInfo::exists(dir.filePath(u"shared/realworld/macho"_s)))
            return dir.filePath(u"shared/realworld"_s);
    }
    qFatal("can't find the shared real-world files above %s",
        qPrintable(QCoreApplication::applicationDirPath()));
#endif
}

void write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("can't write %s", qPrintable(path));
}

QByteArray read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("can't read %s", qPrintable(path));
    return file.readAll();
}

// One tenth of the bundles sit in subfolders, as Utilities does.
QString makeWorld(const QString& root)
{
    const QString apps = root + u"/Applications"_s;
    std::vector<QByteArray> machO;
    for (const QString& name : executables)
        machO.push_back(read(realworld() + u"/macho/"_s + name));
    for (int i = 0; i < bundleCount; ++i) {
        const QString folder = i % 10 == 0 ? apps + u"/Folder %1"_s.arg(i % 7) : apps;
        const QString bundle = folder + u"/App %1.app/Contents/"_s.arg(i);
        const QString executable = u"App%1"_s.arg(i);
        QVariantMap info {
            { u"CFBundleIdentifier"_s, u"com.example.app%1"_s.arg(i) },
            { u"CFBundleName"_s, u"App %1"_s.arg(i) },
            { u"CFBundleExecutable"_s, executable },
            { u"CFBundleShortVersionString"_s, u"%1.%2.%3"_s.arg(i % 9).arg(i % 13).arg(i % 4) },
            { u"CFBundleVersion"_s, i % 3 == 0 ? QVariant(i * 10) : QVariant(QString::number(i * 10)) },
            { u"LSMinimumSystemVersion"_s, u"11.0"_s },
            { u"CFBundleDocumentTypes"_s,
                QVariantList {
                    QVariantMap { { u"CFBundleTypeExtensions"_s, QVariantList { u"txt"_s, u"md"_s } },
                        { u"CFBundleTypeRole"_s, u"Editor"_s } } } },
        };
        if (i % 2 == 0) {
            info.insert(u"SUFeedURL"_s, u"https://updates.example.com/app%1/appcast.xml"_s.arg(i));
            info.insert(u"SUPublicEDKey"_s, u"rhHib+w769W2/6/t+oM1ZxgjBB93BfBKMLO0Qo1etQs="_s);
        }
        const auto format = i % 2 ? PropertyList::Format::binary : PropertyList::Format::xml;
        write(bundle + u"Info.plist"_s, PropertyList::serialize(info, format));
        write(bundle + u"MacOS/"_s + executable, machO[size_t(i) % machO.size()]);
        if (i % 5 == 0)
            write(bundle + u"_MASReceipt/receipt"_s, QByteArray(4096, 'r'));
        if (i % 7 == 0)
            write(bundle + u"Resources/app-update.yml"_s, "owner: acme\nrepo: app\nprovider: github\n");
    }
    return apps;
}

struct World {
    QTemporaryDir dir;
    QString apps;
    World() { apps = makeWorld(dir.path()); }
};

World& world()
{
    static World instance;
    return instance;
}

void scanBundles(benchmark::State& state)
{
    const QList<QUrl> folders { QUrl::fromLocalFile(world().apps) };
    const codesign::PortableCodeSigning codeSigning { codesign::TrustAnchors() };
    size_t found = 0;
    for (auto _ : state) {
        const std::vector<InstalledApp> apps = Scanner::scan(folders, codeSigning);
        found = apps.size();
        benchmark::DoNotOptimize(apps.data());
    }
    if (found != bundleCount)
        state.SkipWithError("the scan missed bundles");
}

// The I/O floor: list the folders, read each Info.plist and the first 16 KiB
// of each executable, parse nothing.
void readFilesOnly(benchmark::State& state)
{
    for (auto _ : state) {
        qint64 bytes = 0;
        const QDir root(world().apps);
        QStringList bundles;
        for (const QFileInfo& entry : root.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (entry.suffix() == u"app")
                bundles << entry.filePath();
            else
                for (const QString& child :
                    QDir(entry.filePath()).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
                    bundles << entry.filePath() + u'/' + child;
        }
        for (const QString& bundle : bundles) {
            QFile info(bundle + u"/Contents/Info.plist"_s);
            if (info.open(QIODevice::ReadOnly))
                bytes += info.readAll().size();
            const QStringList code = QDir(bundle + u"/Contents/MacOS"_s).entryList(QDir::Files);
            for (const QString& name : code) {
                QFile executable(bundle + u"/Contents/MacOS/"_s + name);
                if (executable.open(QIODevice::ReadOnly))
                    bytes += executable.read(16 * 1024).size();
            }
        }
        benchmark::DoNotOptimize(bytes);
    }
}

// The scan reads bundles on every core: its processor time, all threads
// counted, says what the work itself costs.
BENCHMARK(scanBundles)->Unit(benchmark::kMillisecond)->MinTime(2.0)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(readFilesOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Keeps each benchmark's time per iteration for the summary lines.
class Summary : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            milliseconds[run.benchmark_name()] = run.GetAdjustedRealTime();
            processorMilliseconds[run.benchmark_name()] = run.GetAdjustedCPUTime();
        }
    }
    std::map<std::string, double> milliseconds;
    std::map<std::string, double> processorMilliseconds;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    world();
    QElapsedTimer first;
    {
        const codesign::PortableCodeSigning codeSigning { codesign::TrustAnchors() };
        first.start();
        benchmark::DoNotOptimize(Scanner::scan({ QUrl::fromLocalFile(world().apps) }, codeSigning).size());
    }
    const double firstScan = double(first.nsecsElapsed()) / 1e6;
    Summary summary;
    benchmark::RunSpecifiedBenchmarks(&summary);
    const std::string scanName = "scanBundles/min_time:2.000/process_time/real_time";
    const double scan = summary.milliseconds[scanName];
    const double scanProcessor = summary.processorMilliseconds[scanName];
    const double floor = summary.milliseconds["readFilesOnly/min_time:2.000"];
    if (scan > 0 && floor > 0) {
        std::printf("scan of %d bundles, warm: %.1f ms, bare file reads %.1f ms, ratio %.2f (goal <= 1.5)\n",
            bundleCount, scan, floor, scan / floor);
        std::printf("scan of %d bundles, processor time of all its threads: %.1f ms, ratio %.2f to the bare "
                    "file reads\n",
            bundleCount, scanProcessor, scanProcessor / floor);
        std::printf("first scan of the process: %.1f ms, ratio %.2f to the bare file reads\n", firstScan,
            firstScan / floor);
    }
    benchmark::Shutdown();
    return 0;
}
