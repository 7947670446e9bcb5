#include "codesign/Validator.h"

#include "codesign/Digest.h"
#include "codesign/OpenSsl.h"
#include "codesign/PropertyList.h"
#include "codesign/ResourceSeal.h"

#include <algorithm>
#include <cstring>
#include <future>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace corvanta::codesign {

namespace {

// Nested code inside nested code this deep is hostile, not a real bundle.
constexpr int maxNesting = 8;
constexpr const char* developerIdIntermediate = "1.2.840.113635.100.6.2.6";
constexpr const char* developerIdLeaf = "1.2.840.113635.100.6.1.13";
constexpr const char* macAppStoreLeaf = "1.2.840.113635.100.6.1.9";
constexpr const char* worldwideDeveloperIntermediate = "1.2.840.113635.100.6.2.1";

bool strict(std::uint32_t flags)
{
    return flags & ValidityFlags::strictValidate;
}

// With strict validation everything the verifier reads must be a real file or
// folder of the bundle: a link anywhere on the way (Contents, MacOS,
// _CodeSignature) would let it borrow another bundle's signed parts.
int checkRealLayout(const CodeLocation& location)
{
    struct stat info { };
    const auto real = [&info](const QString& path, bool file) {
        return ::lstat(QFile::encodeName(path).constData(), &info) == 0
            && (file ? S_ISREG(info.st_mode) : S_ISDIR(info.st_mode));
    };
    if (!location.isBundle())
        return real(location.path, true) ? SigningStatus::ok : SigningStatus::regularFile;
    if (!real(location.path, false))
        return SigningStatus::badBundleFormat;
    if (location.contentRoot != location.path && linkedBelow(location.path, location.contentRoot, false))
        return location.kind == BundleKind::app ? SigningStatus::unsealedAppRoot
                                                : SigningStatus::unsealedFrameworkRoot;
    for (const QString& file :
        { location.infoPlistPath, location.executablePath, location.resourceSealPath }) {
        if (!file.isEmpty() && linkedBelow(location.path, file, true))
            return SigningStatus::regularFile;
    }
    return SigningStatus::ok;
}

// Whether the link at `link` leads inside the folder `realRoot` once every
// link on its way is followed, not only as its text reads.
bool leadsInside(const QString& link, const QString& realRoot)
{
    const QString target = linkTarget(link);
    if (target.isEmpty() || target.startsWith(u'/'))
        return false;
    const auto resolved = resolvedPath(QFileInfo(link).path() + u'/' + target);
    return resolved && resolved->startsWith(realRoot + u'/');
}

// Larger than any real Info.plist or resource seal; reading on would only serve a hostile bundle.
constexpr qint64 maxWholeFile = 256 * 1024 * 1024;

std::optional<QByteArray> readWhole(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxWholeFile)
        return std::nullopt;
    return file.readAll();
}

// A special slot binds `content` (none: the thing is absent); both the hash
// and the absence must agree with the directory.
int checkSpecialSlot(const CodeDirectory& directory, int slot, const std::optional<QByteArray>& content,
    int mismatch, int missing, int unbound)
{
    const bool bound = directory.hasSpecialSlot(slot);
    if (!content)
        return bound ? missing : SigningStatus::ok;
    if (!bound)
        return unbound;
    const QByteArray hash = Digest::of(directory.hashType, ByteView(*content));
    return hash == directory.specialSlotHash(slot)->toByteArray() ? SigningStatus::ok : mismatch;
}

// Pages [first, end) of the code against their slots.
bool pagesMatch(const CodeDirectory& directory, ByteView slice, std::uint32_t first, std::uint32_t end)
{
    Digest digest(directory.hashType);
    if (!digest.valid())
        return false;
    const std::uint64_t pageSize = directory.pageSize() ? directory.pageSize() : directory.codeLimit;
    std::uint8_t hash[64];
    for (std::uint32_t i = first; i < end; ++i) {
        const std::uint64_t start = std::uint64_t(i) * pageSize;
        const std::uint64_t length = std::min(pageSize, directory.codeLimit - start);
        const std::uint32_t size = digest.into(*slice.sub(start, length), hash);
        if (size != directory.hashLength || std::memcmp(hash, directory.codeSlotHash(i).data(), size) != 0)
            return false;
    }
    return true;
}

