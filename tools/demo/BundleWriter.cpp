#include "demo/BundleWriter.h"

#include "base/Error.h"
#include "discovery/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta::demo {

namespace {

QString executableName(const QString& name)
{
    QString result = name;
    result.remove(u' ');
    return result;
}

// The same bytes for the same app and version, so a world made twice differs
// only in its keys and signatures.
QByteArray payload(const QString& seed, qint64 size)
{
    QRandomGenerator generator(quint32(qHash(seed)));
    QByteArray bytes(size, '\0');
    for (qint64 i = 0; i + 4 <= size; i += 4) {
        const quint32 word = generator.generate();
        memcpy(bytes.data() + i, &word, 4);
    }
    return bytes;
}

} // namespace

void writeFile(const QString& path, const QByteArray& bytes, bool executable)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        throw Error(u"Couldn't create the folder of "_s + path + u'.');
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw Error(u"Couldn't write "_s + path + u": "_s + file.errorString());
    if (executable)
        file.setPermissions(
            file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther);
}

QString writeBundle(const QString& folder, const AppBundle& bundle)
{
    const QString path = folder + u'/' + bundle.name + u".app"_s;
    const QString contents = path + u"/Contents/"_s;
    const QString executable = executableName(bundle.name);
    const QString label = bundle.version.value_or(bundle.build.value_or(u"?"_s));

    QVariantMap info {
        { u"CFBundleIdentifier"_s, bundle.bundleID },
        { u"CFBundleName"_s, bundle.name },
        { u"CFBundleExecutable"_s, executable },
        { u"CFBundlePackageType"_s, u"APPL"_s },
        { u"CFBundleInfoDictionaryVersion"_s, u"6.0"_s },
        { u"LSMinimumSystemVersion"_s, u"12.0"_s },
        { u"NSHumanReadableCopyright"_s, u"A sample app of the Corvanta demo world."_s },
    };
    if (bundle.version)
        info.insert(u"CFBundleShortVersionString"_s, *bundle.version);
    if (bundle.build)
        info.insert(u"CFBundleVersion"_s, *bundle.build);
    info.insert(bundle.extraInfo);

    writeFile(contents + u"Info.plist"_s, PropertyList::serialize(info, PropertyList::Format::xml));
    writeFile(contents + u"PkgInfo"_s, "APPL????");
    writeFile(contents + u"MacOS/"_s + executable,
        machOExecutable(bundle.architectures, (bundle.bundleID + u' ' + label).toUtf8()), true);
    if (bundle.payloadBytes > 0)
        writeFile(contents + u"Resources/Assets.car"_s,
            payload(bundle.bundleID + u' ' + label, bundle.payloadBytes));
    if (bundle.appUpdate)
        writeFile(contents + u"Resources/app-update.yml"_s, bundle.appUpdate->toUtf8());
    if (bundle.appStoreReceipt)
        writeFile(
            contents + u"_MASReceipt/receipt"_s, "demo App Store receipt for " + bundle.bundleID.toUtf8());
    for (const auto& [relative, target] : bundle.links) {
        const QString linkPath = path + u'/' + relative;
        QDir().mkpath(QFileInfo(linkPath).path());
        // symlink(2) directly: the target must stay exactly as written.
        if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(linkPath).constData()) != 0)
            throw SystemError::fromErrno(u"Couldn't make the link "_s + linkPath);
    }
    return path;
}

} // namespace corvanta::demo
