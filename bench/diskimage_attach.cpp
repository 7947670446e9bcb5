// Attaching disk images: our reader plus 7-Zip on the volume, against 7-Zip
// extracting the same .dmg on its own (it reads UDIF too) as the baseline.
// Images: the largest real ones of ../shared/realworld/dmg and a 200 MB
// image written by our writer around an app with a 200 MB payload.
#include "diskimage/HybridVolume.h"
#include "diskimage/LinuxDiskImages.h"
#include "support/MeanTimes.h"

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

QString realImage(const char* name)
{
    return QStringLiteral(CORVANTA_REALWORLD) + u"/dmg/"_s + QString::fromLatin1(name);
}

// Written once per run; removed at exit with its temporary folder.
QString largeImage()
{
    static QTemporaryDir folder;
    static const QString image = [] {
        const QString tree = folder.filePath(u"tree"_s);
        QDir().mkpath(tree + u"/Big.app/Contents/MacOS"_s);
        QFile binary(tree + u"/Big.app/Contents/MacOS/Big"_s);
        binary.open(QIODevice::WriteOnly);
        std::mt19937_64 random(1);
        // Half incompressible, half text: what an app bundle roughly holds.
        QByteArray block(1024 * 1024, '\0');
        for (int mebibyte = 0; mebibyte < 200; ++mebibyte) {
            for (qsizetype i = 0; i + 8 <= block.size(); i += 8) {
                const auto value = mebibyte % 2 ? std::uint64_t(0x2020202065646f63ull) : random();
                std::memcpy(block.data() + i, &value, 8);
            }
            binary.write(block);
        }
        binary.close();
        const QString path = folder.filePath(u"Big.dmg"_s);
        corvanta::udif::writeDiskImage(tree, u"Big"_s, path);
        QDir(tree).removeRecursively();
        return path;
    }();
    return image;
}

void attach(benchmark::State& state, const QString& image)
{
    corvanta::LinuxDiskImages images;
    for (auto _ : state) {
        QTemporaryDir work;
        const QString mount = work.filePath(u"mount"_s);
        images.attach(image, mount, true);
        images.detach(mount);
    }
    state.counters["bytes"] = double(QFileInfo(image).size());
}

void sevenZipAlone(benchmark::State& state, const QString& image)
{
    for (auto _ : state) {
        QTemporaryDir work;
        QProcess process;
        process.start(u"7zz"_s, { u"x"_s, u"-y"_s, u"-bd"_s, u"-snld20"_s, u"-o"_s + work.path(), image });
        process.waitForFinished(-1);
        if (process.exitCode() > 1)
            state.SkipWithError("7zz failed");
    }
}

void registerPair(const char* name, const std::function<QString()>& image)
{
    benchmark::RegisterBenchmark(
        (std::string("attach/") + name).c_str(), [image](benchmark::State& state) { attach(state, image()); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark((std::string("baseline_7zz/") + name).c_str(),
        [image](benchmark::State& state) { sevenZipAlone(state, image()); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    registerPair("largest_file_raw_hfs", [] { return realImage("node-udif-raw.whole-disk-hfs.dmg"); });
    registerPair("largest_disk_bzip2_apfs",
        [] { return realImage("sparkle-SparkleTestCodeSign_apfs.bzip2-gpt-apfs.dmg"); });
    registerPair("agreement_bzip2_hfs",
        [] { return realImage("sparkle-SparkleTestCodeSignApp.bzip2-apm-hfs-sla.dmg"); });
    registerPair("written_200MB_zlib_hfs", [] { return largeImage(); });
    benchmark::Initialize(&argc, argv);
    corvanta::bench::MeanTimes summary;
    benchmark::RunSpecifiedBenchmarks(&summary);
    for (const auto& [name, ours] : summary.milliseconds) {
        if (name.rfind("attach/", 0) != 0)
            continue;
        const std::string image = name.substr(7);
        if (const auto baseline = summary.milliseconds.find("baseline_7zz/" + image);
            baseline != summary.milliseconds.end() && baseline->second > 0) {
            std::printf("attach %s: %.0f ms, 7-Zip alone %.0f ms, ratio %.2f\n", image.c_str(), ours,
                baseline->second, ours / baseline->second);
        }
    }
    benchmark::Shutdown();
    return 0;
}
