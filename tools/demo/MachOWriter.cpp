#include "demo/MachOWriter.h"

#include <QtEndian>

namespace corvanta::demo {

namespace {

constexpr std::uint32_t pageSize = 0x4000;
constexpr std::uint64_t textAddress = 0x100000000;
constexpr std::uint32_t codeOffset = 0x1000;
constexpr std::uint32_t linkEditSize = 0x100;

constexpr std::uint32_t x86_64 = 0x01000007;
constexpr std::uint32_t arm64 = 0x0100000c;

std::uint32_t subtypeOf(std::uint32_t cpuType)
{
    return cpuType == x86_64 ? 3 : 0; // CPU_SUBTYPE_X86_64_ALL, CPU_SUBTYPE_ARM64_ALL
}

std::uint64_t pageAligned(std::uint64_t size)
{
    return (size + pageSize - 1) / pageSize * pageSize;
}

class Writer {
public:
    void u32(std::uint32_t value) { append(qToLittleEndian(value)); }
    void u64(std::uint64_t value) { append(qToLittleEndian(value)); }
    void name(const char* text)
    {
        QByteArray field(text);
        field.resize(16, '\0');
        bytes += field;
    }
    QByteArray bytes;

private:
    template<typename T> void append(T value)
    {
        bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
    }
};

void segment(Writer& out, const char* name, std::uint64_t address, std::uint64_t vmSize, std::uint64_t offset,
    std::uint64_t fileSize, std::uint32_t protection, std::uint32_t sections)
{
    out.u32(0x19); // LC_SEGMENT_64
    out.u32(72 + 80 * sections);
    out.name(name);
    out.u64(address);
    out.u64(vmSize);
    out.u64(offset);
    out.u64(fileSize);
    out.u32(protection); // maximum
    out.u32(protection); // initial
    out.u32(sections);
    out.u32(0);
}

} // namespace

QByteArray machOImage(std::uint32_t cpuType, const QByteArray& marker, qint64 codeSize, MachOKind kind)
{
    QByteArray code
        = (cpuType == arm64 ? QByteArray::fromHex("c0035fd6") : QByteArray::fromHex("c3")) + marker;
    std::uint32_t state = 2166136261u;
    for (const char byte : marker)
        state = (state ^ std::uint8_t(byte)) * 16777619u;
    code.reserve(codeSize);
    while (code.size() < codeSize) {
        state = state * 1664525u + 1013904223u;
        code.append(char(state >> 24));
    }
    const std::uint64_t textSize = pageAligned(codeOffset + std::uint64_t(code.size()));
    const std::uint32_t commandsSize = 72 + (72 + 80) + 72;

    Writer out;
    out.u32(0xfeedfacf);
    out.u32(cpuType);
    out.u32(subtypeOf(cpuType));
    out.u32(std::uint32_t(kind));
    out.u32(3);
    out.u32(commandsSize);
    // No undefined symbols, dyld-linked, two-level; executables are PIE,
    // libraries re-export nothing.
    out.u32(0x1 | 0x4 | 0x80 | (kind == MachOKind::executable ? 0x200000 : 0x100000));
    out.u32(0);

    segment(out, "__PAGEZERO", 0, textAddress, 0, 0, 0, 0);
    segment(out, "__TEXT", textAddress, textSize, 0, textSize, 5, 1);
    out.name("__text");
    out.name("__TEXT");
    out.u64(textAddress + codeOffset);
    out.u64(std::uint64_t(code.size()));
    out.u32(codeOffset);
    out.u32(2); // 4-byte aligned
    out.u32(0); // relocations
    out.u32(0);
    out.u32(0x80000400); // pure instructions
    for (int i = 0; i < 3; ++i)
        out.u32(0); // reserved fields
    segment(out, "__LINKEDIT", textAddress + textSize, pageSize, textSize, linkEditSize, 1, 0);

    // The space between the load commands and the code is where a signer
    // adds LC_CODE_SIGNATURE.
    QByteArray bytes = out.bytes;
    bytes.resize(codeOffset, '\0');
    bytes += code;
    bytes.resize(qsizetype(textSize), '\0');
    bytes += QByteArray(linkEditSize, '\0');
    return bytes;
}

QByteArray machOUniversal(const std::vector<std::pair<std::uint32_t, QByteArray>>& slices)
{
    QByteArray file;
    const auto be32 = [&](std::uint32_t value) {
        const std::uint32_t big = qToBigEndian(value);
        file.append(reinterpret_cast<const char*>(&big), sizeof big);
    };
    be32(0xcafebabe);
    be32(std::uint32_t(slices.size()));
    std::uint64_t offset = pageSize;
    for (const auto& [cpuType, bytes] : slices) {
        be32(cpuType);
        be32(subtypeOf(cpuType));
        be32(std::uint32_t(offset));
        be32(std::uint32_t(bytes.size()));
        be32(14); // 2^14: slices start on 16 KiB pages
        offset = pageAligned(offset + std::uint64_t(bytes.size()));
    }
    for (const auto& [cpuType, bytes] : slices) {
        file.resize(qsizetype(pageAligned(std::uint64_t(file.size()))), '\0');
        file += bytes;
    }
    return file;
}

QByteArray machOExecutable(const std::vector<Architecture>& architectures, const QByteArray& marker)
{
    std::vector<std::pair<std::uint32_t, QByteArray>> slices;
    for (Architecture architecture : architectures) {
        const std::uint32_t cpuType = architecture == Architecture::arm64 ? arm64 : x86_64;
        slices.emplace_back(cpuType, machOImage(cpuType, marker));
    }
    return slices.size() == 1 ? slices.front().second : machOUniversal(slices);
}

} // namespace corvanta::demo