bool pagesMatch(const CodeDirectory& directory, ByteView slice)
{
    if (directory.codeLimit > slice.size())
        return false;
    // Pages hash independently, so large code is split over the cores; below
    // about 32 MB a share, starting a thread costs more than it saves.
    constexpr std::uint64_t share = 32ull << 20;
    const std::uint32_t count = directory.codeSlotCount;
    const std::uint64_t cores = std::max(1u, std::thread::hardware_concurrency());
    const std::uint32_t parts
        = std::uint32_t(std::clamp<std::uint64_t>(directory.codeLimit / share, 1, cores));
    if (parts == 1 || count < parts)
        return pagesMatch(directory, slice, 0, count);
    std::vector<std::future<bool>> others;
    const std::uint32_t each = count / parts;
    bool match = true;
    for (std::uint32_t part = 1; part < parts; ++part) {
        const std::uint32_t first = part * each;
        const std::uint32_t end = part + 1 == parts ? count : first + each;
        try {
            others.push_back(std::async(std::launch::async,
                [&directory, slice, first, end] { return pagesMatch(directory, slice, first, end); }));
        } catch (const std::system_error&) {
            match = pagesMatch(directory, slice, first, end) && match; // no thread to spare
        }
    }
    match = pagesMatch(directory, slice, 0, each) && match;
    for (std::future<bool>& other : others)
        match = other.get() && match;
    return match;
}

std::optional<QByteArray> embeddedInfoPlist(const SliceSignature& slice)
{
    if (!slice.slice.infoPlist)
        return std::nullopt;
    const auto bytes = slice.bytes.sub(slice.slice.infoPlist->first, slice.slice.infoPlist->second);
    if (!bytes)
        return std::nullopt;
    return bytes->toByteArray();
}

std::optional<QVariantMap> dictionaryOf(const std::optional<QByteArray>& bytes)
{
    if (!bytes)
        return std::nullopt;
    const auto value = PropertyList::parse(*bytes);
    if (!value || value->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return value->toMap();
}

std::vector<QByteArray> cdhashesOf(const EmbeddedSignature& signature)
{
    std::vector<QByteArray> out;
    for (const CodeDirectory& directory : signature.directories)
        out.push_back(directory.cdhash());
    return out;
}

bool hasExtension(X509* certificate, const char* oid)
{
    const Asn1ObjectPtr object(OBJ_txt2obj(oid, 1));
    return certificate && object && X509_get_ext_by_OBJ(certificate, object.get(), -1) >= 0;
}

std::optional<QString> subjectField(X509* certificate, int nid)
{
    X509_NAME* name = X509_get_subject_name(certificate);
    const int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0)
        return std::nullopt;
    unsigned char* text = nullptr;
    const int length = ASN1_STRING_to_UTF8(&text, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
    if (length < 0)
        return std::nullopt;
    const QString value = QString::fromUtf8(reinterpret_cast<const char*>(text), length);
    OPENSSL_free(text);
    return value;
}

RequirementExpr node(RequirementOp op)
{
    RequirementExpr out;
    out.op = op;
    return out;
}

RequirementExpr both(RequirementExpr left, RequirementExpr right)
{
    RequirementExpr out = node(RequirementOp::andOp);
    out.operands.push_back(std::move(left));
    out.operands.push_back(std::move(right));
    return out;
}

RequirementExpr certificateExtension(std::int32_t slot, const char* oid)
{
    RequirementExpr out = node(RequirementOp::certGeneric);
    out.certificate = slot;
    out.data = encodeObjectIdentifier(QLatin1StringView(oid)).value_or(QByteArray());
    out.match = MatchOp::exists;
    return out;
}

RequirementExpr certificateSubject(std::int32_t slot, const char* field, const QString& value)
{
    RequirementExpr out = node(RequirementOp::certField);
    out.certificate = slot;
    out.data = field;
    out.match = MatchOp::equal;
    out.matchValue = value.toUtf8();
    return out;
}

} // namespace

