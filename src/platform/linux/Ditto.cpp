#include "platform/Ditto.h"

#include "base/Error.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>

#include <QFile>

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

// The archive's own path text must stay inside the folder it unpacks into.
void checkEntryPath(const std::string& path)
{
    const QString shown = QString::fromUtf8(path);
    if (path.empty())
        fail(u"The archive holds an entry without a name."_s, EINVAL);
    if (path.front() == '/')
        fail(u"The archive entry \u201c%1\u201d has an absolute path."_s.arg(shown), EINVAL);
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (path.compare(start, end - start, "..") == 0)
            fail(u"The archive entry \u201c%1\u201d climbs out of its folder with \u201c..\u201d."_s.arg(
                     shown),
                EINVAL);
        start = end + 1;
    }
}

// Finder's zips carry resource forks as AppleDouble files under
// "__MACOSX/"; ditto turns them back into metadata. Here there is nothing to
// apply them to, and unpacked they would show up as a second copy of the app.
bool isAppleDouble(const std::string& path)
{
    return path == "__MACOSX" || path.rfind("__MACOSX/", 0) == 0;
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

void copyData(archive* reader, archive* writer, const QString& entry)
{
    for (;;) {
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(reader, &block, &size, &offset);
        if (status == ARCHIVE_EOF)
            return;
        if (status < ARCHIVE_WARN)
            fail(u"%1: %2"_s.arg(entry, archiveMessage(reader)), archiveCode(reader));
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

struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
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
        const std::string root = realFolder(destination);

        std::unique_ptr<archive, ReadFree> reader(archive_read_new());
        // The seekable reader trusts the central directory, which is where zip
        // keeps the mode bits that mark symbolic links; the streaming reader
        // would unpack links as plain files.
        archive_read_support_format_zip_seekable(reader.get());
        if (archive_read_open_filename(reader.get(), QFile::encodeName(archivePath).constData(), 1 << 16)
            != ARCHIVE_OK)
            fail(u"%1: %2"_s.arg(archivePath, archiveMessage(reader.get())), archiveCode(reader.get()));

        std::unique_ptr<archive, WriteFree> writer(archive_write_disk_new());
        // No ARCHIVE_EXTRACT_UNLINK: with the link checks it replaces links by
        // folders. Paths are made absolute below, under the resolved root.
        archive_write_disk_set_options(writer.get(),
            ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_SECURE_SYMLINKS
                | ARCHIVE_EXTRACT_SECURE_NODOTDOT);

        for (;;) {
            archive_entry* entry = nullptr;
            const int status = archive_read_next_header(reader.get(), &entry);
            if (status == ARCHIVE_EOF)
                break;
            if (status < ARCHIVE_WARN)
                fail(u"%1: %2"_s.arg(archivePath, archiveMessage(reader.get())), archiveCode(reader.get()));

            const char* name = archive_entry_pathname(entry);
            const std::string path = name ? name : "";
            checkEntryPath(path);
            if (isAppleDouble(path))
                continue;
            archive_entry_copy_pathname(entry, (root + '/' + path).c_str());
            if (const char* link = archive_entry_hardlink(entry)) {
                checkEntryPath(link);
                archive_entry_copy_hardlink(entry, (root + '/' + link).c_str());
            }
            // An app never needs these from a download, and they are what
            // would turn an unpacked file into a privilege.
            archive_entry_set_perm(entry, archive_entry_perm(entry) & ~mode_t(S_ISUID | S_ISGID));

            const QString shown = QString::fromUtf8(path);
            if (archive_write_header(writer.get(), entry) < ARCHIVE_WARN)
                fail(u"%1: %2"_s.arg(shown, archiveMessage(writer.get())), archiveCode(writer.get()));
            if (archive_entry_size(entry) > 0)
                copyData(reader.get(), writer.get(), shown);
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
