#pragma once

#include "demo/Files.h"
#include "demo/MachOWriter.h"

#include <optional>
#include <utility>
#include <vector>

#include <QString>
#include <QVariantMap>

namespace corvanta::demo {

// What one sample app bundle holds: the fixed, well-formed shape of the demo's
// apps, written with BundleBuilder.
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

} // namespace corvanta::demo