Requirement impliedRequirement(const QString& identifier, const std::vector<QByteArray>& cdhashes,
    const std::vector<Certificate>& chain, bool anchoredAtApple)
{
    if (chain.empty()) {
        // Ad-hoc code is only ever itself.
        std::optional<RequirementExpr> out;
        for (const QByteArray& hash : cdhashes) {
            RequirementExpr match = node(RequirementOp::cdhash);
            match.data = hash;
            if (!out) {
                out = std::move(match);
            } else {
                RequirementExpr either = node(RequirementOp::orOp);
                either.operands.push_back(std::move(*out));
                either.operands.push_back(std::move(match));
                out = std::move(either);
            }
        }
        return Requirement(out.value_or(node(RequirementOp::alwaysFalse)));
    }
    RequirementExpr name = node(RequirementOp::identifier);
    name.data = identifier.toUtf8();
    X509* leaf = chain.front().get();
    if (anchoredAtApple) {
        if (subjectField(leaf, NID_commonName) == u"Software Signing"_s)
            return Requirement(both(std::move(name), node(RequirementOp::appleAnchor)));
        RequirementExpr out = both(std::move(name), node(RequirementOp::appleGenericAnchor));
        X509* issuer = chain.size() > 1 ? chain[1].get() : nullptr;
        const auto team = subjectField(leaf, NID_organizationalUnitName);
        if (hasExtension(issuer, developerIdIntermediate) && hasExtension(leaf, developerIdLeaf) && team) {
            out = both(std::move(out), certificateExtension(1, developerIdIntermediate));
            out = both(std::move(out), certificateExtension(leafCertificate, developerIdLeaf));
            return Requirement(
                both(std::move(out), certificateSubject(leafCertificate, "subject.OU", *team)));
        }
        if (hasExtension(leaf, macAppStoreLeaf))
            return Requirement(both(std::move(out), certificateExtension(leafCertificate, macAppStoreLeaf)));
        const auto commonName = subjectField(leaf, NID_commonName);
        out = both(std::move(out),
            certificateSubject(leafCertificate, "subject.CN", commonName.value_or(QString())));
        return Requirement(both(std::move(out), certificateExtension(1, worldwideDeveloperIntermediate)));
    }
    RequirementExpr root = node(RequirementOp::anchorHash);
    root.certificate = anchorCertificate;
    root.data = Digest::of(HashType::sha1, ByteView(derOf(chain.back().get())));
    return Requirement(both(std::move(name), std::move(root)));
}

ValidityResult Validator::validate(
    const QString& path, std::uint32_t flags, const Requirement* requirement) const
{
    std::optional<RevocationChecker> revocation;
    if (flags & ValidityFlags::enforceRevocationChecks)
        revocation.emplace(m_settings.revocationDeadline);
    ValidityResult result
        = ValidityResult::of(validateAt(path, flags, requirement, 0, revocation ? &*revocation : nullptr));
    if (revocation)
        result.revocationNote = revocation->note();
    return result;
}

