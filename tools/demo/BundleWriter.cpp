#include "demo/BundleWriter.h"

#include "demo/BundleBuilder.h"

#include <QRandomGenerator>

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

QString writeBundle(const QString& folder, const AppBundle& bundle)
{
    const QString label = bundle.version.value_or(bundle.build.value_or(u"?"_s));
    BundleBuilder builder(folder, bundle.name);
    builder.bundleID(bundle.bundleID)
        .remove(u"CFBundleShortVersionString"_s)
        .remove(u"CFBundleVersion"_s)
        .set(u"CFBundleInfoDictionaryVersion"_s, u"6.0"_s)
        .set(u"LSMinimumSystemVersion"_s, u"12.0"_s)
        .set(u"NSHumanReadableCopyright"_s, u"A sample app of the Corvanta demo world."_s)
        .file(u"Contents/PkgInfo"_s, "APPL????")
        .executable(executableName(bundle.name),
            machOExecutable(bundle.architectures, (bundle.bundleID + u' ' + label).toUtf8()));
    if (bundle.version)
        builder.version(*bundle.version);
    if (bundle.build)
        builder.build(*bundle.build);
    for (auto entry = bundle.extraInfo.cbegin(); entry != bundle.extraInfo.cend(); ++entry)
        builder.set(entry.key(), entry.value());
    if (bundle.payloadBytes > 0)
        builder.file(
            u"Contents/Resources/Assets.car"_s, payload(bundle.bundleID + u' ' + label, bundle.payloadBytes));
    if (bundle.appUpdate)
        builder.appUpdate(*bundle.appUpdate);
    if (bundle.appStoreReceipt)
        builder.appStoreReceipt("demo App Store receipt for " + bundle.bundleID.toUtf8());
    for (const auto& [relative, target] : bundle.links)
        builder.symlink(relative, target);
    return builder.create();
}

} // namespace corvanta::demo
