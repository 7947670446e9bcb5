#include "codesign/RequirementEvaluator.h"

#include "codesign/Digest.h"
#include "codesign/OpenSsl.h"

#include <QDateTime>

using namespace Qt::StringLiterals;

namespace corvanta::codesign {

Certificate shareCertificate(X509* certificate)
{
    if (!certificate)
        return {};
    X509_up_ref(certificate);
    return Certificate(certificate, X509_free);
}

namespace {

// Seconds from the Unix epoch to the requirement language's (2001-01-01).
constexpr qint64 referenceEpoch = 978307200;

// Comparison of two texts where runs of digits compare as numbers ("10" > "9").
int compareNumerically(const QString& a, const QString& b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype endA = i;
            qsizetype endB = j;
            while (endA < a.size() && a[endA].isDigit())
                ++endA;
            while (endB < b.size() && b[endB].isDigit())
                ++endB;
            QStringView numberA = QStringView(a).mid(i, endA - i);
            QStringView numberB = QStringView(b).mid(j, endB - j);
            while (numberA.size() > 1 && numberA[0] == u'0')
                numberA = numberA.mid(1);
            while (numberB.size() > 1 && numberB[0] == u'0')
                numberB = numberB.mid(1);
            if (numberA.size() != numberB.size())
                return numberA.size() < numberB.size() ? -1 : 1;
            if (const int order = numberA.compare(numberB); order != 0)
                return order < 0 ? -1 : 1;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j] ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

// The text a property-list value compares as.
std::optional<QString> valueText(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::Double:
        return value.toString();
    case QMetaType::Bool:
        return value.toBool() ? u"true"_s : u"false"_s;
    case QMetaType::QByteArray:
        return QString::fromUtf8(value.toByteArray());
    default:
        return std::nullopt;
    }
}

bool matchText(const RequirementExpr& node, const std::optional<QString>& actual)
{
    if (node.match == MatchOp::absent)
        return !actual;
    if (!actual)
        return false;
    const QString wanted = QString::fromUtf8(node.matchValue);
    switch (node.match) {
    case MatchOp::exists:
        return true;
    case MatchOp::equal:
        return *actual == wanted;
    case MatchOp::contains:
        return actual->contains(wanted);
    case MatchOp::beginsWith:
        return actual->startsWith(wanted);
    case MatchOp::endsWith:
        return actual->endsWith(wanted);
    case MatchOp::lessThan:
        return compareNumerically(*actual, wanted) < 0;
    case MatchOp::greaterThan:
        return compareNumerically(*actual, wanted) > 0;
    case MatchOp::lessEqual:
        return compareNumerically(*actual, wanted) <= 0;
    case MatchOp::greaterEqual:
        return compareNumerically(*actual, wanted) >= 0;
    default:
        return false;
    }
}

// Matches a property-list value (info and entitlement keys); "exists" means
// present and not an explicit false.
bool matchValue(const RequirementExpr& node, const std::optional<QVariantMap>& dictionary)
{
    const QString key = QString::fromUtf8(node.data);
    if (!dictionary || !dictionary->contains(key))
        return node.match == MatchOp::absent;
    const QVariant value = dictionary->value(key);
    if (node.match == MatchOp::exists)
        return !(value.typeId() == QMetaType::Bool && !value.toBool());
    if (value.typeId() == QMetaType::QVariantList) {
        // An array matches when any of its elements does.
        for (const QVariant& item : value.toList()) {
            if (matchText(node, valueText(item)))
                return true;
        }
        return false;
    }
    return matchText(node, valueText(value));
}

X509* certificateAt(const EvaluationContext& context, std::int32_t index)
{
    const auto size = std::int64_t(context.chain.size());
    const std::int64_t position = index < 0 ? size + index : index;
    if (position < 0 || position >= size)
        return nullptr;
    return context.chain[std::size_t(position)].get();
}

std::vector<QString> nameValues(X509_NAME* name, int nid)
{
    std::vector<QString> out;
    for (int at = X509_NAME_get_index_by_NID(name, nid, -1); at >= 0;
         at = X509_NAME_get_index_by_NID(name, nid, at)) {
        unsigned char* text = nullptr;
        const int length
            = ASN1_STRING_to_UTF8(&text, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at)));
        if (length >= 0) {
            out.push_back(QString::fromUtf8(reinterpret_cast<const char*>(text), length));
            OPENSSL_free(text);
        }
    }
    return out;
}

