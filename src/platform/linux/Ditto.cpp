#include "platform/Ditto.h"

#include "base/Error.h"
#include "platform/UnpackLimits.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QString decode(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

[[noreturn]] void fail(const QString& what, int code)
{
    throw SystemError(what, code);
}

[[noreturn]] void failErrno(const QString& what)
{
    throw SystemError::fromErrno(what);
}

// ---- zip extraction ------------------------------------------------------

struct ReadFree {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct WriteFree {
    void operator()(archive* a) const { archive_write_free(a); }
};

struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

int archiveCode(archive* a)
{
    const int code = archive_errno(a);
    return code > 0 ? code : EIO;
}

QString archiveMessage(archive* a)
{
    const char* text = archive_error_string(a);
    return text ? QString::fromUtf8(text) : u"unknown error"_s;
}

// Finder's zips carry resource forks as AppleDouble files under
// "__MACOSX/"; ditto turns them back into metadata. Here there is nothing to
// apply them to, and unpacked they would show up as a second copy of the app.
bool isAppleDouble(std::string_view path)
{
    return path == "__MACOSX" || path.starts_with("__MACOSX/");
}

// What a name already stands for: a later entry may go inside a folder, never
// inside a file or a link, and no name may come twice.
enum class Kind { impliedFolder, folder, file, link };

// The rules every entry meets. They run over all headers before anything is
// written and again on each entry as it is written, so what reaches the disk
// is what was checked even if the archive changed in between.
class EntryRules {
public:
    explicit EntryRules(qint64 archiveBytes)
        : m_budget(archiveBytes)
    {
    }

    // The entry's path below the root, without empty or "." components, or
    // none for an entry left out. Counts the entry, with `bytes`, and the
    // folders it implies against the budget. Throws SystemError for what an
    // app's archive may not hold and UnpackRefusal past a cap.
    std::optional<std::string> admit(archive_entry* entry, qint64 bytes)
    {
        const char* name = archive_entry_pathname(entry);
        const std::string_view raw = name ? name : "";
        const auto shown = [raw] { return QString::fromUtf8(raw.data(), qsizetype(raw.size())); };
        if (!raw.empty() && raw.front() == '/')
            fail(u"The archive entry \u201c%1\u201d has an absolute path."_s.arg(shown()), EINVAL);
        std::string path;
        path.reserve(raw.size());
        for (std::size_t start = 0; start <= raw.size();) {
            const std::size_t end = std::min(raw.find('/', start), raw.size());
            const std::string_view part = raw.substr(start, end - start);
            start = end + 1;
            if (part.empty() || part == ".")
                continue;
            if (part == "..")
                fail(u"The archive entry \u201c%1\u201d climbs out of its folder with \u201c..\u201d."_s.arg(
                         shown()),
                    EINVAL);
            if (!path.empty())
                path += '/';
            path += part;
        }
        if (path.empty())
            fail(u"The archive holds an entry without a name."_s, EINVAL);
        if (isAppleDouble(path))
            return std::nullopt;

        // Zips of apps never hold hard links, and one can name an inode
        // anywhere on the volume; devices, pipes and sockets would be made.
        if (archive_entry_hardlink(entry))
            fail(u"The archive entry \u201c%1\u201d is a hard link, which no app's archive holds."_s.arg(
                     shown()),
                EINVAL);
        Kind kind = Kind::file;
        switch (archive_entry_filetype(entry)) {
        case AE_IFREG:
            break;
        case AE_IFDIR:
            kind = Kind::folder;
            break;
        case AE_IFLNK:
            kind = Kind::link;
            break;
        default:
            fail(u"The archive entry \u201c%1\u201d is neither a file, a folder nor a link."_s.arg(shown()),
                EINVAL);
        }

        // Down from the root: every name above the entry must be a folder,
        // named or implied, and the entry's own name new. Folders the writer
        // will make without an entry of their own count like entries.
        std::size_t folder = 0;
        for (std::size_t start = 0, depth = 1;; ++depth) {
            const std::size_t end = std::min(path.find('/', start), path.size());
            const bool last = end == path.size();
            m_key.assign(reinterpret_cast<const char*>(&folder), sizeof folder)
                .append(path, start, end - start);
            const auto [node, added]
                = m_seen.try_emplace(m_key, Node { m_seen.size() + 1, last ? kind : Kind::impliedFolder });
            if (added)
                m_budget.add(int(depth), last ? bytes : 0);
            if (!added && !last && node->second.kind == Kind::link)
                fail(u"The archive entry \u201c%1\u201d would be written through the link \u201c%2\u201d."_s
                         .arg(QString::fromUtf8(path), QString::fromUtf8(path.substr(0, end))),
                    EINVAL);
            if (!added && !last && node->second.kind == Kind::file)
                failTwice(path.substr(0, end));
            if (last) {
                if (!added && (node->second.kind != Kind::impliedFolder || kind != Kind::folder))
                    failTwice(path);
                node->second.kind = kind;
                return path;
            }
            folder = node->second.number;
            start = end + 1;
        }
    }

