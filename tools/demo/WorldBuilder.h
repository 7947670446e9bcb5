#pragma once

#include "demo/BundleSigner.h"
#include "demo/BundleWriter.h"
#include "demo/Manifest.h"

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUrl>

namespace corvanta::demo {

// A file the server offers, as its publisher would describe it.
struct Published {
    QString path; // below the server's documents
    QUrl url;
    qint64 size = 0;
    QString sha256; // lower-case hexadecimal
    QString sha512; // Base64, as electron-builder states it
};

// Writes one world: the installed apps, everything the server will answer
// with, and the manifest. Every URL it writes starts with `base`.
class WorldBuilder {
public:
    // `signer` may be null: the world's code is then unsigned.
    WorldBuilder(WorldLayout layout, QUrl base, BundleSigner* signer);
    ~WorldBuilder();

    const WorldLayout& layout() const { return m_layout; }
    const QUrl& base() const { return m_base; }
    // The URL of a path below the server's base ("feeds/x/appcast.xml").
    QUrl url(const QString& path) const;

    // Writes the app into the Applications folder (or its `subfolder`) and
    // signs it; returns the bundle's path.
    QString install(const AppBundle& bundle, const Signature& signature, const QString& subfolder = {});

    // A new version of an app: the bundle is written and signed in a private
    // folder, then packed into the served file at `path`. A notarized one's
    // code-directory hashes are confirmed by the world's ticket service.
    Published publishZip(
        const AppBundle& bundle, const Signature& signature, const QString& path, bool notarized = false);
    // A flat installer package of the app for /Applications, signed with the
    // Developer ID Installer identity of `signature`'s team; a notarized
    // one's TOC checksum is confirmed by the ticket service.
    Published publishPackage(
        const AppBundle& bundle, const Signature& signature, const QString& path, bool notarized);
    Published publishDiskImage(const AppBundle& bundle, const Signature& signature, const QString& path,
        const std::optional<QString>& licence = std::nullopt);
    // Any other served document.
    Published publish(const QString& path, const QByteArray& bytes);

    // An entry of the cask index; its answer under "cask/<token>" is written too.
    void addCask(const QJsonObject& cask);
    // A result of the App Store lookup service for `bundleID`.
    void addLookup(const QString& bundleID, const QJsonObject& result);
    void expect(SampleApp app);
    // What restoring the expected app `bundleID` onto an empty Mac must give.
    void expectRestore(const QString& bundleID, ExpectedRestore restore);

    // Writes the cask index, the lookup answers and the manifest.
    Manifest finish();

    static QString sha256Of(const QString& file);

private:
    QString stage(const AppBundle& bundle, const Signature& signature);
    void notarizeCode(const QString& bundle);
    Published describe(const QString& path) const;

    WorldLayout m_layout;
    QUrl m_base;
    BundleSigner* m_signer;
    std::unique_ptr<QTemporaryDir> m_staging;
    int m_staged = 0;
    QJsonArray m_casks;
    std::map<QString, std::vector<QJsonObject>> m_lookups;
    std::vector<SampleApp> m_apps;
    QJsonArray m_tickets; // record names the ticket service confirms
};

} // namespace corvanta::demo
