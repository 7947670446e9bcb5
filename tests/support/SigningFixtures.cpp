#include "support/SigningFixtures.h"

#include "codesign/MachO.h"
#include "demo/BundleBuilder.h"
#include "support/MachOWriter.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta::test {

QString realworld(const QString& folder, const QString& name)
{
    return QStringLiteral(CORVANTA_REALWORLD) + u'/' + folder + u'/' + name;
}

bool extractZip(const QString& archivePath, const QString& destination)
{
    struct archive* reader = archive_read_new();
    archive_read_support_format_zip_seekable(reader);
    if (archive_read_open_filename(reader, QFile::encodeName(archivePath).constData(), 1 << 16)
        != ARCHIVE_OK) {
        archive_read_free(reader);
        return false;
    }
    struct archive* writer = archive_write_disk_new();
    archive_write_disk_set_options(writer,
        ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_SECURE_NODOTDOT
            | ARCHIVE_EXTRACT_SECURE_SYMLINKS);
    bool ok = true;
    struct archive_entry* entry = nullptr;
    while (true) {
        const int status = archive_read_next_header(reader, &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status != ARCHIVE_OK) {
            ok = false;
            break;
        }
        const QString target = destination + u'/' + QString::fromUtf8(archive_entry_pathname(entry));
        const QByteArray native = QFile::encodeName(target);
        archive_entry_set_pathname(entry, native.constData());
        if (archive_write_header(writer, entry) != ARCHIVE_OK) {
            ok = false;
            break;
        }
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        while (archive_read_data_block(reader, &block, &size, &offset) == ARCHIVE_OK)
            archive_write_data_block(writer, block, size, offset);
        archive_write_finish_entry(writer);
    }
    archive_write_free(writer);
    archive_read_free(reader);
    return ok;
}

bool copyTree(const QString& from, const QString& to)
{
    const QFileInfo source(from);
    if (source.isSymLink()) {
        char buffer[4096];
        const ssize_t length = ::readlink(QFile::encodeName(from).constData(), buffer, sizeof buffer);
        return length >= 0
            && ::symlink(QByteArray(buffer, length).constData(), QFile::encodeName(to).constData()) == 0;
    }
    if (source.isDir()) {
        if (!QDir().mkpath(to))
            return false;
        const QStringList names
            = QDir(from).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& name : names) {
            if (!copyTree(from + u'/' + name, to + u'/' + name))
                return false;
        }
        return true;
    }
    return QFile::copy(from, to);
}

void flipByte(const QString& path, qint64 offset)
{
    QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOwner);
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || !file.seek(offset))
        return;
    char byte = 0;
    file.getChar(&byte);
    file.seek(offset);
    file.putChar(char(~byte));
}

SignatureLayout signatureLayout(const QString& path, int slice)
{
    SignatureLayout layout;
    const QByteArray bytes = readFile(path);
    const auto file = codesign::MachOFile::parse(codesign::ByteView(bytes));
    if (!file || qsizetype(file->slices.size()) <= slice || !file->slices[std::size_t(slice)].signature)
        return layout;
    const codesign::MachOSlice& machO = file->slices[std::size_t(slice)];
    layout.sliceOffset = qint64(machO.offset);
    layout.superBlob = layout.sliceOffset + machO.signature->dataOffset;
    const codesign::ByteView blob = *codesign::ByteView(bytes).from(std::uint64_t(layout.superBlob));
    const std::uint32_t count = blob.be32(8).value_or(0);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t type = *blob.be32(12 + i * 8);
        const qint64 at = layout.superBlob + *blob.be32(16 + i * 8);
        switch (type) {
        case 0:
            layout.codeDirectory = at;
            break;
        case 2:
            layout.requirements = at;
            break;
        case 5:
            layout.entitlements = at;
            break;
        case 0x10000:
            layout.cms = at;
            layout.cmsLength = *codesign::ByteView(bytes).be32(std::uint64_t(at) + 4);
            break;
        default:
            break;
        }
    }
    return layout;
}

QString makeSampleApp(
    const QString& folder, const QString& identifier, const QString& version, std::uint32_t seed)
{
    const auto info = [](const char* bundleID, const char* executable) -> QByteArray {
        return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                          "<key>CFBundleIdentifier</key><string>")
            + bundleID + "</string><key>CFBundleExecutable</key><string>" + executable
            + "</string></dict></plist>\n";
    };
    const QString framework = u"Contents/Frameworks/Helper.framework"_s;
    const QString loginItem = u"Contents/Library/LoginItems/Launcher.app/Contents"_s;
    return demo::BundleBuilder(folder, u"Example"_s)
        .bundleID(identifier)
        .version(version)
        .build(version)
        .file(u"Contents/PkgInfo"_s, "APPL????")
        .executable(u"Example"_s,
            MachOWriter::universal(
                { { MachOWriter::x86_64, MachOWriter::executable(MachOWriter::x86_64, 30000, seed) },
                    { MachOWriter::arm64, MachOWriter::executable(MachOWriter::arm64, 30000, seed + 1) } }))
        .file(u"Contents/MacOS/helper-tool"_s, MachOWriter::executable(MachOWriter::arm64, 5000, seed + 2))
        .file(u"Contents/Resources/icon.icns"_s, QByteArray(5000, 'i'))
        .file(u"Contents/Resources/en.lproj/Localizable.strings"_s, "\"Hello\" = \"Hello\";\n")
        .file(u"Contents/Resources/Base.lproj/Main.nib"_s, QByteArray(3000, 'n'))
        .symlink(u"Contents/Resources/AppIcon.icns"_s, u"icon.icns"_s)
        .file(framework + u"/Versions/A/Helper"_s, MachOWriter::library(MachOWriter::arm64, 8000, seed + 3))
        .file(framework + u"/Versions/A/Resources/Info.plist"_s, info("com.example.Helper", "Helper"))
        .file(framework + u"/Versions/A/Resources/strings.txt"_s, "framework resource\n")
        .symlink(framework + u"/Versions/Current"_s, u"A"_s)
        .symlink(framework + u"/Helper"_s, u"Versions/Current/Helper"_s)
        .symlink(framework + u"/Resources"_s, u"Versions/Current/Resources"_s)
        .file(loginItem + u"/Info.plist"_s, info("com.example.Launcher", "Launcher"))
        .file(loginItem + u"/MacOS/Launcher"_s, MachOWriter::executable(MachOWriter::arm64, 4000, seed + 4))
        .create();
}

} // namespace corvanta::test
