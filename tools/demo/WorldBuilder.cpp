#include "demo/WorldBuilder.h"

#include "base/Error.h"
#include "codesign/CodeLocation.h"
#include "codesign/SignedImage.h"
#include "demo/Feeds.h"
#include "demo/TicketRoute.h"
#include "demo/TreeDigest.h"
#include "demo/XarWriter.h"
#include "demo/ZipArchive.h"
#include "diskimage/HybridVolume.h"
#include "package/TicketService.h"
#include "package/Xar.h"

#include <algorithm>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace corvanta::demo {

namespace {

QByteArray hashOf(const QString& path, QCryptographicHash::Algorithm algorithm)
{
    QFile file(path);
    QCryptographicHash hash(algorithm);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        throw Error(u"Couldn't read "_s + path + u": "_s + file.errorString());
    return hash.result();
}

} // namespace

WorldBuilder::WorldBuilder(WorldLayout layout, QUrl base, BundleSigner* signer)
    : m_layout(std::move(layout))
    , m_base(std::move(base))
    , m_signer(signer)
{
    if (!m_base.path().endsWith(u'/'))
        m_base.setPath(m_base.path() + u'/');
    for (const QString& folder : { m_layout.applications(), m_layout.documents() }) {
        if (!QDir().mkpath(folder))
            throw Error(u"Couldn't create "_s + folder + u'.');
    }
    // Beside the world, on its volume, and gone with the builder.
    m_staging = std::make_unique<QTemporaryDir>(m_layout.root + u"/.staging-XXXXXX"_s);
    if (!m_staging->isValid())
        throw Error(u"Couldn't create a staging folder in "_s + m_layout.root + u'.');
}

WorldBuilder::~WorldBuilder() = default;

QUrl WorldBuilder::url(const QString& path) const
{
    return m_base.resolved(QUrl(path));
}

QString WorldBuilder::install(const AppBundle& bundle, const Signature& signature, const QString& subfolder)
{
    const QString folder
        = subfolder.isEmpty() ? m_layout.applications() : m_layout.applications() + u'/' + subfolder;
    const QString path = writeBundle(folder, bundle);
    if (m_signer && signature.kind != Signature::Kind::none)
        m_signer->sign(path, signature);
    return path;
}

QString WorldBuilder::stage(const AppBundle& bundle, const Signature& signature)
{
    const QString folder = m_staging->filePath(QString::number(++m_staged));
    const QString path = writeBundle(folder, bundle);
    if (m_signer && signature.kind != Signature::Kind::none)
        m_signer->sign(path, signature);
    return folder;
}

Published WorldBuilder::publishZip(
    const AppBundle& bundle, const Signature& signature, const QString& path, bool notarized)
{
    const QString folder = stage(bundle, signature);
    const QString output = m_layout.documents() + u'/' + path;
    QDir().mkpath(QFileInfo(output).path());
    const QString name = bundle.name + u".app"_s;
    // Unsigned code (a world made without a signer) has nothing to notarize.
    if (notarized && m_signer)
        notarizeCode(folder + u'/' + name);
    zipTree(folder + u'/' + name, name, output);
    return describe(path);
}

Published WorldBuilder::publishPackage(
    const AppBundle& bundle, const Signature& signature, const QString& path, bool notarized)
{
    const QString folder = stage(bundle, signature);
    XarWriter package
        = componentPackage(folder, u"/Applications"_s, PayloadCompression::gzip, bundle.bundleID);
    package.checksum(xar::HashType::sha256);
    if (const std::optional<codesign::SigningIdentity> identity
        = m_signer ? m_signer->installer(signature) : std::nullopt)
        package.sign(*identity);
    const QString output = package.write(m_layout.documents() + u'/' + path);
    if (notarized && m_signer) {
        const xar::Archive archive = xar::Archive::open(output);
        m_tickets.append(TicketLookup::recordName(
            { archive.checksumType() == xar::HashType::sha1 ? 1 : 2, archive.storedChecksum() }));
    }
    return describe(path);
}

