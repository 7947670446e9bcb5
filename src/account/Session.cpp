#include "account/Session.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

using namespace Qt::StringLiterals;

namespace corvanta {

const QDateTime Session::referenceDate(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());

QByteArray Session::toJson() const
{
    // QJsonObject sorts its keys; the order of the fields is kept by writing
    // the members one by one.
    const auto member = [](const char* key, const QJsonValue& value) {
        return QJsonDocument(QJsonObject { { QLatin1StringView(key), value } })
            .toJson(QJsonDocument::Compact)
            .mid(1)
            .chopped(1);
    };
    QByteArrayList members {
        member("uid", uid),
        member("email", email),
        member("idToken", idToken),
        member("refreshToken", refreshToken),
        member("expires", double(referenceDate.msecsTo(expires)) / 1000.0),
        member("provider", provider),
    };
    if (name)
        members.append(member("name", *name));
    if (emailVerified)
        members.append(member("emailVerified", *emailVerified));
    return '{' + members.join(',') + '}';
}

std::optional<Session> Session::fromJson(const QByteArray& json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    for (const char* key : { "uid", "email", "idToken", "refreshToken", "provider" }) {
        if (!object.value(QLatin1StringView(key)).isString())
            return std::nullopt;
    }
    const QJsonValue expires = object.value(u"expires"_s);
    const QJsonValue name = object.value(u"name"_s);
    const QJsonValue verified = object.value(u"emailVerified"_s);
    // A present optional must still have its type; null reads as absent.
    if (!expires.isDouble() || !(name.isString() || name.isNull() || name.isUndefined())
        || !(verified.isBool() || verified.isNull() || verified.isUndefined()))
        return std::nullopt;
    Session session;
    session.uid = object.value(u"uid"_s).toString();
    session.email = object.value(u"email"_s).toString();
    session.idToken = object.value(u"idToken"_s).toString();
    session.refreshToken = object.value(u"refreshToken"_s).toString();
    session.expires = referenceDate.addMSecs(qRound64(expires.toDouble() * 1000.0));
    session.provider = object.value(u"provider"_s).toString();
    if (name.isString())
        session.name = name.toString();
    if (verified.isBool())
        session.emailVerified = verified.toBool();
    return session;
}

} // namespace corvanta
