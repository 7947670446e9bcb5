#include "package/SignatureReport.h"

#include "codesign/OpenSsl.h"
#include "package/PackageSignature.h"
#include "package/PackageSigner.h"

#include <QFileInfo>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QString fingerprint(const codesign::Certificate& certificate)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(certificate.get(), EVP_sha256(), digest, &length);
    QStringList bytes;
    for (unsigned int i = 0; i < length; ++i)
        bytes << QString::asprintf("%02X", digest[i]);
    return bytes.mid(0, 16).join(u' ') + u"\n           "_s + bytes.mid(16).join(u' ');
}

} // namespace

ToolReport signatureReport(const QString& path, const codesign::TrustAnchors& anchors, const QDateTime& now)
{
    QString text = u"Package \"%1\":\n"_s.arg(withoutControls(QFileInfo(path).fileName()));
    const auto status = [&text](const QString& line) { text += u"   Status: "_s + line + u'\n'; };
    PackageSignature signature;
    try {
        signature = PackageSignature::check(xar::Archive::open(path), anchors, now);
    } catch (const Error& error) {
        status(u"unreadable package ("_s + withoutControls(error.description()) + u')');
        return { 1, text };
    }
    using State = PackageSignature::State;
    switch (signature.state) {
    case State::none:
        status(SignatureStatus::none);
        return { 1, text };
    case State::unsupported:
        status(SignatureStatus::unsupported);
        return { 1, text };
    case State::invalid:
        status(u"invalid signature ("_s + signature.problem + u')');
        return { 1, text };
    case State::untrusted:
        status(SignatureStatus::untrusted);
        break;
    case State::expired:
        status(SignatureStatus::expired);
        break;
    case State::anchored:
        status(SignatureStatus::anchored);
        break;
    case State::developerId:
        status(PackageSigner::trustedStatus);
        break;
    }
    text += u"   Certificate Chain:\n"_s;
    int number = 0;
    for (const codesign::Certificate& certificate : signature.chain) {
        text += u"    %1. %2\n"_s.arg(++number).arg(displayName(certificate));
        text += u"       Expires: "_s
            + codesign::dateOf(X509_get0_notAfter(certificate.get())).toString(u"yyyy-MM-dd HH:mm:ss"_s)
            + u" +0000\n"_s;
        text += u"       SHA256 Fingerprint:\n           "_s + fingerprint(certificate) + u'\n';
        text += u"       "_s + QString(72, u'-') + u'\n';
    }
    const bool trusted = signature.state == State::developerId || signature.state == State::anchored;
    return { trusted ? 0 : 1, text };
}

} // namespace corvanta
