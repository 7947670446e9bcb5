#include "DiskImageFixtures.h"

#include "demo/Files.h"

#include <filesystem>
#include <random>

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
    demo::writeFile(path, bytes);
    ::chmod(QFile::encodeName(path).constData(), mode);
}

} // namespace

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
    demo::makeLink(u"A"_s, framework + u"/Versions/Current"_s);
    demo::makeLink(u"Versions/Current/Kit"_s, framework + u"/Kit"_s);
    demo::makeLink(u"Versions/Current/Resources"_s, framework + u"/Resources"_s);
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
    demo::makeLink(u"/Applications"_s, folder + u"/Applications"_s);
    demo::makeLink(u"../../../../../../etc/hosts"_s, folder + u"/Escape"_s);
    writeFile(folder + u"/.background/background.png"_s, "png");
}

QStringList folderEntries(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace corvanta::test
