#include "app/Commands.h"
#include "codesign/CmsSignature.h"
#include "codesign/CodeLocation.h"
#include "codesign/OpenSsl.h"
#include "codesign/PortableCodeSigning.h"
#include "codesign/SignedImage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

using namespace codesign;

QStringList flagNames(std::uint32_t flags)
{
    static const std::vector<std::pair<std::uint32_t, QString>> names { { codeFlags::host, u"host"_s },
        { codeFlags::adhoc, u"adhoc"_s }, { codeFlags::hard, u"hard"_s }, { codeFlags::kill, u"kill"_s },
        { codeFlags::forceExpiration, u"expires"_s }, { codeFlags::restrict, u"restrict"_s },
        { codeFlags::enforcement, u"enforcement"_s },
        { codeFlags::libraryValidation, u"library-validation"_s }, { codeFlags::runtime, u"runtime"_s },
        { codeFlags::linkerSigned, u"linker-signed"_s } };
    QStringList out;
    for (const auto& [bit, name] : names) {
        if (flags & bit)
            out << name;
    }
    return out;
}

QString subjectName(const Certificate& certificate)
{
    char buffer[512];
    X509_NAME_oneline(X509_get_subject_name(certificate.get()), buffer, sizeof buffer);
    return QString::fromUtf8(buffer);
}

// What the signature of the preferred architecture says about its signer.
struct SignerFacts {
    QStringList chain;
    bool anchored = false;
    std::optional<QDateTime> timestamp;
};

std::optional<SignerFacts> signerOf(const EmbeddedSignature& signature, const TrustAnchors& anchors)
{
    if (signature.primary().flags & codeFlags::adhoc)
        return std::nullopt;
    const SignerCheck check = checkSignature(signature.cms.value_or(QByteArray()), signature.directories,
        anchors, QDateTime::currentDateTimeUtc(), false);
    if (check.status != SigningStatus::ok)
        return std::nullopt;
    SignerFacts facts;
    for (const Certificate& certificate : check.chain)
        facts.chain << subjectName(certificate);
    facts.anchored = check.anchoredAtApple;
    facts.timestamp = check.timestamp;
    return facts;
}

} // namespace

QCoro::Task<int> commands::inspectSignature(CliContext& context)
{
    QStringList arguments = context.arguments;
    // Offline: judged without asking the certificates' revocation services.
    const std::uint32_t validityFlags = arguments.removeAll(u"--offline"_s) > 0
        ? ValidityFlags::installer & ~ValidityFlags::enforceRevocationChecks
        : ValidityFlags::installer;
    QString anchorFolder = TrustAnchors::defaultFolder();
    if (const qsizetype at = arguments.indexOf(u"--anchors"_s); at >= 0) {
        if (at + 1 >= arguments.size())
            co_return context.usage(u"--anchors needs a folder of root certificates."_s);
        anchorFolder = arguments[at + 1];
        arguments.remove(at, 2);
    }
    if (arguments.size() != 1)
        co_return context.usage(u"inspect signature takes one bundle or executable."_s);
    const QString path = arguments[0];
    const PortableCodeSigning signing { TrustAnchors::fromFolder(anchorFolder) };

    const auto location = CodeLocation::locate(path);
    const auto image = location && !location->executablePath.isEmpty()
        ? SignedImage::open(location->executablePath)
        : std::nullopt;
    if (!image) {
        context.err << u"No Mach-O code at \u201c%1\u201d."_s.arg(path) << '\n';
        co_return 1;
    }
    const SliceSignature& preferred = image->preferred(signing.hostCpuType());
    QStringList architectures;
    for (const SliceSignature& slice : image->slices())
        architectures << architectureName(slice.slice.cpuType);
    const SigningInformation info = signing.signing(path);
    const ValidityResult validity = signing.checkValidity(path, validityFlags);
    const std::optional<QString> designated = signing.designatedRequirement(path);
    const std::uint32_t flags = preferred.signature ? preferred.signature->primary().flags : 0;
    const QString cdhash
        = preferred.signature ? QString::fromLatin1(preferred.signature->best().cdhash().toHex()) : QString();
    const std::optional<SignerFacts> signer
        = preferred.signature ? signerOf(*preferred.signature, signing.anchors()) : std::nullopt;
    const QString validityText = validity.isValid()
        ? (validity.revocationNote ? u"valid; "_s + *validity.revocationNote : u"valid"_s)
        : u"invalid (%1): %2"_s.arg(QString::number(validity.status),
            validity.message.value_or(u"error "_s + QString::number(validity.status)));

    if (context.json) {
        QJsonObject document { { u"path"_s, location->path },
            { u"architectures"_s, QJsonArray::fromStringList(architectures) },
            { u"signed"_s, preferred.signature.has_value() },
            { u"identifier"_s, info.identifier ? QJsonValue(*info.identifier) : QJsonValue() },
            { u"team"_s, info.team ? QJsonValue(*info.team) : QJsonValue() }, { u"flags"_s, qint64(flags) },
            { u"flagNames"_s, QJsonArray::fromStringList(flagNames(flags)) },
            { u"cdhash"_s, cdhash.isEmpty() ? QJsonValue() : QJsonValue(cdhash) },
            { u"valid"_s, validity.isValid() }, { u"status"_s, validity.status },
            { u"message"_s, validity.message ? QJsonValue(*validity.message) : QJsonValue() },
            { u"revocationNote"_s,
                validity.revocationNote ? QJsonValue(*validity.revocationNote) : QJsonValue() },
            { u"designatedRequirement"_s, designated ? QJsonValue(*designated) : QJsonValue() } };
        if (signer) {
            document[u"signer"_s] = QJsonObject { { u"chain"_s, QJsonArray::fromStringList(signer->chain) },
                { u"anchoredAtApple"_s, signer->anchored },
                { u"timestamp"_s,
                    signer->timestamp ? QJsonValue(signer->timestamp->toString(Qt::ISODate))
                                      : QJsonValue() } };
        }
        context.out << QJsonDocument(document).toJson(QJsonDocument::Indented);
        co_return 0;
    }

    const auto line = [&context](const QString& label, const QString& value) {
        context.out << QString(label + u':').leftJustified(24) << value << '\n';
    };
    line(u"Path"_s, location->path);
    line(u"Architectures"_s, architectures.join(u", "_s));
    line(u"Identifier"_s, info.identifier.value_or(u"none (unsigned)"_s));
    line(u"Team"_s, info.team.value_or(u"none"_s));
    line(u"Flags"_s,
        u"0x"_s + QString::number(flags, 16)
            + (flags ? u" ("_s + flagNames(flags).join(u", "_s) + u')' : QString()));
    line(u"CDHash"_s, cdhash.isEmpty() ? u"none"_s : cdhash);
    if (signer) {
        line(u"Signer"_s, signer->chain.value(0));
        for (qsizetype i = 1; i < signer->chain.size(); ++i)
            line(u"  issued by"_s, signer->chain[i]);
        line(u"Anchored at Apple root"_s, signer->anchored ? u"yes"_s : u"no"_s);
        line(u"Timestamp"_s, signer->timestamp ? signer->timestamp->toString(Qt::ISODate) : u"none"_s);
    }
    line(u"Validity"_s, validityText);
    line(u"Designated requirement"_s, designated.value_or(u"none"_s));
    co_return 0;
}

} // namespace corvanta
