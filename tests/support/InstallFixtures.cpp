#include "InstallFixtures.h"

#include "base/Error.h"
#include "codesign/PortableCodeSigning.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta::test {

namespace {

void write(const QString& path, const QByteArray& data, QFile::Permissions permissions = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        ADD_FAILURE() << "can't write " << path.toStdString();
        return;
    }
    file.write(data);
    file.close();
    if (permissions)
        file.setPermissions(permissions);
}

void link(const QString& target, const QString& path)
{
    if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()) != 0)
        ADD_FAILURE() << "can't link " << path.toStdString();
}

QString octal(mode_t mode)
{
    return u"%1"_s.arg(int(mode & 07777), 4, 8, QChar(u'0'));
}

} // namespace

QString makeApp(const QString& folder, const AppShape& shape)
{
    const QString app = folder + u'/' + shape.name + u".app"_s;
    const QString contents = app + u"/Contents"_s;
    const QByteArray plist = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                             "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                             "<plist version=\"1.0\"><dict>\n"
                             "<key>CFBundleIdentifier</key><string>"
        + shape.bundleID.toUtf8()
        + "</string>\n"
          "<key>CFBundleShortVersionString</key><string>"
        + shape.version.toUtf8()
        + "</string>\n"
          "<key>CFBundleVersion</key><string>"
        + shape.build.toUtf8()
        + "</string>\n"
          "<key>CFBundleExecutable</key><string>"
        + shape.name.toUtf8() + "</string>\n"
        + (shape.edKey ? "<key>SUPublicEDKey</key><string>" + shape.edKey->toUtf8() + "</string>\n"
                       : QByteArray())
        + "</dict></plist>\n";
    write(contents + u"/Info.plist"_s, plist);
    write(contents + u"/MacOS/"_s + shape.name, "#!/bin/sh\n# " + shape.payload + "\n",
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
            | QFile::ReadOther | QFile::ExeOther);
    write(contents + u"/Resources/en.lproj/Strings.txt"_s, "Hello " + shape.payload);
    const QString framework = contents + u"/Frameworks/Kit.framework"_s;
    write(framework + u"/Versions/A/Kit"_s, "kit " + shape.payload);
    write(framework + u"/Versions/A/Resources/Info.plist"_s, "kit plist");
    link(u"A"_s, framework + u"/Versions/Current"_s);
    link(u"Versions/Current/Kit"_s, framework + u"/Kit"_s);
    link(u"Versions/Current/Resources"_s, framework + u"/Resources"_s);
    for (int i = 0; i < shape.extraFiles; ++i) {
        QByteArray data(shape.extraSize, char('a' + i % 26));
        data.prepend(shape.payload);
        write(contents + u"/Resources/extra/%1.bin"_s.arg(i, 4, 10, QChar(u'0')), data);
    }
    return app;
}

namespace {

QString describe(const QString& path)
{
    struct stat st { };
    const QByteArray encoded = QFile::encodeName(path);
    if (::lstat(encoded.constData(), &st) != 0)
        return u"missing"_s;
    if (S_ISLNK(st.st_mode)) {
        char target[4096];
        const ssize_t length = ::readlink(encoded.constData(), target, sizeof target);
        return u"link -> "_s + QFile::decodeName(QByteArray(target, std::max<ssize_t>(length, 0)));
    }
    if (S_ISDIR(st.st_mode))
        return u"dir "_s + octal(st.st_mode);
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (file.open(QIODevice::ReadOnly))
        hash.addData(&file);
    return u"file "_s + octal(st.st_mode) + u' ' + QString::fromLatin1(hash.result().toHex().left(16));
}

} // namespace

Snapshot snapshot(const QString& root)
{
    Snapshot items;
    items.insert(QString(), describe(root));
    QDirIterator walk(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QString path = walk.next();
        items.insert(path.mid(root.size() + 1), describe(path));
    }
    return items;
}

Snapshot under(const QString& prefix, const Snapshot& inner)
{
    Snapshot items;
    for (auto it = inner.begin(); it != inner.end(); ++it)
        items.insert(it.key().isEmpty() ? prefix : prefix + u'/' + it.key(), it.value());
    return items;
}

QString difference(const Snapshot& expected, const Snapshot& actual)
{
    QString text;
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        if (it.key().isEmpty())
            continue;
        if (!actual.contains(it.key()))
            text += u"missing: "_s + it.key() + u" ("_s + it.value() + u")\n"_s;
        else if (actual.value(it.key()) != it.value())
            text += u"changed: "_s + it.key() + u" ("_s + it.value() + u" became "_s + actual.value(it.key())
                + u")\n"_s;
    }
    for (auto it = actual.begin(); it != actual.end(); ++it) {
        if (!it.key().isEmpty() && !expected.contains(it.key()))
            text += u"unexpected: "_s + it.key() + u" ("_s + it.value() + u")\n"_s;
    }
    return text;
}

InstallSandbox::InstallSandbox()
{
    EXPECT_TRUE(m_dir.isValid());
    for (const QString& folder : { applications(), trash(), temp(), inputs() })
        QDir().mkpath(folder);
    if (qEnvironmentVariableIsSet("TMPDIR"))
        m_savedTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(temp()));
}

InstallSandbox::~InstallSandbox()
{
    if (m_savedTmp)
        qputenv("TMPDIR", *m_savedTmp);
    else
        qunsetenv("TMPDIR");
    // Unpacked apps may hold read-only folders.
    QDirIterator walk(
        m_dir.path(), QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (walk.hasNext())
        QFile::setPermissions(walk.next(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QStringList InstallSandbox::leftovers() const
{
    QStringList found;
    for (const QString& name : QDir(temp()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        found.append(temp() + u'/' + name);
    for (const QString& name :
        QDir(applications())
            .entryList({ u".corvanta-*"_s }, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        found.append(applications() + u'/' + name);
    return found;
}

ScriptedRename::ScriptedRename()
    : m_real(Rename::create())
{
}

void ScriptedRename::exchange(const QString& a, const QString& b)
{
    ++exchanges;
    if (failExchange)
        throw SystemError(u"Can't exchange %1 and %2 (injected)"_s.arg(a, b), *failExchange);
    m_real->exchange(a, b);
}

void ScriptedRename::noReplace(const QString& from, const QString& to)
{
    if (failNoReplace)
        throw SystemError(u"Can't move %1 to %2 (injected)"_s.arg(from, to), *failNoReplace);
    m_real->noReplace(from, to);
}

ScriptedTrash::ScriptedTrash()
    : m_real(Trash::create())
{
}

void ScriptedTrash::moveToTrash(const QString& path)
{
    trashed.append(path);
    if (fail)
        throw SystemError(u"Can't move %1 to the Trash (injected)"_s.arg(path), *fail);
    m_real->moveToTrash(path);
}

void ScriptedTrash::moveTo(const QString& path, const QString& destination)
{
    if (fail)
        throw SystemError(u"Can't move %1 to %2 (injected)"_s.arg(path, destination), *fail);
    m_real->moveTo(path, destination);
}

TestServices::TestServices(std::unique_ptr<CodeSigning> signing)
    : ditto(Ditto::create())
    , workspace(Workspace::create())
    , diskImages(DiskImages::create())
    , codeSigning(signing ? std::move(signing)
                          : std::make_unique<codesign::PortableCodeSigning>(codesign::TrustAnchors()))
{
}

TestServices::~TestServices() = default;

Updater::Services TestServices::services()
{
    return { net, *ditto, rename, trash, *workspace, *diskImages, *codeSigning };
}

} // namespace corvanta::test
