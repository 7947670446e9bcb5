#pragma once

#include "codesign/Digest.h"
#include "codesign/ResourceRules.h"

#include <map>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>

namespace corvanta::codesign {

// What the seal (_CodeSignature/CodeResources) records for one path.
struct SealedResource {
    std::optional<QByteArray> sha1;
    std::optional<QByteArray> sha256;
    std::optional<QString> symlink; // the link's target text
    std::optional<QByteArray> cdhash; // nested code
    std::optional<QString> requirement; // nested code's designated requirement
    bool optional = false;

    bool isNestedCode() const { return cdhash.has_value(); }
};

// A resource seal, taken apart. The second-version sections (files2, rules2)
// are used when present; a seal with only the first version is `version` 1.
struct ResourceSeal {
    int version = 2;
    ResourceRules rules;
    std::map<QString, SealedResource> files;

    // None when the bytes are not a property list of the expected shape or a
    // rule doesn't compile.
    static std::optional<ResourceSeal> parse(const QByteArray& bytes);
};

// One item found when walking a sealed folder.
struct ResourceItem {
    enum class Kind { file, symlink, nestedCode };
    Kind kind = Kind::file;
    QString relativePath;
    QString absolutePath;
    const ResourceRule* rule = nullptr;
};

// Walks the folder a seal covers and lists what the rules seal: omitted paths,
// the _CodeSignature folder and the main executable are left out; folders
// that are bundles and Mach-O files under nested rules are nested code.
// `status` is set (and none returned) for things a bundle may not hold.
std::optional<std::vector<ResourceItem>> walkResources(
    const QString& root, const ResourceRules& rules, const QString& mainExecutable, int* status);

// The digest of a file's contents; none when it can't be read.
std::optional<QByteArray> hashFile(const QString& path, HashType type);

// Whether the first bytes of the file are a Mach-O or universal header.
bool isMachOFile(const QString& path);

} // namespace corvanta::codesign
