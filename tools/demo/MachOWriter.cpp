#include "demo/MachOWriter.h"

#include <QtEndian>

namespace corvanta::demo {

namespace {

constexpr std::uint32_t pageSize = 0x4000;
constexpr std::uint64_t textAddress = 0x100000000;
constexpr std::uint32_t codeOffset = 0x1000;
constexpr std::uint32_t linkEditSize = 0x100;

struct Cpu {
    std::uint32_t type;
    std::uint32_t subtype;
    QByteArray code; // what __text holds before the marker
};

Cpu cpuOf(Architecture architecture)
{
    if (architecture == Architecture::arm64)
        return { 0x0100000c, 0, QByteArray::fromHex("c0035fd6") }; // ret
    return { 0x01000007, 3, QByteArray::fromHex("c3") }; // ret
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

QByteArray slice(Architecture architecture, const QByteArray& marker)
{
    const Cpu cpu = cpuOf(architecture);
    const QByteArray code = cpu.code + marker;
    const std::uint32_t commandsSize = 72 + (72 + 80) + 72;

    Writer out;
    out.u32(0xfeedfacf);
    out.u32(cpu.type);
    out.u32(cpu.subtype);
    out.u32(0x2); // MH_EXECUTE
    out.u32(3);
    out.u32(commandsSize);
    out.u32(0x1 | 0x4 | 0x80 | 0x200000); // no undefined symbols, dyld-linked, two-level, PIE
    out.u32(0);

    segment(out, "__PAGEZERO", 0, textAddress, 0, 0, 0, 0);
    segment(out, "__TEXT", textAddress, pageSize, 0, pageSize, 5, 1);
    out.name("__text");
    out.name("__TEXT");
    out.u64(textAddress + codeOffset);
    out.u64(std::uint64_t(code.size()));
    out.u32(codeOffset);
    out.u32(2); // 4-byte aligned
    for (int i = 0; i < 6; ++i)
        out.u32(0); // relocations, flags and reserved fields
    segment(out, "__LINKEDIT", textAddress + pageSize, pageSize, pageSize, linkEditSize, 1, 0);

    // The space between the load commands and the code is where a signer
    // adds LC_CODE_SIGNATURE.
    QByteArray bytes = out.bytes;
    bytes.resize(codeOffset, '\0');
    bytes += code;
    bytes.resize(pageSize, '\0');
    bytes += QByteArray(linkEditSize, '\0');
    return bytes;
}

} // namespace

QByteArray machOExecutable(const std::vector<Architecture>& architectures, const QByteArray& marker)
{
    if (architectures.size() == 1)
        return slice(architectures.front(), marker);

    std::vector<QByteArray> slices;
    for (Architecture architecture : architectures)
        slices.push_back(slice(architecture, marker));
    QByteArray file;
    const auto be32 = [&](std::uint32_t value) {
        const std::uint32_t big = qToBigEndian(value);
        file.append(reinterpret_cast<const char*>(&big), sizeof big);
    };
    be32(0xcafebabe);
    be32(std::uint32_t(slices.size()));
    std::uint32_t offset = pageSize;
    for (std::size_t i = 0; i < slices.size(); ++i) {
        const Cpu cpu = cpuOf(architectures[i]);
        be32(cpu.type);
        be32(cpu.subtype);
        be32(offset);
        be32(std::uint32_t(slices[i].size()));
        be32(14); // 2^14: slices start on 16 KiB pages
        offset += (std::uint32_t(slices[i].size()) + pageSize - 1) / pageSize * pageSize;
    }
    for (const QByteArray& bytes : slices) {
        file.resize((file.size() + pageSize - 1) / pageSize * pageSize, '\0');
        file += bytes;
    }
    return file;
}

} // namespace corvanta::demo
