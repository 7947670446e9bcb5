#include "codesign/MachO.h"

#include <algorithm>
#include <cstring>

using namespace Qt::StringLiterals;

namespace corvanta::codesign {

namespace {

// A universal header with more members than this is something else (Java class
// files share the magic number) or hostile.
constexpr std::uint32_t maxSlices = 32;

std::optional<std::uint64_t> widen(std::optional<std::uint32_t> value)
{
    if (!value)
        return std::nullopt;
    return *value;
}

std::string fixedName(ByteView bytes, std::uint64_t offset)
{
    const auto field = bytes.sub(offset, 16);
    if (!field)
        return {};
    const char* text = reinterpret_cast<const char*>(field->data());
    return std::string(text, strnlen(text, 16));
}

bool readSegment(ByteView slice, std::uint32_t at, std::uint32_t commandSize, bool is64,
    std::uint64_t sliceSize, MachOSlice& out)
{
    MachOSegment segment;
    segment.name = fixedName(slice, at + 8);
    segment.commandOffset = at;
    std::uint32_t sectionCount = 0;
    std::uint64_t sectionsAt = 0;
    std::uint64_t sectionSize = 0;
    if (is64) {
        const auto vmSize = slice.le64(at + 32);
        const auto fileOffset = slice.le64(at + 40);
        const auto fileSize = slice.le64(at + 48);
        const auto sections = slice.le32(at + 64);
        if (!vmSize || !fileOffset || !fileSize || !sections)
            return false;
        segment.vmSize = *vmSize;
        segment.fileOffset = *fileOffset;
        segment.fileSize = *fileSize;
        sectionCount = *sections;
        sectionsAt = at + 72;
        sectionSize = 80;
    } else {
        const auto vmSize = slice.le32(at + 28);
        const auto fileOffset = slice.le32(at + 32);
        const auto fileSize = slice.le32(at + 36);
        const auto sections = slice.le32(at + 48);
        if (!vmSize || !fileOffset || !fileSize || !sections)
            return false;
        segment.vmSize = *vmSize;
        segment.fileOffset = *fileOffset;
        segment.fileSize = *fileSize;
        sectionCount = *sections;
        sectionsAt = at + 56;
        sectionSize = 68;
    }
    // Section headers belong to their command; any past its end are not read.
    const std::uint64_t commandEnd = std::uint64_t(at) + commandSize;
    sectionCount = std::uint32_t(std::min<std::uint64_t>(
        { sectionCount, 256, commandEnd > sectionsAt ? (commandEnd - sectionsAt) / sectionSize : 0 }));
    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        const std::uint64_t section = sectionsAt + i * sectionSize;
        const std::optional<std::uint64_t> size
            = is64 ? slice.le64(section + 40) : widen(slice.le32(section + 36));
        const auto offset = slice.le32(section + (is64 ? 48 : 40));
        // Zero-fill sections have no bytes in the file (offset 0).
        if (size && offset && *size > 0 && *offset > 0
            && (out.firstSectionOffset == 0 || *offset < out.firstSectionOffset))
            out.firstSectionOffset = *offset;
    }
    if (segment.name == "__TEXT") {
        for (std::uint32_t i = 0; i < sectionCount; ++i) {
            const std::uint64_t section = sectionsAt + i * sectionSize;
            if (fixedName(slice, section) != "__info_plist")
                continue;
            const std::optional<std::uint64_t> size
                = is64 ? slice.le64(section + 40) : widen(slice.le32(section + 36));
            const auto offset = slice.le32(section + (is64 ? 48 : 40));
            if (size && offset && *offset <= sliceSize && *size <= sliceSize - *offset)
                out.infoPlist = std::make_pair(std::uint64_t(*offset), std::uint64_t(*size));
        }
    }
    out.segments.push_back(std::move(segment));
    return true;
}

} // namespace

const MachOSegment* MachOSlice::segment(std::string_view name) const
{
    for (const MachOSegment& segment : segments) {
        if (segment.name == name)
            return &segment;
    }
    return nullptr;
}

std::optional<MachOSlice> MachOFile::parseSlice(ByteView file, std::uint64_t offset, std::uint64_t size)
{
    const auto bytes = file.sub(offset, size);
    if (!bytes)
        return std::nullopt;
    return readSlice(
        offset, size, [&](std::uint64_t at, std::uint64_t length) { return bytes->sub(at, length); });
}