    UnpackBudget& budget() { return m_budget; }

private:
    [[noreturn]] static void failTwice(const std::string& path)
    {
        fail(u"The archive holds \u201c%1\u201d more than once."_s.arg(QString::fromUtf8(path)), EINVAL);
    }

    struct Node {
        std::size_t number; // of a folder, for the names inside it
        Kind kind;
    };

    UnpackBudget m_budget;
    // Every name met, keyed by its folder's number and its own last
    // component, so memory grows with the archive's names, not their depth.
    std::unordered_map<std::string, Node> m_seen;
    std::string m_key;
};

// A fresh reader at the start of the archive; each pass over it needs one.
std::unique_ptr<archive, ReadFree> openZip(int fd, const QString& archivePath)
{
    if (::lseek(fd, 0, SEEK_SET) != 0)
        failErrno(u"Can't read %1"_s.arg(archivePath));
    std::unique_ptr<archive, ReadFree> reader(archive_read_new());
    // The seekable reader trusts the central directory, which is where zip
    // keeps the mode bits that mark symbolic links; the streaming reader
    // would unpack links as plain files.
    archive_read_support_format_zip_seekable(reader.get());
    if (archive_read_open_fd(reader.get(), fd, 1 << 16) != ARCHIVE_OK)
        fail(u"%1: %2"_s.arg(archivePath, archiveMessage(reader.get())), archiveCode(reader.get()));
    return reader;
}

// The next entry's header, or null at the end of the archive.
archive_entry* nextEntry(archive* reader, const QString& archivePath)
{
    archive_entry* entry = nullptr;
    const int status = archive_read_next_header(reader, &entry);
    if (status == ARCHIVE_EOF)
        return nullptr;
    if (status < ARCHIVE_WARN)
        fail(u"%1: %2"_s.arg(archivePath, archiveMessage(reader)), archiveCode(reader));
    return entry;
}

// The uncompressed size the header declares, for files; links and folders
// carry no data worth unpacking.
qint64 declaredBytes(archive_entry* entry)
{
    return archive_entry_filetype(entry) == AE_IFREG ? std::max<la_int64_t>(archive_entry_size(entry), 0) : 0;
}

std::string realFolder(const QString& destination)
{
    const QByteArray encoded = QFile::encodeName(destination);
    if (::mkdir(encoded.constData(), 0755) != 0)
        failErrno(u"Can't create %1"_s.arg(destination));
    // Every path handed to the writer starts with this, free of links, so
    // the writer's link checks cover the whole path.
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(encoded.constData(), nullptr), &std::free);
    if (!real)
        failErrno(u"Can't resolve %1"_s.arg(destination));
    return std::string(real.get());
}

