#include "package/PackageInstaller.h"

#include "base/Error.h"
#include "install/UpdateError.h"
#include "package/Pbzx.h"
#include "package/Xar.h"
#include "platform/Rename.h"
#include "platform/UnpackLimits.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

struct Component {
    QString prefix; // "" or "Foo.pkg/"
    const xar::Entry* payload = nullptr;
};

UpdateError refusal(const QString& text)
{
    return UpdateError(text + u" Nothing was installed."_s);
}

QString installLocation(const xar::Archive& archive, const QString& prefix)
{
    const xar::Entry* info = archive.find(prefix + u"PackageInfo"_s);
    if (!info)
        return u"/"_s;
    QXmlStreamReader xml(archive.readAll(*info, 1 << 20));
    while (!xml.atEnd() && xml.readNext() != QXmlStreamReader::StartElement) {
        if (xml.tokenType() == QXmlStreamReader::DTD)
            throw refusal(u"The installer package's PackageInfo declares a document type."_s);
    }
    if (xml.hasError() || xml.name() != u"pkg-info")
        throw refusal(u"The installer package's PackageInfo can't be read."_s);
    const QString location = xml.attributes().value(u"install-location"_s).toString();
    return location.isEmpty() ? u"/"_s : location;
}

// Where a component's install location lies on this system.
QString destination(const QString& location, const std::optional<QString>& sandbox)
{
    const QString clean = QDir::cleanPath(location);
    if (!clean.startsWith(u'/') || clean.split(u'/').contains(u".."_s))
        throw refusal(u"The installer package names the install location \u201c%1\u201d."_s.arg(location));
    if (!sandbox)
        return clean;
    if (clean == u"/Applications"_s || clean.startsWith(u"/Applications/"_s))
        return *sandbox + clean.mid(13);
    throw refusal(
        u"The installer package installs into %1, outside the applications folder this sandbox stands "
        u"for."_s.arg(clean));
}

struct ReadFree {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct WriteFree {
    void operator()(archive* a) const { archive_write_free(a); }
};

QString archiveMessage(archive* a)
{
    const char* text = archive_error_string(a);
    return text ? QString::fromUtf8(text) : u"unknown error"_s;
}

// The payload decoded from the package into `cpio`: pbzx here, gzip and
// the like by libarchive's filters later.
void writePayload(
    const xar::Archive& archive, const xar::Entry& payload, const QString& cpio, UnpackBudget& budget)
{
    QFile out(cpio);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw SystemError(u"Can't write %1: %2"_s.arg(cpio, out.errorString()), EIO);
    const auto write = [&](const char* bytes, qsizetype length) {
        budget.addBytes(length);
        if (out.write(bytes, length) != length)
            throw SystemError(u"Can't write %1: %2"_s.arg(cpio, out.errorString()), EIO);
    };
    std::optional<PbzxDecoder> pbzx;
    QByteArray head;
    archive.read(payload, [&](const char* bytes, qsizetype length) {
        if (!pbzx && head.size() < 4) {
            head.append(bytes, std::min<qsizetype>(length, 4 - head.size()));
            if (head.size() == 4 && PbzxDecoder::startsStream(head))
                pbzx.emplace(write);
        }
        if (pbzx)
            pbzx->add(bytes, length);
        else
            write(bytes, length);
    });
    if (pbzx)
        pbzx->finish();
}

// A relative path from the archive, "./" and "." dropped; none for the root itself.
std::optional<QString> relativePath(const char* raw)
{
    QString path = QString::fromUtf8(raw ? raw : "");
    while (path.startsWith(u"./"_s))
        path.remove(0, 2);
    if (path.endsWith(u'/'))
        path.chop(1);
    if (path.isEmpty() || path == u".")
        return std::nullopt;
    if (path.startsWith(u'/'))
        throw refusal(u"The installer package's payload holds the absolute path %1."_s.arg(path));
    for (const QString& part : path.split(u'/')) {
        if (part.isEmpty() || part == u"." || part == u"..")
            throw refusal(u"The installer package's payload holds the path %1."_s.arg(path));
    }
    return path;
}

void unpack(const QString& cpio, const QString& root, UnpackBudget& budget)
{
    std::unique_ptr<archive, ReadFree> reader(archive_read_new());
    archive_read_support_format_cpio(reader.get());
    archive_read_support_filter_all(reader.get());
    if (archive_read_open_filename(reader.get(), QFile::encodeName(cpio).constData(), 1 << 16) != ARCHIVE_OK)
        throw refusal(
            u"The installer package's payload can't be read (%1)."_s.arg(archiveMessage(reader.get())));
    std::unique_ptr<archive, WriteFree> writer(archive_write_disk_new());
    archive_write_disk_set_options(writer.get(),
        ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_SECURE_SYMLINKS
            | ARCHIVE_EXTRACT_SECURE_NODOTDOT);
    std::set<QString> seen;
    archive_entry* entry = nullptr;
    for (;;) {
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status != ARCHIVE_OK)
            throw refusal(
                u"The installer package's payload can't be read (%1)."_s.arg(archiveMessage(reader.get())));
        const std::optional<QString> path = relativePath(archive_entry_pathname(entry));
        if (!path)
            continue;
        const mode_t type = archive_entry_filetype(entry);
        if (archive_entry_hardlink(entry) || (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK))
            throw refusal(
                u"The installer package's payload holds %1, which is neither a file, a folder nor a "
                u"link."_s.arg(*path));
        if (!seen.insert(*path).second)
            throw refusal(u"The installer package's payload holds %1 twice."_s.arg(*path));
        budget.add(int(path->count(u'/')) + 1, archive_entry_size(entry));
        // No privileges and nothing others may write, as for every app installed.
        archive_entry_set_perm(entry, archive_entry_perm(entry) & 0755);
        archive_entry_set_pathname(entry, QFile::encodeName(root + u'/' + *path).constData());
        if (archive_write_header(writer.get(), entry) != ARCHIVE_OK)
            throw refusal(u"%1 can't be unpacked (%2)."_s.arg(*path, archiveMessage(writer.get())));
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        int read = ARCHIVE_OK;
        while ((read = archive_read_data_block(reader.get(), &block, &size, &offset)) == ARCHIVE_OK) {
            if (archive_write_data_block(writer.get(), block, size, offset) != ARCHIVE_OK)
                throw refusal(u"%1 can't be unpacked (%2)."_s.arg(*path, archiveMessage(writer.get())));
        }
        if (read != ARCHIVE_EOF)
            throw refusal(
                u"The installer package's payload can't be read (%1)."_s.arg(archiveMessage(reader.get())));
        if (archive_write_finish_entry(writer.get()) != ARCHIVE_OK)
            throw refusal(u"%1 can't be unpacked (%2)."_s.arg(*path, archiveMessage(writer.get())));
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        throw refusal(u"The payload can't be unpacked (%1)."_s.arg(archiveMessage(writer.get())));
}

// A private folder beside the destination, gone when this goes.
struct Scratch {
    QString path;
    explicit Scratch(const QString& parent)
    {
        QByteArray pattern = QFile::encodeName(parent + u"/.corvanta-pkg-XXXXXX"_s);
        if (!::mkdtemp(pattern.data()))
            throw SystemError::fromErrno(u"Can't create a folder in "_s + parent);
        path = QFile::decodeName(pattern);
    }
    ~Scratch()
    {
        // Unpacked folders may deny their owner writing; open them up first.
        namespace fs = std::filesystem;
        std::error_code error;
        const fs::path root(QFile::encodeName(path).toStdString());
        for (auto walk = fs::recursive_directory_iterator(root, error); !error && walk != fs::end(walk);
             walk.increment(error)) {
            if (walk->is_directory(error) && !walk->is_symlink(error))
                fs::permissions(walk->path(), fs::perms::owner_all, fs::perm_options::add, error);
        }
        fs::remove_all(root, error);
    }
};

} // namespace

