#include "DiskImageFixtures.h"

#include <filesystem>
#include <random>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta::test {

namespace {

void writeFile(const QString& path, const QByteArray& bytes, unsigned mode = 0644)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("can't write " + path.toStdString());
    file.close();
    ::chmod(QFile::encodeName(path).constData(), mode);
}

void link(const QString& target, const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()) != 0)
        throw std::runtime_error("can't link " + path.toStdString());
}

void walk(const QString& root, const QString& relative, std::map<QString, TreeItem>& items)
{
    const QString folder = relative.isEmpty() ? root : root + u'/' + relative;
    const QDir dir(folder);
    for (const QString& name :
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        const QString path = folder + u'/' + name;
        const QString key
            = (relative.isEmpty() ? name : relative + u'/' + name).normalized(QString::NormalizationForm_C);
        struct stat status { };
        if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
            continue;
        TreeItem item;
        if (S_ISLNK(status.st_mode)) {
            item.kind = 'l';
            QByteArray buffer(4096, '\0');
            const ssize_t length
                = ::readlink(QFile::encodeName(path).constData(), buffer.data(), std::size_t(buffer.size()));
            item.content = buffer.left(length < 0 ? 0 : length);
        } else if (S_ISDIR(status.st_mode)) {
            item.kind = 'd';
            item.mode = status.st_mode & 07777;
            walk(root, relative.isEmpty() ? name : relative + u'/' + name, items);
        } else {
            item.kind = 'f';
            item.mode = status.st_mode & 07777;
            item.size = status.st_size;
            QFile file(path);
            QCryptographicHash hash(QCryptographicHash::Sha256);
            if (file.open(QIODevice::ReadOnly))
                hash.addData(&file);
            item.content = hash.result().toHex();
        }
        items[key] = item;
    }
}

QString describe(const TreeItem& item)
{
    return u"%1 %2 %3 %4"_s.arg(QChar::fromLatin1(item.kind))
        .arg(item.mode, 4, 8)
        .arg(item.size)
        .arg(QString::fromUtf8(item.content));
}

} // namespace

std::map<QString, TreeItem> snapshotTree(const QString& root)
{
    std::map<QString, TreeItem> items;
    walk(root, {}, items);
    return items;
}

QString describeDifference(
    const std::map<QString, TreeItem>& expected, const std::map<QString, TreeItem>& actual)
{
    QStringList lines;
    for (const auto& [path, item] : expected) {
        const auto it = actual.find(path);
        if (it == actual.end())
            lines << u"missing "_s + path;
        else if (!(it->second == item))
            lines << u"differs "_s + path + u": expected "_s + describe(item) + u", got "_s
                    + describe(it->second);
    }
    for (const auto& [path, item] : actual)
        if (!expected.contains(path))
            lines << u"unexpected "_s + path + u" ("_s + describe(item) + u")"_s;
    return lines.join(u'\n');
}

void makeDiskImageTree(const QString& folder, qint64 payloadBytes)
{
    const QString contents = folder + u"/Sample.app/Contents"_s;
    writeFile(contents + u"/Info.plist"_s,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist "
        "version=\"1.0\"><dict><key>CFBundleIdentifier</key>"
        "<string>com.example.sample</string><key>CFBundleShortVersionString</key><string>2.0</string></"
        "dict></plist>\n");
    writeFile(contents + u"/MacOS/Sample"_s, "#!/bin/sh\necho sample\n", 0755);
    const QString framework = contents + u"/Frameworks/Kit.framework"_s;
    writeFile(framework + u"/Versions/A/Kit"_s, QByteArray(3000, 'k'), 0755);
    writeFile(framework + u"/Versions/A/Resources/Info.plist"_s, "<plist/>\n");
    link(u"A"_s, framework + u"/Versions/Current"_s);
    link(u"Versions/Current/Kit"_s, framework + u"/Kit"_s);
    link(u"Versions/Current/Resources"_s, framework + u"/Resources"_s);
    writeFile(
        contents + u"/Resources/en.lproj/"_s + QString(180, u'L') + u" Résumé – notes.txt"_s, "long name\n");
    writeFile(contents + u"/Resources/Deep/a/b/c/d/e/f/g/h/leaf.txt"_s, "deep\n", 0600);
    writeFile(contents + u"/Resources/Locked/readme.txt"_s, "locked\n", 0444);
    ::chmod(QFile::encodeName(contents + u"/Resources/Locked"_s).constData(), 0555);
    if (payloadBytes > 0) {
        QByteArray payload(qsizetype(payloadBytes), '\0');
        std::mt19937_64 random(42);
        for (qsizetype i = 0; i + 8 <= payload.size(); i += 8) {
            const auto value = random();
            std::memcpy(payload.data() + i, &value, 8);
        }
        writeFile(contents + u"/Resources/payload.bin"_s, payload);
    }
    link(u"/Applications"_s, folder + u"/Applications"_s);
    link(u"../../../../../../etc/hosts"_s, folder + u"/Escape"_s);
    writeFile(folder + u"/.background/background.png"_s, "png");
}

QStringList folderEntries(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace corvanta::test