int Validator::checkSlice(
    const CodeLocation& location, const SliceSignature& slice, std::uint32_t flags, SliceFacts& facts) const
{
    if (!slice.slice.signature)
        return SigningStatus::notSigned;
    if (slice.malformed || !slice.signature)
        return SigningStatus::signatureFailed;
    const EmbeddedSignature& signature = *slice.signature;
    const SignatureLocation& where = *slice.slice.signature;
    facts.cpuType = slice.slice.cpuType;
    facts.signature = &signature;
    const CodeDirectory& primary = signature.primary();

    for (const CodeDirectory& directory : signature.directories) {
        if (directory.scatterOffset != 0)
            return SigningStatus::signatureUnsupported;
        if (directory.identifier != primary.identifier || directory.team != primary.team
            || directory.codeLimit > where.dataOffset)
            return SigningStatus::signatureFailed;
        if (strict(flags) && directory.codeLimit != where.dataOffset)
            return SigningStatus::signatureFailed;
    }
    if (strict(flags)) {
        // The signature is the last thing in the slice, the SuperBlob ends with
        // its last blob, and what follows inside the region is padding.
        if (signature.length != signature.blobsEnd)
            return SigningStatus::signatureFailed;
        if (std::uint64_t(where.dataOffset) + where.dataSize != slice.bytes.size())
            return SigningStatus::signatureFailed;
        const ByteView padding = *slice.bytes.sub(
            std::uint64_t(where.dataOffset) + signature.length, where.dataSize - signature.length);
        if (std::any_of(
                padding.data(), padding.data() + padding.size(), [](std::uint8_t b) { return b != 0; }))
            return SigningStatus::signatureFailed;
    }

    // The signer: none for ad-hoc code; a CMS signature over the directories otherwise.
    const QByteArray cms = signature.cms.value_or(QByteArray());
    if (primary.flags & codeFlags::adhoc) {
        if (!cms.isEmpty())
            return SigningStatus::signatureFailed;
    } else {
        facts.signer = checkSignature(cms, signature.directories, m_settings.anchors, m_settings.clock(),
            flags & ValidityFlags::considerExpiration);
        if (facts.signer.status != SigningStatus::ok)
            return facts.signer.status;
        // The Team ID is the certificate's to give: a directory naming a team
        // its leaf doesn't carry lies about who signed it.
        if (primary.team && !primary.team->isEmpty()
            && !certificateNamesTeam(facts.signer.chain.front().get(), *primary.team))
            return SigningStatus::signatureInvalid;
    }

    // Special slots: what the directories bind besides the code.
    std::optional<QByteArray> infoPlist;
    if (location.isBundle())
        infoPlist = readWhole(location.infoPlistPath);
    else
        infoPlist = embeddedInfoPlist(slice);
    std::optional<QByteArray> seal;
    if (location.isBundle())
        seal = readWhole(location.resourceSealPath);
    for (const CodeDirectory& directory : signature.directories) {
        const int statuses[] = {
            checkSpecialSlot(directory, specialSlot::infoPlist, infoPlist, SigningStatus::infoPlistFailed,
                SigningStatus::infoPlistFailed,
                location.isBundle() ? SigningStatus::infoPlistFailed : SigningStatus::ok),
            checkSpecialSlot(directory, specialSlot::requirements, signature.requirements,
                SigningStatus::signatureFailed, SigningStatus::signatureFailed,
                SigningStatus::signatureFailed),
            checkSpecialSlot(directory, specialSlot::resourceDirectory, seal,
                SigningStatus::resourceDirectoryFailed, SigningStatus::resourcesNotFound,
                SigningStatus::resourcesNotSealed),
            checkSpecialSlot(directory, specialSlot::entitlements, signature.entitlements,
                SigningStatus::signatureFailed, SigningStatus::signatureFailed,
                SigningStatus::signatureFailed),
            checkSpecialSlot(directory, specialSlot::derEntitlements, signature.derEntitlements,
                SigningStatus::signatureFailed, SigningStatus::signatureFailed,
                SigningStatus::signatureFailed),
        };
        for (const int status : statuses) {
            if (status != SigningStatus::ok)
                return status;
        }
    }
    if (location.isBundle() && !seal)
        return SigningStatus::resourcesNotSealed;

    // Every directory's page hashes, not just the strongest: for ad-hoc code
    // nothing else vouches for the others, and requirements may name any of them.
    for (const CodeDirectory& directory : signature.directories) {
        if (!pagesMatch(directory, slice.bytes))
            return SigningStatus::signatureFailed;
    }

    if (signature.entitlements)
        facts.entitlements = dictionaryOf(signature.entitlements->mid(8));
    return SigningStatus::ok;
}

EvaluationContext Validator::contextFor(const CodeLocation& location, const SliceFacts& facts) const
{
    EvaluationContext context;
    const CodeDirectory& primary = facts.signature->primary();
    context.identifier = primary.identifier;
    if (!(primary.flags & (codeFlags::adhoc | codeFlags::linkerSigned)))
        context.team = primary.team;
    context.cdhashes = cdhashesOf(*facts.signature);
    context.infoPlist = location.infoPlist;
    context.entitlements = facts.entitlements;
    context.chain = facts.signer.chain;
    context.anchoredAtApple = facts.signer.anchoredAtApple;
    context.platform = primary.platform;
    return context;
}

