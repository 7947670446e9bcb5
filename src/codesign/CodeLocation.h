#pragma once

#include <optional>

#include <QString>
#include <QVariantMap>

namespace corvanta::codesign {

// How the files of a piece of code are laid out on disk.
enum class BundleKind {
    none, // a bare Mach-O file
    app, // Foo.app/Contents/{Info.plist, MacOS/Foo, _CodeSignature}; also .xpc, .appex, .bundle
    framework, // Foo.framework/Versions/A/{Resources/Info.plist, Foo, _CodeSignature}
    shallow, // Info.plist, the executable and _CodeSignature at the bundle's root
};

// Where the parts of the code at a path are: the main executable, Info.plist,
// the resource seal, and the folder resources are sealed relative to.
struct CodeLocation {
    BundleKind kind = BundleKind::none;
    QString path; // absolute, as given (a bundle folder or a file)
    QString contentRoot; // resource paths in the seal are relative to this
    QString executablePath; // empty for a bundle without an executable
    QString infoPlistPath; // empty for a bare file
    QString resourceSealPath; // empty for a bare file
    std::optional<QVariantMap> infoPlist;

    bool isBundle() const { return kind != BundleKind::none; }

    // None when nothing is at the path, or a folder that is no bundle we know.
    static std::optional<CodeLocation> locate(const QString& path);
};

// The text of the symbolic link at `path` as stored; empty when it isn't one.
QString linkTarget(const QString& path);

// The absolute `path` with every symbolic link along it followed, as the
// kernel would; what lies past the first missing component is kept as
// written. None when links loop.
std::optional<QString> resolvedPath(const QString& path);

// Whether some component of `path` below the folder `root` exists but isn't
// real: a link, or not a folder (the last one: not a file when `file`).
// Missing components are not this function's concern.
bool linkedBelow(const QString& root, const QString& path, bool file);

} // namespace corvanta::codesign