void WorldBuilder::notarizeCode(const QString& bundle)
{
    // Every architecture's code directory, as a ticket covers them all.
    const std::optional<codesign::CodeLocation> location = codesign::CodeLocation::locate(bundle);
    const std::optional<codesign::SignedImage> image
        = location ? codesign::SignedImage::open(location->executablePath) : std::nullopt;
    if (!image)
        throw Error(u"Couldn't read the code of "_s + bundle + u" to notarize it."_s);
    for (const codesign::SliceSignature& slice : image->slices()) {
        if (!slice.signature)
            throw Error(u"The code of "_s + bundle + u" isn't signed, so it can't be notarized."_s);
        const codesign::CodeDirectory& best = slice.signature->best();
        m_tickets.append(TicketLookup::recordName({ int(best.hashType), best.cdhash() }));
    }
}

Published WorldBuilder::publishDiskImage(const AppBundle& bundle, const Signature& signature,
    const QString& path, const std::optional<QString>& licence)
{
    const QString folder = stage(bundle, signature);
    // What a developer's disk image shows: the app and a way to drag it into Applications.
    if (!QFile::link(u"/Applications"_s, folder + u"/Applications"_s))
        throw Error(u"Couldn't link Applications into "_s + folder + u'.');
    const QString output = m_layout.documents() + u'/' + path;
    QDir().mkpath(QFileInfo(output).path());
    udif::WriteOptions options;
    options.licenseText = licence;
    udif::writeDiskImage(folder, bundle.name, output, options);
    return describe(path);
}

Published WorldBuilder::publish(const QString& path, const QByteArray& bytes)
{
    writeFile(m_layout.documents() + u'/' + path, bytes);
    return describe(path);
}

Published WorldBuilder::describe(const QString& path) const
{
    const QString file = m_layout.documents() + u'/' + path;
    return { path, url(path), QFileInfo(file).size(), sha256Of(file),
        QString::fromLatin1(hashOf(file, QCryptographicHash::Sha512).toBase64()) };
}

QString WorldBuilder::sha256Of(const QString& file)
{
    return QString::fromLatin1(hashOf(file, QCryptographicHash::Sha256).toHex());
}

void WorldBuilder::addCask(const QJsonObject& cask)
{
    m_casks.append(cask);
    publish(u"cask/"_s + cask[u"token"_s].toString() + u".json"_s,
        QJsonDocument(cask).toJson(QJsonDocument::Indented));
}

void WorldBuilder::addLookup(const QString& bundleID, const QJsonObject& result)
{
    m_lookups[bundleID].push_back(result);
}

void WorldBuilder::expect(SampleApp app)
{
    m_apps.push_back(std::move(app));
}

void WorldBuilder::expectRestore(const QString& bundleID, ExpectedRestore restore)
{
    const auto found = std::find_if(
        m_apps.begin(), m_apps.end(), [&](const SampleApp& app) { return app.bundleID == bundleID; });
    if (found == m_apps.end())
        throw Error(u"No sample app "_s + bundleID + u" to expect a restore of."_s);
    found->restore = std::move(restore);
}

Manifest WorldBuilder::finish()
{
    publish(u"api/cask.json"_s, QJsonDocument(m_casks).toJson(QJsonDocument::Compact));
    publish(TicketRoute::records, QJsonDocument(m_tickets).toJson(QJsonDocument::Indented));
    for (const auto& [bundleID, results] : m_lookups)
        publish(u"lookup/"_s + bundleID + u".json"_s, lookupAnswer(results));

    if (m_signer)
        writeFile(m_layout.anchors() + u"/demo-root.pem"_s, m_signer->trustAnchorPem());

    Manifest manifest;
    manifest.base = m_base;
    manifest.signedCode = m_signer != nullptr;
    manifest.apps = m_apps;
    // What the installed bundles are before anything updates them.
    for (SampleApp& app : manifest.apps)
        app.digest = treeDigest(m_layout.applications() + u'/' + app.path);
    manifest.save(m_layout.manifest());
    m_staging.reset();
    return manifest;
}

} // namespace corvanta::demo