// The values of a named field ("subject.OU", "issuer.CN", "email"…) of a certificate.
std::optional<std::vector<QString>> fieldValues(X509* certificate, const QString& field)
{
    static const std::vector<std::pair<QString, int>> names { { u"CN"_s, NID_commonName },
        { u"C"_s, NID_countryName }, { u"D"_s, NID_description }, { u"DESCRIPTION"_s, NID_description },
        { u"L"_s, NID_localityName }, { u"O"_s, NID_organizationName },
        { u"OU"_s, NID_organizationalUnitName }, { u"ST"_s, NID_stateOrProvinceName },
        { u"STREET"_s, NID_streetAddress }, { u"UID"_s, NID_userId }, { u"E"_s, NID_pkcs9_emailAddress },
        { u"EMAIL"_s, NID_pkcs9_emailAddress } };
    const qsizetype dot = field.indexOf(u'.');
    const QString scope = dot < 0 ? field : field.left(dot);
    const QString part = dot < 0 ? QString() : field.mid(dot + 1);
    X509_NAME* name = nullptr;
    if (scope == u"subject")
        name = X509_get_subject_name(certificate);
    else if (scope == u"issuer")
        name = X509_get_issuer_name(certificate);
    else
        return std::nullopt;
    if (part.isEmpty()) {
        // The whole name, as one-line text.
        char buffer[1024];
        X509_NAME_oneline(name, buffer, sizeof buffer);
        return std::vector<QString> { QString::fromUtf8(buffer) };
    }
    for (const auto& [label, nid] : names) {
        if (label == part)
            return nameValues(name, nid);
    }
    return std::nullopt;
}

bool matchCertificateField(const RequirementExpr& node, X509* certificate)
{
    const auto values = fieldValues(certificate, QString::fromUtf8(node.data));
    if (!values || values->empty())
        return node.match == MatchOp::absent;
    for (const QString& value : *values) {
        if (matchText(node, value))
            return true;
    }
    return false;
}

Asn1ObjectPtr objectFromContent(const QByteArray& content)
{
    if (content.isEmpty() || content.size() > 120)
        return {};
    QByteArray der;
    der.append(char(0x06));
    der.append(char(content.size()));
    der.append(content);
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(der.constData());
    return Asn1ObjectPtr(d2i_ASN1_OBJECT(nullptr, &cursor, long(der.size())));
}

bool matchExtension(const RequirementExpr& node, X509* certificate)
{
    const Asn1ObjectPtr object = objectFromContent(node.data);
    if (!object)
        return false;
    const int index = X509_get_ext_by_OBJ(certificate, object.get(), -1);
    if (index < 0)
        return node.match == MatchOp::absent;
    if (node.match == MatchOp::exists)
        return true;
    const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(X509_get_ext(certificate, index));
    const QByteArray bytes(
        reinterpret_cast<const char*>(ASN1_STRING_get0_data(data)), ASN1_STRING_length(data));
    if (node.match == MatchOp::equal)
        return bytes == node.matchValue;
    return matchText(node, QString::fromUtf8(bytes));
}

bool matchPolicy(const RequirementExpr& node, X509* certificate)
{
    const Asn1ObjectPtr wanted = objectFromContent(node.data);
    if (!wanted)
        return false;
    auto* policies = static_cast<CERTIFICATEPOLICIES*>(
        X509_get_ext_d2i(certificate, NID_certificate_policies, nullptr, nullptr));
    bool found = false;
    for (int i = 0; policies && i < sk_POLICYINFO_num(policies); ++i) {
        if (OBJ_cmp(sk_POLICYINFO_value(policies, i)->policyid, wanted.get()) == 0)
            found = true;
    }
    CERTIFICATEPOLICIES_free(policies);
    if (node.match == MatchOp::absent)
        return !found;
    return found && node.match == MatchOp::exists;
}