QStringList installPackage(const QString& package, const std::optional<QString>& sandbox)
{
    const xar::Archive archive = xar::Archive::open(package);
    std::vector<Component> components;
    if (const xar::Entry* payload = archive.find(u"Payload"_s))
        components.push_back({ QString(), payload });
    for (const xar::Entry& entry : archive.entries()) {
        if (entry.kind == xar::Entry::Kind::directory && !entry.path.contains(u'/')
            && entry.path.endsWith(u".pkg"_s, Qt::CaseInsensitive)) {
            if (const xar::Entry* payload = archive.find(entry.path + u"/Payload"_s))
                components.push_back({ entry.path + u'/', payload });
        }
    }
    if (components.empty())
        throw refusal(u"The installer package holds nothing to install."_s);
    for (const Component& component : components) {
        if (archive.find(component.prefix + u"Scripts"_s))
            throw refusal(
                u"The installer package runs installation scripts, which Corvanta can't run here."_s);
    }

    UnpackBudget budget(QFileInfo(package).size());
    const std::unique_ptr<Rename> rename = Rename::create();
    QStringList installed;
    for (const Component& component : components) {
        const QString target = destination(installLocation(archive, component.prefix), sandbox);
        if (!QDir().mkpath(target))
            throw SystemError(u"Can't create the folder %1"_s.arg(target), errno != 0 ? errno : EIO);
        const Scratch scratch(target);
        writePayload(archive, *component.payload, scratch.path + u"/payload"_s, budget);
        const QString root = scratch.path + u"/root"_s;
        QDir().mkdir(root);
        unpack(scratch.path + u"/payload"_s, root, budget);
        const QStringList items
            = QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& item : items) {
            if (QFileInfo::exists(target + u'/' + item) || QFileInfo(target + u'/' + item).isSymLink())
                throw refusal(u"%1 is already in %2."_s.arg(item, target));
        }
        for (const QString& item : items) {
            rename->noReplace(root + u'/' + item, target + u'/' + item);
            installed.append(target + u'/' + item);
        }
    }
    return installed;
}

} // namespace corvanta
