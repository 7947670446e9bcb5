#include "codesign/ChainVerification.h"

#include "codesign/OpenSsl.h"

namespace corvanta::codesign {

ChainResult verifyChain(
    X509* leaf, STACK_OF(X509) * untrusted, const TrustAnchors& anchors, const QDateTime& at, bool checkTime)
{
    ChainResult result;
    StorePtr store(X509_STORE_new());
    for (const QByteArray& der : anchors.certificates()) {
        if (X509Ptr anchor = certificateFromDer(der))
            X509_STORE_add_cert(store.get(), anchor.get());
    }
    StoreContextPtr context(X509_STORE_CTX_new());
    if (!store || !context || X509_STORE_CTX_init(context.get(), store.get(), leaf, untrusted) != 1)
        return result;
    X509_STORE_CTX_set_verify_cb(context.get(), allowAppleCriticalExtensions);
    X509_VERIFY_PARAM* parameters = X509_STORE_CTX_get0_param(context.get());
    X509_VERIFY_PARAM_set_depth(parameters, maxChainLength);
    if (checkTime)
        X509_VERIFY_PARAM_set_time(parameters, time_t(at.toSecsSinceEpoch()));
    else
        X509_VERIFY_PARAM_set_flags(parameters, X509_V_FLAG_NO_CHECK_TIME);
    const int verified = X509_verify_cert(context.get());
    const int error = X509_STORE_CTX_get_error(context.get());
    ERR_clear_error();
    if (verified == 1) {
        result.outcome = ChainOutcome::trusted;
        STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(context.get());
        for (int i = 0; i < sk_X509_num(chain); ++i)
            result.chain.push_back(shareCertificate(sk_X509_value(chain, i)));
        return result;
    }
    if (error == X509_V_ERR_CERT_HAS_EXPIRED)
        result.outcome = ChainOutcome::expired;
    else if (error == X509_V_ERR_CERT_NOT_YET_VALID)
        result.outcome = ChainOutcome::notYetValid;
    return result;
}

} // namespace corvanta::codesign
