#pragma once

#include "codesign/PropertyList.h"

#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantMap>

namespace corvanta::demo {

// Writes an app bundle for the demo world and the tests, broken ones included:
//
//   BundleBuilder(apps, u"Example"_s).bundleID(u"com.acme.example"_s).version(u"2.1"_s)
//       .binaryPlist().appStoreReceipt().executableFrom(u"Example"_s, signedMachO).create();
//
// The Info.plist starts with an identifier made from the name, version "1.0"
// and build "1"; every key can be changed or removed. create() throws Error
// when something can't be written.
class BundleBuilder {
public:
    // The bundle `<folder>/<name>.app`; ".app" is added unless `name` ends with it.
    BundleBuilder(const QString& folder, const QString& name);

    BundleBuilder& bundleID(const QString& identifier); // CFBundleIdentifier
    BundleBuilder& version(const QString& text); // CFBundleShortVersionString
    BundleBuilder& build(const QString& text); // CFBundleVersion
    BundleBuilder& feedURL(const QString& text); // SUFeedURL
    BundleBuilder& edKey(const QString& text); // SUPublicEDKey
    // Any Info.plist key: strings, integers, reals, booleans, dates, data, lists, maps.
    BundleBuilder& set(const QString& key, const QVariant& value);
    BundleBuilder& remove(const QString& key);

    // Write the Info.plist in binary form instead of XML.
    BundleBuilder& binaryPlist(bool binary = true);
    // Exact Info.plist bytes, for broken or hand-made lists; the keys are ignored.
    BundleBuilder& infoPlistBytes(const QByteArray& bytes);
    BundleBuilder& withoutInfoPlist();

    // Contents/_MASReceipt/receipt
    BundleBuilder& appStoreReceipt(const QByteArray& bytes = QByteArrayLiteral("receipt"));
    // Contents/Resources/app-update.yml
    BundleBuilder& appUpdate(const QString& yaml);
    // Contents/MacOS/<name>, executable, named by CFBundleExecutable.
    BundleBuilder& executable(const QString& name, const QByteArray& bytes);
    // The same with the bytes of an existing file, e.g. a real signed Mach-O.
    BundleBuilder& executableFrom(const QString& name, const QString& sourcePath);
    // Any file, relative to the bundle folder ("Contents/Resources/x.icns").
    BundleBuilder& file(const QString& relativePath, const QByteArray& bytes);
    // A symbolic link inside the bundle, relative to the bundle folder.
    BundleBuilder& symlink(const QString& relativePath, const QString& target);

    const QString& path() const { return m_path; }
    QVariantMap info() const { return m_info; }
    // The Info.plist as it will be written.
    QByteArray infoPlistData() const;

    // Writes the bundle, creating missing parent folders; returns its path.
    QString create() const;

    // A symbolic link at `linkPath` pointing to `target` as written; throws Error.
    static void link(const QString& target, const QString& linkPath);

private:
    struct Entry {
        QString relativePath;
        QByteArray bytes;
        std::optional<QString> linkTarget;
        bool executable = false;
    };

    QString m_path;
    QVariantMap m_info;
    PropertyList::Format m_format = PropertyList::Format::xml;
    std::optional<QByteArray> m_infoBytes;
    bool m_writeInfo = true;
    std::vector<Entry> m_entries;
};

} // namespace corvanta::demo
