// A 1 GiB download over loopback as the installer makes it (streamed into
// the work folder through the one HTTP session), against `curl -o` of the
// same URL in the same run, and the peak resident memory of this process.
// The server runs in a child process so its buffers don't count as ours.

#include "install/Updater.h"
#include "sources/Net.h"
#include "support/Await.h"
#include "support/ServedFile.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <string>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

constexpr qint64 fileSize = 1LL << 30;

QTemporaryDir& folder()
{
    static QTemporaryDir dir;
    return dir;
}

QUrl& url()
{
    static QUrl address;
    return address;
}

void makeFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("can't write %s", qPrintable(path));
    QByteArray block(1 << 20, Qt::Uninitialized);
    QRandomGenerator random(2);
    for (qint64 written = 0; written < fileSize; written += block.size()) {
        random.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
        file.write(block);
    }
}

qint64 peakResidentKiB()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

void installerDownload(benchmark::State& state)
{
    Net net;
    for (auto _ : state) {
        QTemporaryDir work(folder().filePath(u"work-XXXXXX"_s));
        const Downloaded saved
            = test::await(Updater::download(net.session(), url(), fileSize, work.path(), [](double) {}),
                std::chrono::minutes(10));
        if (QFileInfo(saved.path).size() != fileSize)
            state.SkipWithError("the download is incomplete");
    }
    state.SetBytesProcessed(state.iterations() * fileSize);
}

void curlDownload(benchmark::State& state)
{
    for (auto _ : state) {
        QTemporaryDir work(folder().filePath(u"curl-XXXXXX"_s));
        const QString target = work.filePath(u"App.zip"_s);
        QProcess curl;
        curl.start(u"curl"_s, { u"-s"_s, u"-o"_s, target, url().toString() });
        if (!curl.waitForFinished(600'000) || curl.exitCode() != 0 || QFileInfo(target).size() != fileSize)
            state.SkipWithError("curl failed");
    }
    state.SetBytesProcessed(state.iterations() * fileSize);
}

BENCHMARK(installerDownload)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(curlDownload)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

class Summary : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const std::string name = run.benchmark_name();
            bytesPerSecond[name.substr(0, name.find('/'))] = run.counters.at("bytes_per_second");
        }
    }
    std::map<std::string, double> bytesPerSecond;
};

} // namespace

int main(int argc, char** argv)
{
    const QString file = folder().filePath(u"App.zip"_s);
    makeFile(file);
    const test::ServedFile server(file, u"/App.zip"_s);
    url() = server.url();

    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    const qint64 before = peakResidentKiB();
    Summary summary;
    benchmark::RunSpecifiedBenchmarks(&summary);
    const double ours = summary.bytesPerSecond["installerDownload"];
    const double curl = summary.bytesPerSecond["curlDownload"];
    std::printf("download of 1 GiB over loopback: %.0f MB/s; curl -o: %.0f MB/s\n", ours / 1e6, curl / 1e6);
    if (ours > 0 && curl > 0)
        std::printf("ratio to curl: %.2f (goal: 0.8 or more)\n", ours / curl);
    std::printf("peak resident memory: %.1f MiB (%.1f MiB before the downloads; goal: under 64 MiB)\n",
        double(peakResidentKiB()) / 1024, double(before) / 1024);
    benchmark::Shutdown();
    return 0;
}