void copyData(archive* reader, archive* writer, UnpackBudget& budget, const QString& entry)
{
    la_int64_t extent = 0;
    for (;;) {
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(reader, &block, &size, &offset);
        if (status == ARCHIVE_EOF)
            return;
        // Warnings here are a bad checksum or a body longer or shorter than
        // its header: a damaged or doctored download either way.
        if (status != ARCHIVE_OK)
            fail(u"%1: %2"_s.arg(entry, archiveMessage(reader)), archiveCode(reader));
        // Counted as it arrives, holes included: a header that understates
        // the size must not let the data run past the caps. (The writer
        // stops at the declared size, so only the inflating goes on.)
        budget.addBytes(qint64(size) + std::max<la_int64_t>(offset - extent, 0));
        extent = std::max(extent, offset + la_int64_t(size));
        if (archive_write_data_block(writer, block, size, offset) < ARCHIVE_WARN)
            fail(u"%1: %2"_s.arg(entry, archiveMessage(writer)), archiveCode(writer));
    }
}

// ---- bundle copy ---------------------------------------------------------

void setTimes(const std::string& path, const struct stat& st, int flags)
{
    const std::array<timespec, 2> times { st.st_atim, st.st_mtim };
    if (::utimensat(AT_FDCWD, path.c_str(), times.data(), flags) != 0)
        failErrno(u"Can't set the times of %1"_s.arg(decode(path)));
}

void copyBytes(int from, int to, const std::string& source)
{
    bool ranged = true;
    std::array<char, 1 << 16> buffer {};
    for (;;) {
        ssize_t done = 0;
        if (ranged) {
            done = ::copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
            // Not every file system (or kernel) copies ranges; plain reads always work.
            if (done < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                ranged = false;
                continue;
            }
        } else {
            done = ::read(from, buffer.data(), buffer.size());
            for (ssize_t written = 0; done > 0 && written < done;) {
                const ssize_t n = ::write(to, buffer.data() + written, static_cast<size_t>(done - written));
                if (n < 0) {
                    if (errno == EINTR)
                        continue;
                    failErrno(u"Can't copy %1"_s.arg(decode(source)));
                }
                written += n;
            }
        }
        if (done == 0)
            return;
        if (done < 0) {
            if (errno == EINTR)
                continue;
            failErrno(u"Can't copy %1"_s.arg(decode(source)));
        }
    }
}

struct CloseDir {
    void operator()(DIR* folder) const { ::closedir(folder); }
};

void copyTree(const std::string& source, const std::string& destination)
{
    struct stat st { };
    if (::lstat(source.c_str(), &st) != 0)
        failErrno(u"Can't read %1"_s.arg(decode(source)));

    if (S_ISLNK(st.st_mode)) {
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t length = ::readlink(source.c_str(), target.data(), target.size());
        if (length < 0)
            failErrno(u"Can't read the link %1"_s.arg(decode(source)));
        target.resize(static_cast<std::size_t>(length));
        if (::symlink(target.c_str(), destination.c_str()) != 0)
            failErrno(u"Can't create the link %1"_s.arg(decode(destination)));
        setTimes(destination, st, AT_SYMLINK_NOFOLLOW);
        return;
    }

    if (S_ISDIR(st.st_mode)) {
        // Writable while it fills; its own mode and times come last, since
        // adding entries changes the time and a read-only mode would block them.
        if (::mkdir(destination.c_str(), 0700) != 0)
            failErrno(u"Can't create %1"_s.arg(decode(destination)));
        std::unique_ptr<DIR, CloseDir> folder(::opendir(source.c_str()));
        if (!folder)
            failErrno(u"Can't list %1"_s.arg(decode(source)));
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(folder.get());
            if (!entry) {
                if (errno != 0)
                    failErrno(u"Can't list %1"_s.arg(decode(source)));
                break;
            }
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            copyTree(source + '/' + name, destination + '/' + name);
        }
        if (::chmod(destination.c_str(), st.st_mode & 07777) != 0)
            failErrno(u"Can't set the mode of %1"_s.arg(decode(destination)));
        setTimes(destination, st, 0);
        return;
    }

    if (!S_ISREG(st.st_mode))
        fail(u"Can't copy %1: it is neither a file, a folder nor a link."_s.arg(decode(source)), EINVAL);

    Descriptor from { ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW) };
    if (from.fd < 0)
        failErrno(u"Can't open %1"_s.arg(decode(source)));
    Descriptor to { ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600) };
    if (to.fd < 0)
        failErrno(u"Can't create %1"_s.arg(decode(destination)));
    copyBytes(from.fd, to.fd, source);
    if (::fchmod(to.fd, st.st_mode & 07777) != 0)
        failErrno(u"Can't set the mode of %1"_s.arg(decode(destination)));
    const std::array<timespec, 2> times { st.st_atim, st.st_mtim };
    if (::futimens(to.fd, times.data()) != 0)
        failErrno(u"Can't set the times of %1"_s.arg(decode(destination)));
    const int fd = to.fd;
    to.fd = -1;
    if (::close(fd) != 0)
        failErrno(u"Can't write %1"_s.arg(decode(destination)));
}

