// Loading the cask index: from the bytes of a realistic document (about
// 19 MB, 7,500 casks, generated from the shapes of real casks) to the ready
// lookups. Baseline, in the same run on the same file: Python's json.load,
// which only parses. Also measured: Qt's full JSON document model, the
// obvious alternative to simdjson's On-Demand reading, and the peak memory of
// each, counted from before the file is read, so the body itself is in it.

#include "demo/CaskIndexGenerator.h"
#include "sources/CaskCatalog.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

constexpr int caskCount = 7500;
const QString sequoiaOnArm = u"arm64_sequoia"_s;

struct Index {
    QTemporaryDir dir;
    QString path;
    QByteArray body;
    Index()
    {
        body = demo::CaskIndexGenerator().document(caskCount);
        path = dir.filePath(u"cask.json"_s);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(body) != body.size())
            qFatal("can't write the index");
        // As the index does with what it downloads or reads from its cache.
        CaskCatalog::makeRoom(body);
    }
};

Index& index()
{
    static Index instance;
    return instance;
}

// The process's own peak resident size. Not getrusage: on Linux its maximum
// carries over from the parent through fork and exec.
long peakKilobytes()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

void parseCatalog(benchmark::State& state)
{
    std::size_t casks = 0;
    for (auto _ : state) {
        std::optional<CaskCatalog> catalog = CaskCatalog::parse(index().body, sequoiaOnArm);
        casks = catalog ? catalog->casks.size() : 0;
        benchmark::DoNotOptimize(casks);
        // Tearing the catalog down is not part of making it ready.
        state.PauseTiming();
        catalog.reset();
        state.ResumeTiming();
    }
    if (casks < caskCount * 8 / 10)
        state.SkipWithError("the index lost casks");
    state.counters["casks"] = double(casks);
}

void qtDocumentOnly(benchmark::State& state)
{
    for (auto _ : state) {
        const QJsonDocument document = QJsonDocument::fromJson(index().body);
        benchmark::DoNotOptimize(document.isArray());
    }
}

BENCHMARK(parseCatalog)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(qtDocumentOnly)->Unit(benchmark::kMillisecond)->MinTime(3.0);

class Summary : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            milliseconds[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    std::map<std::string, double> milliseconds;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Runs `arguments` and returns its standard output; the wall time goes to `elapsed`.
QByteArray run(const QString& program, const QStringList& arguments, double* elapsed = nullptr)
{
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(120'000) || process.exitCode() != 0)
        qFatal("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
    if (elapsed)
        *elapsed = double(timer.nsecsElapsed()) / 1e6;
    return process.readAllStandardOutput();
}

// Child mode: the peak memory of reading the file, and then of parsing it.
int measureMemory(const QString& path, const QString& what)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    const long before = peakKilobytes();
    QByteArray body = file.readAll();
    if (what == u"corvanta") {
        CaskCatalog::makeRoom(body);
        const auto catalog = CaskCatalog::parse(body, sequoiaOnArm);
        benchmark::DoNotOptimize(catalog.has_value());
    } else {
        const QJsonDocument document = QJsonDocument::fromJson(body);
        benchmark::DoNotOptimize(document.isArray());
    }
    std::printf("%ld %ld\n", before, peakKilobytes());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() == 4 && arguments[1] == u"--memory")
        return measureMemory(arguments[2], arguments[3]);

    benchmark::Initialize(&argc, argv);
    const Index& generated = index();

    // The baseline exactly as stated, whole command, median of five runs.
    const QString python = u"python3"_s;
    std::vector<double> commandTimes;
    for (int i = 0; i < 5; ++i) {
        double elapsed = 0;
        run(python, { u"-c"_s, u"import json,sys; json.load(open(sys.argv[1]))"_s, generated.path },
            &elapsed);
        commandTimes.push_back(elapsed);
    }
    // And json.load alone, inside the interpreter, with its peak memory.
    std::vector<double> loadTimes;
    long pythonPeak = 0;
    for (int i = 0; i < 5; ++i) {
        const QByteArray out = run(python,
            { u"-c"_s,
                u"import json,sys,time\n"
                "t=time.perf_counter(); json.load(open(sys.argv[1])); d=time.perf_counter()-t\n"
                "hwm=[l.split()[1] for l in open('/proc/self/status') if l.startswith('VmHWM:')][0]\n"
                "print(d*1000, hwm)"_s,
                generated.path });
        const QList<QByteArray> fields = out.trimmed().split(' ');
        loadTimes.push_back(fields.value(0).toDouble());
        pythonPeak = fields.value(1).toLong();
    }

    Summary summary;
    benchmark::RunSpecifiedBenchmarks(&summary);

    const QString self = application.applicationFilePath();
    const QList<QByteArray> ours
        = run(self, { u"--memory"_s, generated.path, u"corvanta"_s }).trimmed().split(' ');
    const QList<QByteArray> qt = run(self, { u"--memory"_s, generated.path, u"qt"_s }).trimmed().split(' ');

    const double parse = summary.milliseconds["parseCatalog/min_time:3.000"];
    const double qtParse = summary.milliseconds["qtDocumentOnly/min_time:3.000"];
    const double command = median(commandTimes);
    const double load = median(loadTimes);
    std::printf("cask index: %.1f MB, %d casks\n", double(generated.body.size()) / 1e6, caskCount);
    std::printf("bytes to ready indices (ours): %.1f ms\n", parse);
    std::printf("python3 json.load, whole command: %.1f ms\n", command);
    std::printf("python3 json.load alone: %.1f ms\n", load);
    std::printf("ratio ours / python3 command: %.3f\n", parse / command);
    std::printf("ratio ours / python3 json.load alone: %.3f (goal <= 0.10)\n", parse / load);
    std::printf("Qt QJsonDocument parse only: %.1f ms (ratio to ours %.2f)\n", qtParse, qtParse / parse);
    const double megabytes = double(generated.body.size()) / (1024 * 1024);
    const auto peak = [&](const QList<QByteArray>& figures) {
        return (figures.value(1).toDouble() - figures.value(0).toDouble()) / 1024;
    };
    std::printf("peak memory from before the read, ours: %.1f MB (%.2f x the file; goal <= 1.5)\n",
        peak(ours), peak(ours) / megabytes);
    std::printf("peak memory from before the read, Qt document: %.1f MB (%.2f x the file)\n", peak(qt),
        peak(qt) / megabytes);
    std::printf("peak memory, python3 json.load: %.1f MB\n", double(pythonPeak) / 1024);
    benchmark::Shutdown();
    return 0;
}
