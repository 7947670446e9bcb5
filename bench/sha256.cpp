// SHA-256 of a 1 GiB download as the installer computes it (1 MiB reads
// through OpenSSL's EVP interface), against `openssl speed` hashing 1 MiB
// blocks in memory in the same run: the ratio shows what reading the file
// and our loop cost over the bare digest.

#include "install/Updater.h"

#include <cstdio>
#include <map>
#include <string>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

constexpr qint64 fileSize = 1LL << 30;

struct Download {
    QTemporaryDir dir;
    QString path = dir.filePath(u"download.zip"_s);

    Download()
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("can't write %s", qPrintable(path));
        QByteArray block(1 << 20, Qt::Uninitialized);
        QRandomGenerator random(1);
        for (qint64 written = 0; written < fileSize; written += block.size()) {
            random.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
            file.write(block);
        }
    }
};

Download& download()
{
    static Download instance;
    return instance;
}

void sha256OfFile(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(Updater::sha256(download().path));
    state.SetBytesProcessed(state.iterations() * fileSize);
}

BENCHMARK(sha256OfFile)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

// Bytes per second `openssl speed` reaches on 1 MiB blocks, by the wall clock
// as ours is measured; 0 when it can't run.
double opensslSpeed()
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(u"openssl"_s,
        { u"speed"_s, u"-elapsed"_s, u"-seconds"_s, u"3"_s, u"-bytes"_s, u"1048576"_s, u"sha256"_s });
    if (!process.waitForFinished(60'000))
        return 0;
    // The result line: "sha256   1234567.89k" (thousands of bytes per second).
    const QString text = QString::fromUtf8(process.readAll());
    const QRegularExpressionMatch match
        = QRegularExpression(u"^sha256\\s+([0-9.]+)k\\s*$"_s, QRegularExpression::MultilineOption)
              .match(text);
    return match.hasMatch() ? match.captured(1).toDouble() * 1000 : 0;
}

class Summary : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            bytesPerSecond[run.benchmark_name()] = run.counters.at("bytes_per_second");
    }
    std::map<std::string, double> bytesPerSecond;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    download();
    Summary summary;
    benchmark::RunSpecifiedBenchmarks(&summary);
    const double ours = summary.bytesPerSecond["sha256OfFile/min_time:3.000/real_time"];
    const double openssl = opensslSpeed();
    std::printf("SHA-256 of a 1 GiB file: %.0f MB/s\n", ours / 1e6);
    std::printf("openssl speed -bytes 1048576 sha256: %.0f MB/s\n", openssl / 1e6);
    if (ours > 0 && openssl > 0)
        std::printf("ratio to openssl speed: %.2f (goal: 0.9 or more)\n", ours / openssl);
    benchmark::Shutdown();
    return 0;
}
