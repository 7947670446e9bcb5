#pragma once

#include "demo/MachOWriter.h"

#include <optional>
#include <utility>
#include <vector>

#include <QString>
#include <QVariantMap>

namespace corvanta::demo {

// What one sample app bundle holds. The demo writes its bundles itself rather
// than borrowing the tests' fixture builder: product code doesn't reach into
// tests/, and the demo needs only this fixed, well-formed shape.
struct AppBundle {
    QString name; // the bundle is "<name>.app"
    QString bundleID;
    std::optional<QString> version; // CFBundleShortVersionString
    std::optional<QString> build; // CFBundleVersion
    std::vector<Architecture> architectures { Architecture::arm64, Architecture::x86_64 };
    QVariantMap extraInfo; // SUFeedURL, SUPublicEDKey, …
    std::optional<QString> appUpdate; // Contents/Resources/app-update.yml
    bool appStoreReceipt = false; // Contents/_MASReceipt/receipt
    qint64 payloadBytes = 0; // incompressible resource bytes, so downloads take a moment
    // Symbolic links inside the bundle: path relative to the bundle, target as written.
    std::vector<std::pair<QString, QString>> links;
};

// Writes "<folder>/<name>.app" (creating `folder`) and returns its path.
// Throws Error when something can't be written.
QString writeBundle(const QString& folder, const AppBundle& bundle);

// Writes `bytes` to `path`, creating its folder. Throws Error.
void writeFile(const QString& path, const QByteArray& bytes, bool executable = false);

} // namespace corvanta::demo
