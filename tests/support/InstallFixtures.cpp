#include "InstallFixtures.h"

#include "base/Error.h"
#include "codesign/PortableCodeSigning.h"
#include "demo/BundleBuilder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta::test {

QString makeApp(const QString& folder, const AppShape& shape)
{
    const QString kit = u"Contents/Frameworks/Kit.framework"_s;
    demo::BundleBuilder app(folder, shape.name);
    app.bundleID(shape.bundleID)
        .version(shape.version)
        .build(shape.build)
        .executable(shape.name, "#!/bin/sh\n# " + shape.payload + "\n")
        .file(u"Contents/Resources/en.lproj/Strings.txt"_s, "Hello " + shape.payload)
        .file(kit + u"/Versions/A/Kit"_s, "kit " + shape.payload)
        .file(kit + u"/Versions/A/Resources/Info.plist"_s, "kit plist")
        .symlink(kit + u"/Versions/Current"_s, u"A"_s)
        .symlink(kit + u"/Kit"_s, u"Versions/Current/Kit"_s)
        .symlink(kit + u"/Resources"_s, u"Versions/Current/Resources"_s);
    if (shape.edKey)
        app.edKey(*shape.edKey);
    for (int i = 0; i < shape.extraFiles; ++i) {
        QByteArray data(shape.extraSize, char('a' + i % 26));
        data.prepend(shape.payload);
        app.file(u"Contents/Resources/extra/%1.bin"_s.arg(i, 4, 10, QChar(u'0')), data);
    }
    return app.create();
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
