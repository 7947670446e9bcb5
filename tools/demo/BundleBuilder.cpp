#include "demo/BundleBuilder.h"

#include "base/Error.h"
#include "demo/Files.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace corvanta::demo {

BundleBuilder::BundleBuilder(const QString& folder, const QString& name)
{
    const QString fileName = name.endsWith(u".app"_s) ? name : name + u".app"_s;
    m_path = QDir(folder).filePath(fileName);
    const QString baseName = fileName.chopped(4);
    QString identifier = baseName.toLower();
    identifier.replace(u' ', u'-');
    m_info.insert(u"CFBundleIdentifier"_s, QString(u"com.example."_s + identifier));
    m_info.insert(u"CFBundleName"_s, baseName);
    m_info.insert(u"CFBundlePackageType"_s, u"APPL"_s);
    m_info.insert(u"CFBundleShortVersionString"_s, u"1.0"_s);
    m_info.insert(u"CFBundleVersion"_s, u"1"_s);
}

BundleBuilder& BundleBuilder::bundleID(const QString& identifier)
{
    return set(u"CFBundleIdentifier"_s, identifier);
}

BundleBuilder& BundleBuilder::version(const QString& text)
{
    return set(u"CFBundleShortVersionString"_s, text);
}

BundleBuilder& BundleBuilder::build(const QString& text)
{
    return set(u"CFBundleVersion"_s, text);
}

BundleBuilder& BundleBuilder::feedURL(const QString& text)
{
    return set(u"SUFeedURL"_s, text);
}

BundleBuilder& BundleBuilder::edKey(const QString& text)
{
    return set(u"SUPublicEDKey"_s, text);
}

BundleBuilder& BundleBuilder::set(const QString& key, const QVariant& value)
{
    m_info.insert(key, value);
    return *this;
}

BundleBuilder& BundleBuilder::remove(const QString& key)
{
    m_info.remove(key);
    return *this;
}

BundleBuilder& BundleBuilder::binaryPlist(bool binary)
{
    m_format = binary ? PropertyList::Format::binary : PropertyList::Format::xml;
    return *this;
}

BundleBuilder& BundleBuilder::infoPlistBytes(const QByteArray& bytes)
{
    m_infoBytes = bytes;
    m_writeInfo = true;
    return *this;
}

BundleBuilder& BundleBuilder::withoutInfoPlist()
{
    m_writeInfo = false;
    return *this;
}

BundleBuilder& BundleBuilder::appStoreReceipt(const QByteArray& bytes)
{
    return file(u"Contents/_MASReceipt/receipt"_s, bytes);
}

BundleBuilder& BundleBuilder::appUpdate(const QString& yaml)
{
    return file(u"Contents/Resources/app-update.yml"_s, yaml.toUtf8());
}

BundleBuilder& BundleBuilder::executable(const QString& name, const QByteArray& bytes)
{
    m_entries.push_back({ u"Contents/MacOS/"_s + name, bytes, std::nullopt, true });
    return set(u"CFBundleExecutable"_s, name);
}

BundleBuilder& BundleBuilder::executableFrom(const QString& name, const QString& sourcePath)
{
    return executable(name, readFile(sourcePath));
}

BundleBuilder& BundleBuilder::file(const QString& relativePath, const QByteArray& bytes)
{
    m_entries.push_back({ relativePath, bytes, std::nullopt, false });
    return *this;
}

BundleBuilder& BundleBuilder::symlink(const QString& relativePath, const QString& target)
{
    m_entries.push_back({ relativePath, {}, target, false });
    return *this;
}

QByteArray BundleBuilder::infoPlistData() const
{
    return m_infoBytes ? *m_infoBytes : PropertyList::serialize(m_info, m_format);
}

QString BundleBuilder::create() const
{
    if (!QDir().mkpath(m_path + u"/Contents"_s))
        throw Error(u"Couldn't create "_s + m_path + u'.');
    if (m_writeInfo)
        writeFile(m_path + u"/Contents/Info.plist"_s, infoPlistData());
    for (const Entry& entry : m_entries) {
        const QString target = m_path + u'/' + entry.relativePath;
        if (entry.linkTarget)
            makeLink(*entry.linkTarget, target);
        else
            writeFile(target, entry.bytes, entry.executable);
    }
    return m_path;
}

void BundleBuilder::link(const QString& target, const QString& linkPath)
{
    makeLink(target, linkPath);
}

} // namespace corvanta::demo
