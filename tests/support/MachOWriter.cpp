#include "support/MachOWriter.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace corvanta::test {

namespace {

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
    std::uint64_t fileOffset, std::uint64_t fileSize, std::uint32_t protection, std::uint32_t sections)
{
    le32(out, 0x19);
    le32(out, 72 + 80 * sections);
    name16(out, name);
    le64(out, vmAddress);
    le64(out, vmSize);
    le64(out, fileOffset);
    le64(out, fileSize);
    le32(out, protection);
    le32(out, protection);
    le32(out, sections);
    le32(out, 0);
}

std::uint64_t pageAlign(std::uint64_t value)
{
    return (value + 0x3fff) & ~std::uint64_t(0x3fff);
}

QByteArray image(std::uint32_t cpuType, std::uint32_t fileType, std::uint64_t codeSize, std::uint32_t seed)
{
    const std::uint64_t textStart = 0x1000; // leaves room after the load commands
    const std::uint64_t textSize = textStart + codeSize;
    const std::uint64_t linkeditSize = 64;
    const std::uint64_t base = 0x100000000;

    QByteArray commands;
    segment(commands, "__PAGEZERO", 0, base, 0, 0, 0, 0);
    segment(commands, "__TEXT", base, pageAlign(textSize), 0, textSize, 5, 1);
    name16(commands, "__text");
    name16(commands, "__TEXT");
    le64(commands, base + textStart);
    le64(commands, codeSize);
    le32(commands, std::uint32_t(textStart));
    le32(commands, 4); // alignment
    le32(commands, 0);
    le32(commands, 0);
    le32(commands, 0x80000400); // pure instructions
    le32(commands, 0);
    le32(commands, 0);
    le32(commands, 0);
    segment(commands, "__LINKEDIT", base + pageAlign(textSize), pageAlign(linkeditSize), textSize,
        linkeditSize, 1, 0);

    QByteArray out;
    le32(out, 0xfeedfacf);
    le32(out, cpuType);
    le32(out, cpuType == MachOWriter::x86_64 ? 3 : 0);
    le32(out, fileType);
    le32(out, 3);
    le32(out, std::uint32_t(commands.size()));
    le32(out, fileType == 2 ? 0x200085 : 0x100085);
    le32(out, 0);
    out.append(commands);
    out.resize(qsizetype(textStart), '\0');
    // Code bytes that differ with the seed, so two "versions" aren't the same file.
    std::uint32_t state = seed * 2654435761u + 1;
    out.reserve(qsizetype(textSize + linkeditSize));
    for (std::uint64_t i = 0; i < codeSize; ++i) {
        state = state * 1664525u + 1013904223u;
        out.append(char(state >> 24));
    }
    for (std::uint64_t i = 0; i < linkeditSize; ++i)
        out.append(char(i));
    return out;
}

void be32(QByteArray& out, std::uint32_t value)
{
    for (int i = 3; i >= 0; --i)
        out.append(char(value >> (8 * i)));
}

} // namespace

QByteArray MachOWriter::executable(std::uint32_t cpuType, std::uint64_t codeSize, std::uint32_t seed)
{
    return image(cpuType, 2, codeSize, seed);
}

QByteArray MachOWriter::library(std::uint32_t cpuType, std::uint64_t codeSize, std::uint32_t seed)
{
    return image(cpuType, 6, codeSize, seed);
}

QByteArray MachOWriter::universal(const std::vector<std::pair<std::uint32_t, QByteArray>>& slices)
{
    constexpr std::uint32_t alignment = 14;
    QByteArray header;
    be32(header, 0xcafebabe);
    be32(header, std::uint32_t(slices.size()));
    std::uint64_t offset = 1 << alignment;
    QByteArray body;
    for (const auto& [cpuType, bytes] : slices) {
        be32(header, cpuType);
        be32(header, cpuType == x86_64 ? 3 : 0);
        be32(header, std::uint32_t(offset));
        be32(header, std::uint32_t(bytes.size()));
        be32(header, alignment);
        body.append(bytes);
        offset += std::uint64_t(bytes.size());
        const std::uint64_t aligned = (offset + (1 << alignment) - 1) & ~std::uint64_t((1 << alignment) - 1);
        body.append(QByteArray(qsizetype(aligned - offset), '\0'));
        offset = aligned;
    }
    header.resize(1 << alignment, '\0');
    return header + body;
}

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
