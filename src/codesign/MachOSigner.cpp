#include "codesign/CodeSigner.h"
#include "codesign/MachO.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace corvanta::codesign {

namespace {

constexpr std::uint32_t signatureCommandSize = 16;

[[noreturn]] void fail(const QString& why)
{
    throw SigningError(u"The code signature couldn't be made: "_s + why + u'.');
}

void setLe32(QByteArray& bytes, std::uint64_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[qsizetype(at) + i] = char(value >> (8 * i));
}

void setLe64(QByteArray& bytes, std::uint64_t at, std::uint64_t value)
{
    setLe32(bytes, at, std::uint32_t(value));
    setLe32(bytes, at + 4, std::uint32_t(value >> 32));
}

void setBe32(QByteArray& bytes, std::uint64_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[qsizetype(at) + i] = char(value >> (8 * (3 - i)));
}

std::uint64_t alignUp(std::uint64_t value, std::uint64_t alignment)
{
    return (value + alignment - 1) & ~(alignment - 1);
}

QByteArray signSlice(QByteArray slice, const SignatureContent& content)
{
    const auto parsed = MachOFile::parseSlice(ByteView(slice), 0, std::uint64_t(slice.size()));
    if (!parsed)
        fail(u"an architecture isn't a Mach-O image"_s);
    const MachOSlice& info = *parsed;
    const MachOSegment* linkedit = info.segment("__LINKEDIT");
    if (!linkedit)
        fail(u"the Mach-O image has no __LINKEDIT segment"_s);
    if (linkedit->fileOffset + linkedit->fileSize > std::uint64_t(slice.size()))
        fail(u"the __LINKEDIT segment runs past the end of the file"_s);

    std::uint64_t codeLimit = 0;
    std::uint32_t commandOffset = 0;
    if (info.signature) {
        // Re-signing: the old signature, which ends the file, goes away.
        codeLimit = info.signature->dataOffset;
        commandOffset = info.signature->commandOffset;
    } else {
        const std::uint64_t commandsEnd = std::uint64_t(info.headerSize) + info.commandsSize;
        std::uint64_t room = info.firstSectionOffset;
        for (const MachOSegment& segment : info.segments) {
            if (segment.fileSize > 0 && segment.fileOffset > 0 && (room == 0 || segment.fileOffset < room))
                room = segment.fileOffset;
        }
        if (commandsEnd + signatureCommandSize > room)
            fail(u"there is no room for another load command"_s);
        commandOffset = std::uint32_t(commandsEnd);
        codeLimit = alignUp(linkedit->fileOffset + linkedit->fileSize, 16);
        setLe32(slice, 16, info.commandCount + 1);
        setLe32(slice, 20, info.commandsSize + signatureCommandSize);
        setLe32(slice, commandOffset, machO::loadCodeSignature);
        setLe32(slice, commandOffset + 4, signatureCommandSize);
    }
    if (codeLimit > 0xffffffffu)
        fail(u"the image is too large for a signature offset"_s);
    slice.resize(qsizetype(codeLimit), '\0');

    const std::uint64_t signatureSize = estimateSuperBlobSize(codeLimit, content);
    if (signatureSize > 0xffffffffu)
        fail(u"the signature would be too large"_s);
    setLe32(slice, commandOffset + 8, std::uint32_t(codeLimit));
    setLe32(slice, commandOffset + 12, std::uint32_t(signatureSize));
    // __LINKEDIT now ends where the signature does.
    const std::uint64_t linkeditSize = codeLimit + signatureSize - linkedit->fileOffset;
    const std::uint64_t linkeditVmSize = std::max(linkedit->vmSize, alignUp(linkeditSize, 0x4000));
    if (info.is64) {
        setLe64(slice, linkedit->commandOffset + 32, linkeditVmSize);
        setLe64(slice, linkedit->commandOffset + 48, linkeditSize);
    } else {
        setLe32(slice, linkedit->commandOffset + 28, std::uint32_t(linkeditVmSize));
        setLe32(slice, linkedit->commandOffset + 36, std::uint32_t(linkeditSize));
    }

    CodeRange range;
    range.codeLimit = codeLimit;
    if (const MachOSegment* text = info.segment("__TEXT")) {
        range.execSegmentBase = text->fileOffset;
        range.execSegmentLimit = text->fileSize;
    }
    range.mainBinary = info.fileType == machO::fileExecute;
    const QByteArray directory = buildCodeDirectory(ByteView(slice), range, content);
    const QByteArray cms = content.identity ? buildCms(directory, content) : QByteArray();
    const QByteArray superBlob = buildSuperBlob(directory, content, cms);
    if (std::uint64_t(superBlob.size()) > signatureSize)
        fail(u"the signature outgrew the space set aside for it"_s);
    slice.append(superBlob);
    slice.append(QByteArray(qsizetype(signatureSize) - superBlob.size(), '\0'));
    return slice;
}

} // namespace

QByteArray signMachO(const QByteArray& file, const SignatureContent& content)
{
    const auto parsed = MachOFile::parse(ByteView(file));
    if (!parsed)
        fail(u"the file isn't a Mach-O executable"_s);
    if (!parsed->universal)
        return signSlice(file, content);

    // Universal: sign each member, then lay them out again at their alignment.
    const std::size_t count = parsed->slices.size();
    const std::uint64_t entrySize = parsed->universal64 ? 32 : 20;
    std::vector<QByteArray> signedSlices;
    for (const MachOSlice& slice : parsed->slices)
        signedSlices.push_back(signSlice(file.mid(qsizetype(slice.offset), qsizetype(slice.size)), content));
    QByteArray out(qsizetype(8 + count * entrySize), '\0');
    setBe32(out, 0, parsed->universal64 ? machO::fatMagic64 : machO::fatMagic);
    setBe32(out, 4, std::uint32_t(count));
    for (std::size_t i = 0; i < count; ++i) {
        const MachOSlice& slice = parsed->slices[i];
        const std::uint32_t alignment = std::clamp<std::uint32_t>(slice.alignment, 2, 16);
        const std::uint64_t offset = alignUp(std::uint64_t(out.size()), std::uint64_t(1) << alignment);
        out.resize(qsizetype(offset), '\0');
        out.append(signedSlices[i]);
        const std::uint64_t at = 8 + i * entrySize;
        setBe32(out, at, slice.cpuType);
        setBe32(out, at + 4, slice.cpuSubtype);
        if (parsed->universal64) {
            setBe32(out, at + 8, std::uint32_t(offset >> 32));
            setBe32(out, at + 12, std::uint32_t(offset));
            setBe32(out, at + 16, std::uint32_t(std::uint64_t(signedSlices[i].size()) >> 32));
            setBe32(out, at + 20, std::uint32_t(signedSlices[i].size()));
            setBe32(out, at + 24, alignment);
        } else {
            if (offset + std::uint64_t(signedSlices[i].size()) > 0xffffffffu)
                fail(u"the universal file grew too large for 32-bit offsets"_s);
            setBe32(out, at + 8, std::uint32_t(offset));
            setBe32(out, at + 12, std::uint32_t(signedSlices[i].size()));
            setBe32(out, at + 16, alignment);
        }
    }
    return out;
}

} // namespace corvanta::codesign
