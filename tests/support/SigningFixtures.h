#pragma once

#include "demo/Files.h"

#include <cstdint>

#include <QByteArray>
#include <QString>

namespace corvanta::test {

// A file of the real-world collection (../shared/realworld/<folder>/<name>).
QString realworld(const QString& folder, const QString& name);

using demo::readFile;
using demo::writeFile;

// Extracts a zip archive into `destination` with its symbolic links and modes;
// false when the archive can't be read.
bool extractZip(const QString& archive, const QString& destination);

// Copies a folder tree, symbolic links kept as links.
bool copyTree(const QString& from, const QString& to);

// Flips every bit of the byte at `offset` of the file at `path`.
void flipByte(const QString& path, qint64 offset);

// Where the signature of the first (or only) architecture of a Mach-O file
// lies, and the offsets of its blobs; for tampering with one part of it.
struct SignatureLayout {
    qint64 sliceOffset = 0;
    qint64 superBlob = 0; // from the start of the file
    qint64 codeDirectory = 0;
    qint64 requirements = 0;
    qint64 entitlements = 0;
    qint64 cms = 0; // the wrapper blob
    qint64 cmsLength = 0;
};
SignatureLayout signatureLayout(const QString& path, int slice = 0);

// An app bundle to sign: Example.app with a universal main executable,
// resources (a localisation, a Base.lproj nib, a relative symbolic link), a
// framework in the versioned layout, a helper tool and a login item.
// Returns the bundle's path.
QString makeSampleApp(const QString& folder, const QString& identifier = QStringLiteral("com.example.app"),
    const QString& version = QStringLiteral("1.0"), std::uint32_t seed = 1);

} // namespace corvanta::test