int Validator::validateAt(const QString& path, std::uint32_t flags, const Requirement* requirement, int depth,
    RevocationChecker* revocation) const
{
    const auto location = CodeLocation::locate(path);
    if (!location)
        return SigningStatus::staticCodeNotFound;
    if (strict(flags)) {
        if (const int status = checkRealLayout(*location); status != SigningStatus::ok)
            return status;
    }
    if (location->isBundle() && !location->infoPlist)
        return SigningStatus::badBundleFormat;
    if (location->executablePath.isEmpty())
        return SigningStatus::notSigned;
    if (!QFileInfo(location->executablePath).isFile())
        return SigningStatus::noMainExecutable;
    const auto image = SignedImage::open(location->executablePath);
    if (!image) {
        // A Mach-O header whose slices lie outside the file is damage, not an unsigned script.
        return isMachOFile(location->executablePath) ? SigningStatus::badObjectFormat
                                                     : SigningStatus::notSigned;
    }

    std::vector<const SliceSignature*> slices;
    if (flags & ValidityFlags::checkAllArchitectures) {
        for (const SliceSignature& slice : image->slices())
            slices.push_back(&slice);
    } else {
        slices.push_back(&image->preferred(m_settings.hostCpuType));
    }
    std::vector<SliceFacts> facts(slices.size());
    for (std::size_t i = 0; i < slices.size(); ++i) {
        if (const int status = checkSlice(*location, *slices[i], flags, facts[i]);
            status != SigningStatus::ok)
            return status;
        // Every architecture must be the same code from the same signer.
        const CodeDirectory& first = facts[0].signature->primary();
        const CodeDirectory& current = facts[i].signature->primary();
        if (current.identifier != first.identifier || current.team != first.team)
            return SigningStatus::signatureFailed;
    }

    if (location->isBundle()) {
        if (const int status = checkResources(*location, flags, depth, revocation);
            status != SigningStatus::ok)
            return status;
    }

    // Last, as the one check that goes to the network.
    if (revocation) {
        for (const SliceFacts& slice : facts) {
            if (!revocation->passes(slice.signer.chain))
                return SigningStatus::certificateRevoked;
        }
    }

    if (requirement) {
        for (const SliceFacts& slice : facts) {
            if (!satisfies(*requirement, contextFor(*location, slice)))
                return SigningStatus::requirementFailed;
        }
    }
    return SigningStatus::ok;
}

int Validator::checkResources(
    const CodeLocation& location, std::uint32_t flags, int depth, RevocationChecker* revocation) const
{
    // Where links must lead, as the file system resolves them.
    std::optional<QString> realRoot;
    if (strict(flags)) {
        realRoot = resolvedPath(location.path);
        if (!realRoot)
            return SigningStatus::invalidSymlink;
        // Nothing may sit beside what the seal covers.
        const QStringList rootNames
            = QDir(location.path)
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        if (location.kind == BundleKind::app) {
            for (const QString& name : rootNames) {
                if (name != u"Contents")
                    return SigningStatus::unsealedAppRoot;
            }
        } else if (location.kind == BundleKind::framework) {
            for (const QString& name : rootNames) {
                const QString entry = location.path + u'/' + name;
                const bool versions = name == u"Versions" && !QFileInfo(entry).isSymLink();
                const bool link = QFileInfo(entry).isSymLink()
                    && linkTarget(entry).startsWith(u"Versions/Current/") && leadsInside(entry, *realRoot);
                if (!versions && !link)
                    return SigningStatus::unsealedFrameworkRoot;
            }
        }
    }

    const auto bytes = readWhole(location.resourceSealPath);
    if (!bytes)
        return SigningStatus::resourcesNotFound;
    const auto seal = ResourceSeal::parse(*bytes);
    if (!seal)
        return SigningStatus::resourcesInvalid;
    if (seal->version < 2 && strict(flags))
        return SigningStatus::weakResourceEnvelope;

    const QString prefix = location.contentRoot + u'/';
    const QString mainExecutable
        = location.executablePath.startsWith(prefix) ? location.executablePath.mid(prefix.size()) : QString();
    int walkStatus = SigningStatus::ok;
    const auto items = walkResources(location.contentRoot, seal->rules, mainExecutable, &walkStatus);
    if (!items)
        return walkStatus;

    std::set<QString> seen;
    for (const ResourceItem& item : *items) {
        const auto found = seal->files.find(item.relativePath);
        if (found == seal->files.end())
            return SigningStatus::badResource; // added
        const SealedResource& sealed = found->second;
        seen.insert(item.relativePath);
        switch (item.kind) {
        case ResourceItem::Kind::file: {
            if (sealed.isNestedCode() || sealed.symlink)
                return SigningStatus::badResource;
            const HashType type = sealed.sha256 ? HashType::sha256 : HashType::sha1;
            const auto hash = hashFile(item.absolutePath, type);
            if (!hash || *hash != (sealed.sha256 ? *sealed.sha256 : *sealed.sha1))
                return SigningStatus::badResource; // modified
            break;
        }
        case ResourceItem::Kind::symlink: {
            const QString target = linkTarget(item.absolutePath);
            if (!sealed.symlink || *sealed.symlink != target)
                return SigningStatus::badResource;
            if (strict(flags) && !leadsInside(item.absolutePath, *realRoot))
                return SigningStatus::invalidSymlink;
            break;
        }
        case ResourceItem::Kind::nestedCode:
            if (!sealed.isNestedCode())
                return SigningStatus::badResource;
            if (const int status = checkNested(item.absolutePath, sealed, flags, depth, revocation);
                status != SigningStatus::ok)
                return status;
            break;
        }
    }
    for (const auto& [relative, sealed] : seal->files) {
        if (seen.count(relative) || sealed.optional)
            continue;
        const ResourceRule* rule = seal->rules.match(relative);
        if (!rule || rule->omit)
            continue;
        return SigningStatus::badResource; // missing
    }
    return SigningStatus::ok;
}

