// A whole update of a 200 MB Developer ID app from a loopback server, as the
// installer runs it, with its wall time split by phase: download (until the
// installer reports verifying), verification and unpacking (until it reports
// installing), and the swap. The verifying phase is then taken apart by
// timing its pieces alone on the same download: the SHA-256 of the archive,
// unpacking it, and validating the new app's code signature against the
// installed app's designated requirement. The whole update is compared with
// the download alone (as the updater downloads: checked and hashed on the
// way) plus unpacking, and with the stricter floor of the bare transfer (one
// GET into a file) plus unpacking.
//
//     bench_update [--size MB]
//
// `--size` makes an app of that many megabytes instead (bench/curves).

#include "codesign/CodeSigner.h"
#include "codesign/PortableCodeSigning.h"
#include "discovery/Scanner.h"
#include "install/Updater.h"
#include "sources/Release.h"
#include "support/Await.h"
#include "support/BundleBuilder.h"
#include "support/InstallFixtures.h"
#include "support/MachOWriter.h"
#include "support/MeanTimes.h"
#include "support/ServedFile.h"
#include "support/TestAuthority.h"
#include "support/ZipWriter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

// 150 MB of code and 50 resource files of 1 MB unless `--size` says otherwise.
std::uint64_t codeSize = 150'000'000;
int resourceFiles = 50;
constexpr qint64 resourceSize = 1'000'000;
const QString team = u"TEAMAAAAAA"_s;

// Everything made once, before the server is forked.
struct World {
    QTemporaryDir root;
    test::TestAuthority authority;
    QString pristine; // the installed version, copied into place for every run
    QString zip; // the new version
    QString sha256;

    QString applications() const { return root.filePath(u"Applications"_s); }
    QString trash() const { return root.filePath(u"Trash"_s); }
    QString installed() const { return applications() + u"/Foo.app"_s; }
};

World& world()
{
    static World made;
    return made;
}

QString makeApp(const QString& folder, const QString& version, std::uint64_t size, int resources)
{
    test::BundleBuilder builder(folder, u"Foo"_s);
    builder.bundleID(u"com.example.foo"_s)
        .version(version)
        .executable(u"Foo"_s, test::MachOWriter::executable(CpuType::ofThisBuild(), size, version.size()));
    QRandomGenerator random(7);
    QByteArray bytes(resourceSize, Qt::Uninitialized);
    for (int i = 0; i < resources; ++i) {
        random.fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
        builder.file(u"Contents/Resources/part%1.bin"_s.arg(i), bytes);
    }
    const QString path = builder.create();
    codesign::SigningOptions signing;
    signing.identity = world().authority.developerId(team);
    codesign::CodeSigner(signing).sign(path);
    return path;
}

void makeWorld()
{
    World& made = world();
    QDir(made.root.path()).mkpath(u"Applications"_s);
    QDir(made.root.path()).mkpath(u"Trash"_s);
    made.pristine = makeApp(made.root.filePath(u"pristine"_s), u"1.0"_s, 20000, 0);
    const QString fresh = makeApp(made.root.filePath(u"fresh"_s), u"2.0"_s, codeSize, resourceFiles);
    made.zip = made.root.filePath(u"Foo.zip"_s);
    {
        test::ZipWriter writer(made.zip);
        writer.tree(fresh, u"Foo.app"_s);
    }
    QDir(fresh).removeRecursively();
    made.sha256 = Updater::sha256(made.zip);
}

// The services, made once the application object exists.
test::TestServices& services()
{
    static test::TestServices made(
        std::make_unique<codesign::PortableCodeSigning>(world().authority.anchors()));
    return made;
}

QUrl& downloadURL()
{
    static QUrl url;
    return url;
}

// A fresh copy of the installed version, and an empty Trash.
InstalledApp putBack()
{
    const World& made = world();
    QDir(made.installed()).removeRecursively();
    QDir(made.trash()).removeRecursively();
    QDir().mkpath(made.trash());
    QProcess::execute(u"cp"_s, { u"-a"_s, made.pristine, made.applications() });
    const auto app = Scanner::read(QUrl::fromLocalFile(made.installed()),
        QUrl::fromLocalFile(made.applications()), *services().codeSigning);
    if (!app)
        qFatal("the installed copy can't be read");
    return *app;
}

Release release()
{
    Release result;
    result.kind = SourceKind::homebrew;
    result.version = u"2.0"_s;
    Download download;
    download.url = downloadURL();
    download.size = QFileInfo(world().zip).size();
    download.sha256 = world().sha256;
    result.download = download;
    return result;
}

void wholeUpdate(benchmark::State& state)
{
    double download = 0, verifyAndUnpack = 0, swap = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const InstalledApp app = putBack();
        const Updater updater(services().services(), world().applications(), world().trash());
        state.ResumeTiming();

        QElapsedTimer clock;
        clock.start();
        qint64 verifying = -1, installing = -1;
        const PhaseCallback phase = [&](const InstallPhase& now) {
            if (now.kind == InstallPhase::Kind::verifying && verifying < 0)
                verifying = clock.nsecsElapsed();
            if (now.kind == InstallPhase::Kind::installing && installing < 0)
                installing = clock.nsecsElapsed();
        };
        try {
            test::await(updater.install(app, release(), phase), std::chrono::minutes(10));
        } catch (const UpdateError& error) {
            state.SkipWithError(qPrintable(error.description()));
            break;
        }
        const qint64 end = clock.nsecsElapsed();
        download += double(verifying) / 1e9;
        verifyAndUnpack += double(installing - verifying) / 1e9;
        swap += double(end - installing) / 1e9;
    }
    state.counters["download_s"] = benchmark::Counter(download, benchmark::Counter::kAvgIterations);
    state.counters["verify+unpack_s"]
        = benchmark::Counter(verifyAndUnpack, benchmark::Counter::kAvgIterations);
    state.counters["swap_s"] = benchmark::Counter(swap, benchmark::Counter::kAvgIterations);
    state.SetBytesProcessed(state.iterations() * QFileInfo(world().zip).size());
}

