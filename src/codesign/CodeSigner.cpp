#include "codesign/CodeSigner.h"

#include "codesign/CodeLocation.h"
#include "codesign/Digest.h"
#include "codesign/PropertyList.h"
#include "codesign/ResourceSeal.h"
#include "codesign/SignedImage.h"
#include "codesign/Validator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace corvanta::codesign {

namespace {

// Nested code this deep is a loop of links or a hostile tree.
constexpr int maxNesting = 8;

QByteArray readOrFail(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw SigningError(u"The code signature couldn't be made: %1 can't be read."_s.arg(path));
    return file.readAll();
}

void writeOrFail(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    const QFileDevice::Permissions permissions
        = QFile::exists(path) ? QFile::permissions(path) : QFileDevice::Permissions();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw SigningError(u"The code signature couldn't be made: %1 can't be written."_s.arg(path));
    if (permissions)
        QFile::setPermissions(path, permissions);
}

// The identifier nested code gets: its own bundle identifier, or its file name.
QString nestedIdentifier(const QString& path)
{
    const auto location = CodeLocation::locate(path);
    if (location && location->infoPlist) {
        const QString identifier = location->infoPlist->value(u"CFBundleIdentifier"_s).toString();
        if (!identifier.isEmpty())
            return identifier;
    }
    return QFileInfo(path).completeBaseName();
}

// What the seal records for nested code: its CodeDirectory hash and the
// designated requirement it was signed with.
QVariantMap nestedEntry(const QString& path)
{
    const auto location = CodeLocation::locate(path);
    const auto image = location && !location->executablePath.isEmpty()
        ? SignedImage::open(location->executablePath)
        : std::nullopt;
    if (!image || !image->slices().front().signature)
        throw SigningError(
            u"The code signature couldn't be made: the nested code at %1 isn't signed."_s.arg(path));
    const EmbeddedSignature& signature = *image->slices().front().signature;
    QVariantMap entry { { u"cdhash"_s, signature.primary().cdhash() } };
    if (signature.requirements) {
        if (const auto set = RequirementSet::fromBlob(ByteView(*signature.requirements))) {
            if (const Requirement* designated = set->find(RequirementType::designated))
                entry.insert(u"requirement"_s, designated->text());
        }
    }
    if (!entry.contains(u"requirement"_s)) {
        std::vector<QByteArray> hashes;
        for (const SliceSignature& slice : image->slices()) {
            if (slice.signature)
                hashes.push_back(slice.signature->best().cdhash());
        }
        entry.insert(
            u"requirement"_s, impliedRequirement(signature.primary().identifier, hashes, {}, false).text());
    }
    return entry;
}

QByteArray buildSeal(const CodeLocation& location)
{
    const auto rules2 = ResourceRules::fromPlist(ResourceRules::standardRules2());
    const auto rules1 = ResourceRules::fromPlist(ResourceRules::standardRules());
    const QString prefix = location.contentRoot + u'/';
    const QString mainExecutable
        = location.executablePath.startsWith(prefix) ? location.executablePath.mid(prefix.size()) : QString();
    int status = 0;
    const auto items = walkResources(location.contentRoot, *rules2, mainExecutable, &status);
    if (!items)
        throw SigningError(
            u"The code signature couldn't be made: the bundle holds something that can't be sealed."_s);

    QVariantMap files;
    QVariantMap files2;
    for (const ResourceItem& item : *items) {
        switch (item.kind) {
        case ResourceItem::Kind::file: {
            const auto sha1 = hashFile(item.absolutePath, HashType::sha1);
            const auto sha256 = hashFile(item.absolutePath, HashType::sha256);
            if (!sha1 || !sha256)
                throw SigningError(
                    u"The code signature couldn't be made: %1 can't be read."_s.arg(item.absolutePath));
            QVariantMap entry { { u"hash"_s, *sha1 }, { u"hash2"_s, *sha256 } };
            if (item.rule->optional)
                entry.insert(u"optional"_s, true);
            files2.insert(item.relativePath, entry);
            if (const ResourceRule* rule = rules1->match(item.relativePath); rule && !rule->omit) {
                if (rule->optional)
                    files.insert(
                        item.relativePath, QVariantMap { { u"hash"_s, *sha1 }, { u"optional"_s, true } });
                else
                    files.insert(item.relativePath, *sha1);
            }
            break;
        }
        case ResourceItem::Kind::symlink:
            files2.insert(item.relativePath, QVariantMap { { u"symlink"_s, linkTarget(item.absolutePath) } });
            break;
        case ResourceItem::Kind::nestedCode:
            files2.insert(item.relativePath, nestedEntry(item.absolutePath));
            break;
        }
    }
    return PropertyList::serialize(QVariantMap { { u"files"_s, files }, { u"files2"_s, files2 },
                                       { u"rules"_s, ResourceRules::standardRules() },
                                       { u"rules2"_s, ResourceRules::standardRules2() } },
        PropertyList::Format::xml);
}

} // namespace

