#include "support/MachOWriter.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace corvanta::test {

QByteArray MachOWriter::compiled(const QString& architecture)
{
    const QString clang = QStandardPaths::findExecutable(u"clang"_s);
    if (clang.isEmpty())
        return {};
    QTemporaryDir dir;
    QFile source(dir.filePath(u"main.c"_s));
    if (!source.open(QIODevice::WriteOnly))
        return {};
    source.write("int start(void) { return 42; }\n");
    source.close();
    const QString output = dir.filePath(u"tool"_s);
    const QString target = architecture == u"arm64" ? u"arm64-apple-macos11"_s : u"x86_64-apple-macos11"_s;
    QProcess process;
    process.start(clang,
        { u"-target"_s, target, u"-fuse-ld=lld"_s, u"-nostdlib"_s, u"-Wl,-e,_start"_s,
            u"-Wl,-platform_version,macos,11.0,11.0"_s, u"-Wl,-adhoc_codesign"_s, u"-o"_s, output,
            source.fileName() });
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    QFile result(output);
    if (!result.open(QIODevice::ReadOnly))
        return {};
    return result.readAll();
}

} // namespace corvanta::test