std::optional<MachOSlice> MachOFile::readSlice(std::uint64_t offset, std::uint64_t size, const ReadAt& read)
{
    // The header first, for the size of the load commands that follow it.
    const auto header = read(0, std::min<std::uint64_t>(size, 32));
    const auto magic = header ? header->le32(0) : std::nullopt;
    if (!magic || (*magic != machO::magic32 && *magic != machO::magic64))
        return std::nullopt;
    MachOSlice out;
    out.is64 = *magic == machO::magic64;
    out.offset = offset;
    out.size = size;
    out.headerSize = out.is64 ? 32 : 28;
    const auto cpuType = header->le32(4);
    const auto cpuSubtype = header->le32(8);
    const auto fileType = header->le32(12);
    const auto count = header->le32(16);
    const auto commandsSize = header->le32(20);
    if (!cpuType || !cpuSubtype || !fileType || !count || !commandsSize)
        return std::nullopt;
    out.cpuType = *cpuType;
    out.cpuSubtype = *cpuSubtype;
    out.fileType = *fileType;
    out.commandCount = *count;
    out.commandsSize = *commandsSize;
    const std::uint64_t end = std::uint64_t(out.headerSize) + out.commandsSize;
    if (end > size)
        return std::nullopt;
    const auto commands = read(0, end);
    if (!commands || commands->size() != end)
        return std::nullopt;
    const ByteView slice = *commands;

    std::uint64_t at = out.headerSize;
    for (std::uint32_t i = 0; i < out.commandCount; ++i) {
        const auto command = slice.le32(at);
        const auto commandSize = slice.le32(at + 4);
        if (!command || !commandSize || *commandSize < 8 || at + *commandSize > end)
            return std::nullopt;
        switch (*command) {
        case machO::loadSegment:
        case machO::loadSegment64:
            if (!readSegment(
                    slice, std::uint32_t(at), *commandSize, *command == machO::loadSegment64, size, out))
                return std::nullopt;
            break;
        case machO::loadCodeSignature: {
            const auto dataOffset = slice.le32(at + 8);
            const auto dataSize = slice.le32(at + 12);
            if (!dataOffset || !dataSize || *commandSize < 16 || out.signature)
                return std::nullopt;
            out.signature = SignatureLocation { *dataOffset, *dataSize, std::uint32_t(at) };
            break;
        }
        default:
            break;
        }
        at += *commandSize;
    }
    return out;
}

std::optional<MachOFile> MachOFile::parse(ByteView file)
{
    return read(file.size(), [&](std::uint64_t at, std::uint64_t length) { return file.sub(at, length); });
}

std::optional<MachOFile> MachOFile::read(std::uint64_t fileSize, const ReadAt& readFile)
{
    const auto head = readFile(0, std::min<std::uint64_t>(fileSize, 8));
    const auto magic = head ? head->be32(0) : std::nullopt;
    if (!magic)
        return std::nullopt;
    MachOFile out;
    if (*magic == machO::fatMagic || *magic == machO::fatMagic64) {
        out.universal = true;
        out.universal64 = *magic == machO::fatMagic64;
        const auto count = head->be32(4);
        if (!count || *count == 0 || *count > maxSlices)
            return std::nullopt;
        const std::uint64_t entrySize = out.universal64 ? 32 : 20;
        const auto table = readFile(8, *count * entrySize);
        if (!table || table->size() != *count * entrySize)
            return std::nullopt;
        for (std::uint32_t i = 0; i < *count; ++i) {
            const std::uint64_t at = i * entrySize;
            const auto cpuType = table->be32(at);
            const std::optional<std::uint64_t> offset
                = out.universal64 ? table->be64(at + 8) : widen(table->be32(at + 8));
            const std::optional<std::uint64_t> size
                = out.universal64 ? table->be64(at + 16) : widen(table->be32(at + 12));
            const auto alignment = table->be32(at + (out.universal64 ? 24 : 16));
            if (!cpuType || !offset || !size || !alignment || *offset > fileSize
                || *size > fileSize - *offset)
                return std::nullopt;
            const std::uint64_t base = *offset;
            auto slice = readSlice(base, *size,
                [&](std::uint64_t from, std::uint64_t length) { return readFile(base + from, length); });
            // The universal header and the slice's own header must name the same processor.
            if (!slice || slice->cpuType != *cpuType)
                return std::nullopt;
            slice->alignment = *alignment;
            out.slices.push_back(std::move(*slice));
        }
        // Each slice has bytes of its own, past the header: overlapping ones
        // would have every reader go over the same bytes once per slice.
        std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
        for (const MachOSlice& slice : out.slices)
            spans.emplace_back(slice.offset, slice.size);
        std::sort(spans.begin(), spans.end());
        std::uint64_t unclaimed = 8 + *count * entrySize;
        for (const auto& [offset, size] : spans) {
            if (offset < unclaimed)
                return std::nullopt;
            unclaimed = offset + size;
        }
        return out;
    }
    auto slice = readSlice(0, fileSize, readFile);
    if (!slice)
        return std::nullopt;
    out.slices.push_back(std::move(*slice));
    return out;
}

QString architectureName(std::uint32_t cpuType)
{
    switch (cpuType) {
    case cpu::x86:
        return u"i386"_s;
    case cpu::x86_64:
        return u"x86_64"_s;
    case cpu::arm:
        return u"arm"_s;
    case cpu::arm64:
        return u"arm64"_s;
    case cpu::powerPC:
        return u"ppc"_s;
    case cpu::powerPC64:
        return u"ppc64"_s;
    default:
        return u"0x"_s + QString::number(cpuType, 16);
    }
}

} // namespace corvanta::codesign