bool matchDate(const RequirementExpr& node, X509* certificate)
{
    const Asn1ObjectPtr object = objectFromContent(node.data);
    if (!object)
        return false;
    const int index = X509_get_ext_by_OBJ(certificate, object.get(), -1);
    if (index < 0)
        return node.match == MatchOp::absent;
    if (node.match == MatchOp::exists)
        return true;
    // The extension holds a time; compare it with the requirement's.
    const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(X509_get_ext(certificate, index));
    const unsigned char* cursor = ASN1_STRING_get0_data(data);
    ASN1_TIME* time = d2i_ASN1_TIME(nullptr, &cursor, ASN1_STRING_length(data));
    const QDateTime when = dateOf(time);
    ASN1_TIME_free(time);
    if (!when.isValid())
        return false;
    const qint64 seconds = when.toSecsSinceEpoch() - referenceEpoch;
    switch (node.match) {
    case MatchOp::on:
        return seconds == node.matchTime;
    case MatchOp::before:
        return seconds < node.matchTime;
    case MatchOp::after:
        return seconds > node.matchTime;
    case MatchOp::onOrBefore:
        return seconds <= node.matchTime;
    case MatchOp::onOrAfter:
        return seconds >= node.matchTime;
    default:
        return false;
    }
}

QByteArray sha1Of(X509* certificate)
{
    return Digest::of(HashType::sha1, ByteView(derOf(certificate)));
}

// Apple's own software is signed by a leaf named "Software Signing".
bool leafIsApplesOwn(const EvaluationContext& context)
{
    X509* leaf = certificateAt(context, leafCertificate);
    if (!leaf)
        return false;
    for (const QString& name : nameValues(X509_get_subject_name(leaf), NID_commonName)) {
        if (name == u"Software Signing")
            return true;
    }
    return false;
}

bool evaluate(const RequirementExpr& node, const EvaluationContext& context)
{
    switch (node.op) {
    case RequirementOp::alwaysFalse:
        return false;
    case RequirementOp::alwaysTrue:
        return true;
    case RequirementOp::identifier:
        return context.identifier == QString::fromUtf8(node.data);
    case RequirementOp::appleAnchor:
        return context.anchoredAtApple && leafIsApplesOwn(context);
    case RequirementOp::appleGenericAnchor:
        return context.anchoredAtApple;
    case RequirementOp::anchorHash: {
        X509* certificate = certificateAt(context, node.certificate);
        return certificate && sha1Of(certificate) == node.data;
    }
    case RequirementOp::infoKeyValue: {
        const QString key = QString::fromUtf8(node.data);
        return context.infoPlist && context.infoPlist->contains(key)
            && valueText(context.infoPlist->value(key)) == QString::fromUtf8(node.value);
    }
    case RequirementOp::andOp:
        return evaluate(node.operands[0], context) && evaluate(node.operands[1], context);
    case RequirementOp::orOp:
        return evaluate(node.operands[0], context) || evaluate(node.operands[1], context);
    case RequirementOp::notOp:
        return !evaluate(node.operands[0], context);
    case RequirementOp::cdhash:
        for (const QByteArray& hash : context.cdhashes) {
            if (hash == node.data)
                return true;
        }
        return false;
    case RequirementOp::infoKeyField:
        return matchValue(node, context.infoPlist);
    case RequirementOp::entitlementField:
        return matchValue(node, context.entitlements);
    case RequirementOp::certField: {
        X509* certificate = certificateAt(context, node.certificate);
        return certificate && matchCertificateField(node, certificate);
    }
    case RequirementOp::certGeneric: {
        X509* certificate = certificateAt(context, node.certificate);
        return certificate && matchExtension(node, certificate);
    }
    case RequirementOp::certPolicy: {
        X509* certificate = certificateAt(context, node.certificate);
        return certificate && matchPolicy(node, certificate);
    }
    case RequirementOp::certFieldDate: {
        X509* certificate = certificateAt(context, node.certificate);
        return certificate && matchDate(node, certificate);
    }
    case RequirementOp::trustedCert:
        // No user trust settings here: a certificate is trusted when the chain
        // it belongs to ends in a configured root.
        return context.anchoredAtApple && certificateAt(context, node.certificate);
    case RequirementOp::trustedCerts:
        return context.anchoredAtApple;
    case RequirementOp::platform:
        return context.platform == node.integer;
    case RequirementOp::namedAnchor:
    case RequirementOp::namedCode:
    case RequirementOp::notarized:
    case RequirementOp::legacyDeveloperId:
        // Named anchors and code, notarization tickets and the legacy policy
        // need the platform's databases; without them these never hold.
        return false;
    }
    return false;
}

} // namespace

bool satisfies(const Requirement& requirement, const EvaluationContext& context)
{
    return evaluate(requirement.expression(), context);
}

} // namespace corvanta::codesign