int Validator::checkNested(const QString& path, const SealedResource& sealed, std::uint32_t flags, int depth,
    RevocationChecker* revocation) const
{
    if (depth >= maxNesting)
        return SigningStatus::badNestedCode;
    // The code there now must be the code that was sealed.
    const auto location = CodeLocation::locate(path);
    if (location && strict(flags) && checkRealLayout(*location) != SigningStatus::ok)
        return SigningStatus::badNestedCode;
    const auto image = location && !location->executablePath.isEmpty()
        ? SignedImage::open(location->executablePath)
        : std::nullopt;
    if (!image)
        return SigningStatus::unsignedNestedCode;
    bool sealedHashFound = false;
    bool signedAtAll = false;
    for (const SliceSignature& slice : image->slices()) {
        if (!slice.signature)
            continue;
        signedAtAll = true;
        for (const CodeDirectory& directory : slice.signature->directories)
            sealedHashFound = sealedHashFound || directory.cdhash() == *sealed.cdhash;
    }
    if (!signedAtAll)
        return SigningStatus::unsignedNestedCode;
    if (!sealedHashFound)
        return SigningStatus::badNestedCode;
    if (!(flags & ValidityFlags::checkNestedCode))
        return SigningStatus::ok;

    std::optional<Requirement> requirement;
    if (sealed.requirement) {
        requirement = Requirement::compile(*sealed.requirement);
        if (!requirement)
            return SigningStatus::badNestedCode;
    }
    const int nested = validateAt(path, flags, requirement ? &*requirement : nullptr, depth + 1, revocation);
    if (nested == SigningStatus::notSigned)
        return SigningStatus::unsignedNestedCode;
    // A revoked certificate is the news, wherever in the bundle it signed.
    if (nested == SigningStatus::ok || nested == SigningStatus::certificateRevoked)
        return nested;
    return SigningStatus::badNestedCode;
}

std::optional<Requirement> Validator::designatedRequirement(const QString& path) const
{
    const auto location = CodeLocation::locate(path);
    if (!location || location->executablePath.isEmpty())
        return std::nullopt;
    const auto image = SignedImage::open(location->executablePath);
    if (!image)
        return std::nullopt;
    const SliceSignature& slice = image->preferred(m_settings.hostCpuType);
    if (!slice.signature)
        return std::nullopt;
    const EmbeddedSignature& signature = *slice.signature;
    if (signature.requirements) {
        const auto set = RequirementSet::fromBlob(ByteView(*signature.requirements));
        if (!set)
            return std::nullopt;
        if (const Requirement* designated = set->find(RequirementType::designated))
            return *designated;
    }
    const CodeDirectory& primary = signature.primary();
    if (primary.flags & codeFlags::adhoc) {
        std::vector<QByteArray> hashes;
        for (const SliceSignature& each : image->slices()) {
            if (each.signature)
                hashes.push_back(each.signature->best().cdhash());
        }
        return impliedRequirement(primary.identifier, hashes, {}, false);
    }
    const SignerCheck signer = checkSignature(signature.cms.value_or(QByteArray()), signature.directories,
        m_settings.anchors, m_settings.clock(), false);
    if (signer.status != SigningStatus::ok)
        return std::nullopt;
    return impliedRequirement(
        primary.identifier, cdhashesOf(signature), signer.chain, signer.anchoredAtApple);
}

} // namespace corvanta::codesign