CodeSigner::CodeSigner(SigningOptions options)
    : m_options(std::move(options))
{
    if (!m_options.signingTime.isValid())
        m_options.signingTime = QDateTime::currentDateTimeUtc();
}

SignatureContent CodeSigner::contentFor(const QString& identifier, bool main) const
{
    SignatureContent content;
    content.identifier = identifier;
    content.identity = m_options.identity;
    content.signingTime = m_options.signingTime;
    content.timestamper = m_options.timestamper;
    content.flags = m_options.flags;
    if (!content.identity) {
        content.flags |= codeFlags::adhoc;
    } else {
        content.team = m_options.team ? m_options.team : content.identity->team();
        if (content.team && content.team->isEmpty())
            content.team.reset();
    }
    if (main)
        content.entitlements = m_options.entitlements;

    RequirementSet requirements;
    std::optional<Requirement> designated;
    if (main && m_options.designatedRequirement) {
        QString error;
        designated = Requirement::compile(*m_options.designatedRequirement, &error);
        if (!designated)
            throw SigningError(u"The designated requirement doesn't compile: "_s + error + u'.');
    } else if (content.identity) {
        std::vector<Certificate> chain { content.identity->leaf };
        chain.insert(chain.end(), content.identity->chain.begin(), content.identity->chain.end());
        designated = impliedRequirement(identifier, {}, chain, m_options.appleRoot && chain.size() > 1);
    }
    if (designated)
        requirements.entries.emplace_back(RequirementType::designated, std::move(*designated));
    content.requirements = requirements.toBlob();
    return content;
}

void CodeSigner::sign(const QString& path) const
{
    const auto location = CodeLocation::locate(path);
    if (!location)
        throw SigningError(u"The code signature couldn't be made: nothing is at %1."_s.arg(path));
    if (!location->isBundle()) {
        const QString identifier
            = m_options.identifier.isEmpty() ? QFileInfo(path).fileName() : m_options.identifier;
        signFile(location->path, contentFor(identifier, true));
        return;
    }
    QString identifier = m_options.identifier;
    if (identifier.isEmpty() && location->infoPlist)
        identifier = location->infoPlist->value(u"CFBundleIdentifier"_s).toString();
    if (identifier.isEmpty())
        throw SigningError(u"The code signature couldn't be made: the bundle has no identifier."_s);
    signBundle(location->path, identifier, true, 0);
}

void CodeSigner::signBundle(const QString& path, const QString& identifier, bool main, int depth) const
{
    if (depth > maxNesting)
        throw SigningError(u"The code signature couldn't be made: nested code goes too deep."_s);
    const auto location = CodeLocation::locate(path);
    if (!location || !location->isBundle() || !location->infoPlist || location->executablePath.isEmpty())
        throw SigningError(
            u"The code signature couldn't be made: %1 isn't a bundle with a main executable."_s.arg(path));

    if (m_options.signNestedCode) {
        const auto rules = ResourceRules::fromPlist(ResourceRules::standardRules2());
        const QString prefix = location->contentRoot + u'/';
        const QString mainExecutable = location->executablePath.mid(prefix.size());
        const auto items = walkResources(location->contentRoot, *rules, mainExecutable, nullptr);
        for (const ResourceItem& item : items.value_or(std::vector<ResourceItem>())) {
            if (item.kind != ResourceItem::Kind::nestedCode)
                continue;
            if (QFileInfo(item.absolutePath).isDir())
                signBundle(item.absolutePath, nestedIdentifier(item.absolutePath), false, depth + 1);
            else
                signFile(item.absolutePath, contentFor(nestedIdentifier(item.absolutePath), false));
        }
    }

    const QByteArray seal = buildSeal(*location);
    writeOrFail(location->resourceSealPath, seal);
    SignatureContent content = contentFor(identifier, main);
    content.infoPlist = readOrFail(location->infoPlistPath);
    content.resourceSeal = seal;
    signFile(location->executablePath, content);
}

void CodeSigner::signFile(const QString& path, const SignatureContent& content) const
{
    writeOrFail(path, signMachO(readOrFail(path), content));
}

} // namespace corvanta::codesign