class LinuxDitto : public Ditto {
public:
    void extractZip(const QString& archivePath, const QString& destination) override
    {
        Descriptor file { ::open(QFile::encodeName(archivePath).constData(), O_RDONLY | O_CLOEXEC) };
        struct stat st { };
        if (file.fd < 0 || ::fstat(file.fd, &st) != 0)
            failErrno(u"Can't open %1"_s.arg(archivePath));

        // Every header first, so that a bomb is refused before anything is
        // written; the free space is that of the destination's volume.
        EntryRules declared(st.st_size);
        {
            const auto reader = openZip(file.fd, archivePath);
            while (archive_entry* entry = nextEntry(reader.get(), archivePath))
                declared.admit(entry, declaredBytes(entry));
        }
        UnpackBudget::requireFreeSpace(QFileInfo(destination).absolutePath(), declared.budget().bytes());

        const std::string root = realFolder(destination);
        const auto reader = openZip(file.fd, archivePath);
        std::unique_ptr<archive, WriteFree> writer(archive_write_disk_new());
        // No ARCHIVE_EXTRACT_UNLINK: with the link checks it replaces links by
        // folders. Paths are made absolute below, under the resolved root.
        archive_write_disk_set_options(writer.get(),
            ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_SECURE_SYMLINKS
                | ARCHIVE_EXTRACT_SECURE_NODOTDOT);

        // Checked again as written, now counting the bytes that really come out.
        EntryRules written(st.st_size);
        while (archive_entry* entry = nextEntry(reader.get(), archivePath)) {
            const auto path = written.admit(entry, 0);
            if (!path)
                continue;
            archive_entry_copy_pathname(entry, (root + '/' + *path).c_str());
            // An app never needs these from a download, and they are what
            // would turn an unpacked file into a privilege.
            archive_entry_set_perm(entry, archive_entry_perm(entry) & ~mode_t(S_ISUID | S_ISGID));

            const QString shown = QString::fromUtf8(*path);
            if (archive_write_header(writer.get(), entry) < ARCHIVE_WARN)
                fail(u"%1: %2"_s.arg(shown, archiveMessage(writer.get())), archiveCode(writer.get()));
            if (declaredBytes(entry) > 0)
                copyData(reader.get(), writer.get(), written.budget(), shown);
            if (archive_write_finish_entry(writer.get()) < ARCHIVE_WARN)
                fail(u"%1: %2"_s.arg(shown, archiveMessage(writer.get())), archiveCode(writer.get()));
        }
        // Folder modes and times are applied at the close, after their contents.
        if (archive_write_close(writer.get()) < ARCHIVE_WARN)
            fail(u"%1: %2"_s.arg(destination, archiveMessage(writer.get())), archiveCode(writer.get()));
    }

    void copy(const QString& source, const QString& destination) override
    {
        copyTree(QFile::encodeName(source).toStdString(), QFile::encodeName(destination).toStdString());
    }
};

} // namespace

std::unique_ptr<Ditto> Ditto::create()
{
    return std::make_unique<LinuxDitto>();
}

} // namespace corvanta
