// Validating a signed bundle whose main executable is 200 MB, with the
// installer's flags (all architectures, nested code, strict), against the
// baseline of SHA-256 over the same executable with OpenSSL in the same run.
// Goal: validation within 1.3 times the baseline. The page hashes are most of
// the work, so the ratio shows what the 4 KiB pages, the special slots, the
// resource seal and the CMS signature cost on top of one pass of SHA-256.

#include "codesign/CodeSigner.h"
#include "codesign/OpenSsl.h"
#include "codesign/PortableCodeSigning.h"

#include <cstdio>
#include <map>
#include <string>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace corvanta;
using namespace corvanta::codesign;
using namespace Qt::StringLiterals;

namespace {

constexpr std::uint64_t codeSize = 200ull * 1024 * 1024;

void le32(QByteArray& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.append(char(value >> (8 * i)));
}

void le64(QByteArray& out, std::uint64_t value)
{
    le32(out, std::uint32_t(value));
    le32(out, std::uint32_t(value >> 32));
}

void name16(QByteArray& out, const char* name)
{
    QByteArray field(name);
    field.resize(16, '\0');
    out.append(field);
}

void segment(QByteArray& out, const char* name, std::uint64_t vmAddress, std::uint64_t vmSize,
    std::uint64_t offset, std::uint64_t size, std::uint32_t sections)
{
    le32(out, 0x19);
    le32(out, 72 + 80 * sections);
    name16(out, name);
    le64(out, vmAddress);
    le64(out, vmSize);
    le64(out, offset);
    le64(out, size);
    le32(out, 5);
    le32(out, 5);
    le32(out, sections);
    le32(out, 0);
}

// An arm64 executable whose __text section holds `codeSize` bytes.
QByteArray bigExecutable()
{
    const std::uint64_t textStart = 0x4000;
    const std::uint64_t textEnd = textStart + codeSize;
    QByteArray commands;
    segment(commands, "__PAGEZERO", 0, 0x100000000, 0, 0, 0);
    segment(commands, "__TEXT", 0x100000000, textEnd, 0, textEnd, 1);
    name16(commands, "__text");
    name16(commands, "__TEXT");
    le64(commands, 0x100000000 + textStart);
    le64(commands, codeSize);
    le32(commands, std::uint32_t(textStart));
    for (int i = 0; i < 7; ++i)
        le32(commands, 0);
    segment(commands, "__LINKEDIT", 0x100000000 + textEnd, 0x4000, textEnd, 64, 0);
    QByteArray out;
    le32(out, 0xfeedfacf);
    le32(out, 0x0100000C);
    le32(out, 0);
    le32(out, 2);
    le32(out, 3);
    le32(out, std::uint32_t(commands.size()));
    le32(out, 0x200085);
    le32(out, 0);
    out.append(commands);
    out.resize(qsizetype(textStart), '\0');
    out.reserve(qsizetype(textEnd + 64));
    std::uint32_t state = 12345;
    for (std::uint64_t i = 0; i < codeSize; i += 4) {
        state = state * 1664525u + 1013904223u;
        out.append(reinterpret_cast<const char*>(&state), 4);
    }
    out.append(QByteArray(64, 'L'));
    return out;
}

// A self-made root and leaf, like a developer's authority.
SigningIdentity identity(TrustAnchors& anchors)
{
    KeyPtr key(EVP_EC_gen("P-256"));
    X509Ptr certificate(X509_new());
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 3600 * 24);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(
        name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Bench"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(
        name, "OU", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("BENCHTEAM1"), -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    X509_set_pubkey(certificate.get(), key.get());
    X509_sign(certificate.get(), key.get(), EVP_sha256());
    anchors.add(derOf(certificate.get()));
    SigningIdentity out;
    out.key = std::shared_ptr<EVP_PKEY>(key.release(), EVP_PKEY_free);
    out.leaf = shareCertificate(certificate.get());
    return out;
}

struct Fixture {
    QTemporaryDir dir;
    QString app;
    QString executable;
    TrustAnchors anchors;

    Fixture()
    {
        app = dir.filePath(u"Big.app"_s);
        executable = app + u"/Contents/MacOS/Big"_s;
        QDir().mkpath(app + u"/Contents/MacOS"_s);
        QDir().mkpath(app + u"/Contents/Resources"_s);
        QFile info(app + u"/Contents/Info.plist"_s);
        info.open(QIODevice::WriteOnly);
        info.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                   "<key>CFBundleIdentifier</key><string>com.example.big</string>"
                   "<key>CFBundleExecutable</key><string>Big</string></dict></plist>\n");
        info.close();
        for (int i = 0; i < 50; ++i) {
            QFile resource(app + u"/Contents/Resources/resource%1.dat"_s.arg(i));
            resource.open(QIODevice::WriteOnly);
            resource.write(QByteArray(20000, char('a' + i % 26)));
        }
        QFile file(executable);
        if (!file.open(QIODevice::WriteOnly) || file.write(bigExecutable()) <= 0)
            qFatal("can't write the executable");
        file.close();
        SigningOptions options;
        options.identity = identity(anchors);
        options.appleRoot = false;
        CodeSigner(options).sign(app);
    }
};

Fixture& fixture()
{
    static Fixture instance;
    return instance;
}

void sha256OfExecutable(benchmark::State& state)
{
    QFile file(fixture().executable);
    file.open(QIODevice::ReadOnly);
    for (auto _ : state) {
        const uchar* data = file.map(0, file.size());
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_Digest(data, std::size_t(file.size()), digest, &length, EVP_sha256(), nullptr);
        file.unmap(const_cast<uchar*>(data));
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * file.size());
}

void validateBundle(benchmark::State& state)
{
    const PortableCodeSigning signing { fixture().anchors };
    for (auto _ : state) {
        const ValidityResult result = signing.checkValidity(fixture().app, ValidityFlags::installer);
        if (!result.isValid())
            state.SkipWithError("the bundle doesn't validate");
        benchmark::DoNotOptimize(result.status);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * QFile(fixture().executable).size());
}

BENCHMARK(sha256OfExecutable)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(validateBundle)->Unit(benchmark::kMillisecond)->MinTime(3.0);

class Summary : public benchmark::ConsoleReporter {
public:
    Summary()
        : ConsoleReporter(OO_Tabular)
    {
    }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            milliseconds[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
    std::map<std::string, double> milliseconds;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    fixture();
    Summary summary;
    benchmark::RunSpecifiedBenchmarks(&summary);
    const double baseline = summary.milliseconds["sha256OfExecutable"];
    const double validation = summary.milliseconds["validateBundle"];
    if (baseline > 0 && validation > 0) {
        std::printf(
            "codesign_verify: validation of a 200 MB bundle %.1f ms, SHA-256 of the executable %.1f ms, "
            "ratio %.2f (goal 1.30)\n",
            validation, baseline, validation / baseline);
    }
    benchmark::Shutdown();
    return 0;
}
