#include "codesign/SigningIdentity.h"

#include "codesign/OpenSsl.h"

namespace corvanta::codesign {

std::optional<SigningIdentity> SigningIdentity::fromPem(
    const QByteArray& keyPem, const QByteArray& certificatesPem)
{
    BioPtr keyBio(BIO_new_mem_buf(keyPem.constData(), int(keyPem.size())));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr);
    if (!key) {
        ERR_clear_error();
        return std::nullopt;
    }
    SigningIdentity identity;
    identity.key = std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free);
    BioPtr certificateBio(BIO_new_mem_buf(certificatesPem.constData(), int(certificatesPem.size())));
    while (X509* certificate = PEM_read_bio_X509(certificateBio.get(), nullptr, nullptr, nullptr)) {
        Certificate shared(certificate, X509_free);
        if (!identity.leaf)
            identity.leaf = std::move(shared);
        else
            identity.chain.push_back(std::move(shared));
    }
    ERR_clear_error();
    if (!identity.leaf || X509_check_private_key(identity.leaf.get(), key) != 1) {
        ERR_clear_error();
        return std::nullopt;
    }
    return identity;
}

std::optional<QString> SigningIdentity::team() const
{
    if (!leaf)
        return std::nullopt;
    X509_NAME* subject = X509_get_subject_name(leaf.get());
    const int index = X509_NAME_get_index_by_NID(subject, NID_organizationalUnitName, -1);
    if (index < 0)
        return std::nullopt;
    unsigned char* text = nullptr;
    const int length
        = ASN1_STRING_to_UTF8(&text, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)));
    if (length < 0)
        return std::nullopt;
    const QString team = QString::fromUtf8(reinterpret_cast<const char*>(text), length);
    OPENSSL_free(text);
    return team;
}

} // namespace corvanta::codesign