// The bytes by themselves: one GET streamed into a file with the same read
// buffer, nothing checked and nothing hashed. The floor of the download phase.
void transferAlone(benchmark::State& state)
{
    QNetworkAccessManager session;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir work(world().root.filePath(u"work-XXXXXX"_s));
        QFile file(work.filePath(u"Foo.zip"_s));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            qFatal("can't create the file");
        state.ResumeTiming();
        QNetworkRequest request(downloadURL());
        request.setRawHeader("Accept-Encoding", "identity");
        QNetworkReply* reply = session.get(request);
        reply->setReadBufferSize(256 * 1024);
        QObject::connect(
            reply, &QNetworkReply::readyRead, reply, [&file, reply] { file.write(reply->readAll()); });
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        if (!reply->isFinished())
            loop.exec();
        file.write(reply->readAll());
        file.close();
        if (reply->error() != QNetworkReply::NoError)
            state.SkipWithError(qPrintable(reply->errorString()));
        delete reply;
        state.PauseTiming();
        work.remove();
        state.ResumeTiming();
    }
}

// The product's download by itself (the transfer, its checks and the
// SHA-256 taken on the way), into a fresh work folder.
void downloadAlone(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir work(world().root.filePath(u"work-XXXXXX"_s));
        state.ResumeTiming();
        const Downloaded saved = test::await(
            Updater::download(services().net.session(), downloadURL(), std::nullopt, work.path(), {}),
            std::chrono::minutes(10));
        benchmark::DoNotOptimize(saved.path);
        state.PauseTiming();
        work.remove();
        state.ResumeTiming();
    }
}

void downloadChecksum(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(Updater::sha256(world().zip));
    state.SetBytesProcessed(state.iterations() * QFileInfo(world().zip).size());
}

void unpack(benchmark::State& state)
{
    const Updater updater(services().services(), world().applications(), world().trash());
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir work(world().root.filePath(u"work-XXXXXX"_s));
        state.ResumeTiming();
        benchmark::DoNotOptimize(updater.extract(world().zip, work.path(), u"com.example.foo"_s));
        state.PauseTiming(); // removing the tree isn't part of it
        work.remove();
        state.ResumeTiming();
    }
}

void codeSignature(benchmark::State& state)
{
    const Updater updater(services().services(), world().applications(), world().trash());
    QTemporaryDir work(world().root.filePath(u"work-XXXXXX"_s));
    const QString app = updater.extract(world().zip, work.path(), u"com.example.foo"_s).app;
    const CodeSigning& signing = *services().codeSigning;
    const std::optional<QString> requirement = signing.designatedRequirement(world().pristine);
    for (auto _ : state) {
        if (!signing.checkValidity(app, ValidityFlags::installer, requirement).isValid())
            state.SkipWithError("the new version's signature doesn't validate");
    }
}

BENCHMARK(wholeUpdate)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(transferAlone)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(downloadAlone)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(downloadChecksum)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(unpack)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(codeSignature)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--size") != 0)
            continue;
        const std::uint64_t megabytes = std::max(2, std::atoi(argv[i + 1]));
        resourceFiles = int(std::min<std::uint64_t>(50, megabytes / 4));
        codeSize = megabytes * 1'000'000 - std::uint64_t(resourceFiles) * resourceSize;
        std::copy(argv + i + 2, argv + argc + 1, argv + i);
        argc -= 2;
        break;
    }
    makeWorld();
    const test::ServedFile server(world().zip, u"/Foo.zip"_s);
    downloadURL() = server.url();

    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    std::printf("update of a %.0f MB app (%.0f MB download)\n",
        double(codeSize + resourceFiles * resourceSize) / 1e6, double(QFileInfo(world().zip).size()) / 1e6);
    bench::MeanTimes summary;
    benchmark::RunSpecifiedBenchmarks(&summary);
    const double whole = summary.milliseconds["wholeUpdate"];
    const double unpacking = summary.milliseconds["unpack"];
    const double download = summary.milliseconds["downloadAlone"];
    const double transfer = summary.milliseconds["transferAlone"];
    if (whole > 0 && download > 0 && unpacking > 0) {
        std::printf(
            "whole update %.0f ms; download alone + unpack alone %.0f ms; ratio %.2f (goal <= 1.25)\n", whole,
            download + unpacking, whole / (download + unpacking));
    }
    // The stricter floor: the bytes alone, with nothing checked or hashed on the way.
    if (whole > 0 && transfer > 0 && unpacking > 0) {
        std::printf("whole update %.0f ms; transfer alone + unpack alone %.0f ms; ratio %.2f\n", whole,
            transfer + unpacking, whole / (transfer + unpacking));
    }
    benchmark::Shutdown();
    return 0;
}
