#include "codesign/ResourceSeal.h"

#include "codesign/CodeLocation.h"
#include "codesign/Digest.h"
#include "codesign/MachO.h"
#include "codesign/MappedFile.h"
#include "codesign/PropertyList.h"
#include "platform/CodeSigning.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace corvanta::codesign {

namespace {

// Bounds for a walk through a hostile tree.
constexpr int maxDepth = 64;
constexpr std::size_t maxItems = 200000;

std::optional<SealedResource> sealedResource(const QVariant& value)
{
    SealedResource out;
    if (value.typeId() == QMetaType::QByteArray) {
        out.sha1 = value.toByteArray();
        return out;
    }
    if (value.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap entry = value.toMap();
    const auto data = [&entry](const QString& key) -> std::optional<QByteArray> {
        if (!entry.contains(key))
            return std::nullopt;
        return entry.value(key).toByteArray();
    };
    out.sha1 = data(u"hash"_s);
    out.sha256 = data(u"hash2"_s);
    out.cdhash = data(u"cdhash"_s);
    if (entry.contains(u"symlink"_s))
        out.symlink = entry.value(u"symlink"_s).toString();
    if (entry.contains(u"requirement"_s))
        out.requirement = entry.value(u"requirement"_s).toString();
    out.optional = entry.value(u"optional"_s).toBool();
    if ((out.sha1 && out.sha1->size() != 20) || (out.sha256 && out.sha256->size() != 32))
        return std::nullopt;
    if (!out.sha1 && !out.sha256 && !out.symlink && !out.cdhash)
        return std::nullopt;
    return out;
}

// A folder is nested code when it is named like a bundle and laid out like
// one; a Resources folder holding an Info.plist is neither.
bool isBundleFolder(const QString& path)
{
    static const QStringList extensions { u"app"_s, u"framework"_s, u"xpc"_s, u"appex"_s, u"bundle"_s,
        u"plugin"_s, u"kext"_s, u"qlgenerator"_s, u"mdimporter"_s, u"prefpane"_s, u"saver"_s,
        u"systemextension"_s, u"dext"_s, u"service"_s, u"component"_s };
    if (!extensions.contains(QFileInfo(path).suffix(), Qt::CaseInsensitive))
        return false;
    const auto location = CodeLocation::locate(path);
    return location && location->isBundle();
}

struct Walker {
    const ResourceRules& rules;
    QString mainExecutable;
    std::vector<ResourceItem> items;
    int status = SigningStatus::ok;

    bool walk(const QString& folder, const QString& prefix, int depth)
    {
        if (depth > maxDepth) {
            status = SigningStatus::resourcesInvalid;
            return false;
        }
        const QStringList names = QDir(folder).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString& name : names) {
            if (items.size() > maxItems) {
                status = SigningStatus::resourcesInvalid;
                return false;
            }
            const QString relative = prefix + name;
            const QString absolute = folder + u'/' + name;
            if ((prefix.isEmpty() && name == u"_CodeSignature") || relative == mainExecutable)
                continue;
            struct stat info { };
            if (::lstat(QFile::encodeName(absolute).constData(), &info) != 0) {
                status = SigningStatus::signatureNotVerifiable;
                return false;
            }
            const ResourceRule* rule = rules.match(relative);
            if (S_ISLNK(info.st_mode)) {
                if (rule && !rule->omit)
                    items.push_back({ ResourceItem::Kind::symlink, relative, absolute, rule });
            } else if (S_ISDIR(info.st_mode)) {
                if (rule && rule->omit)
                    continue;
                if (rule && rule->nested && isBundleFolder(absolute)) {
                    items.push_back({ ResourceItem::Kind::nestedCode, relative, absolute, rule });
                    continue;
                }
                if (!walk(absolute, relative + u'/', depth + 1))
                    return false;
            } else if (S_ISREG(info.st_mode)) {
                if (!rule || rule->omit)
                    continue;
                const bool nested = rule->nested && isMachOFile(absolute);
                items.push_back({ nested ? ResourceItem::Kind::nestedCode : ResourceItem::Kind::file,
                    relative, absolute, rule });
            } else {
                status = SigningStatus::resourceNotSupported;
                return false;
            }
        }
        return true;
    }
};

} // namespace

std::optional<ResourceSeal> ResourceSeal::parse(const QByteArray& bytes)
{
    const auto value = PropertyList::parse(bytes);
    if (!value || value->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap root = value->toMap();
    ResourceSeal seal;
    const bool second = root.contains(u"files2"_s) || root.contains(u"rules2"_s);
    seal.version = second ? 2 : 1;
    const QVariant files = root.value(second ? u"files2"_s : u"files"_s);
    const QVariant rules = root.value(second ? u"rules2"_s : u"rules"_s);
    if (files.typeId() != QMetaType::QVariantMap || rules.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    auto compiled = ResourceRules::fromPlist(rules.toMap());
    if (!compiled)
        return std::nullopt;
    seal.rules = std::move(*compiled);
    const QVariantMap entries = files.toMap();
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        auto entry = sealedResource(it.value());
        if (!entry || it.key().isEmpty())
            return std::nullopt;
        seal.files.emplace(it.key(), std::move(*entry));
    }
    return seal;
}

std::optional<std::vector<ResourceItem>> walkResources(
    const QString& root, const ResourceRules& rules, const QString& mainExecutable, int* status)
{
    Walker walker { rules, mainExecutable, {}, SigningStatus::ok };
    if (!walker.walk(root, QString(), 0)) {
        if (status)
            *status = walker.status;
        return std::nullopt;
    }
    return std::move(walker.items);
}

std::optional<QByteArray> hashFile(const QString& path, HashType type)
{
    const auto file = MappedFile::open(path);
    if (!file)
        return std::nullopt;
    return Digest::of(type, file->bytes());
}

bool isMachOFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(8);
    const ByteView bytes(head);
    const auto little = bytes.le32(0);
    const auto big = bytes.be32(0);
    if (!little || !big)
        return false;
    if (*little == machO::magic32 || *little == machO::magic64)
        return true;
    // A universal header; the count keeps Java class files (same magic) out.
    const auto count = bytes.be32(4);
    return (*big == machO::fatMagic || *big == machO::fatMagic64) && count && *count > 0 && *count < 32;
}

} // namespace corvanta::codesign
