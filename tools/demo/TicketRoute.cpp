#include "demo/TicketRoute.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

using namespace Qt::StringLiterals;

namespace corvanta::demo {

namespace {

HttpReply json(const QJsonObject& object, int status = 200)
{
    return HttpReply::json(QJsonDocument(object).toJson(QJsonDocument::Compact), status);
}

QJsonObject ticket(const QString& name)
{
    const QJsonObject bytes { { u"type"_s, u"BYTES"_s },
        { u"value"_s, QString::fromLatin1(QByteArrayLiteral("Corvanta demo ticket").toBase64()) } };
    return { { u"recordName"_s, name }, { u"fields"_s, QJsonObject { { u"signedTicket"_s, bytes } } } };
}

} // namespace

HttpReply TicketRoute::answer(const QString& documents, const HttpRequest& request)
{
    QSet<QString> notarized;
    QFile file(documents + u'/' + records);
    if (file.open(QIODevice::ReadOnly)) {
        for (const QJsonValue& name : QJsonDocument::fromJson(file.readAll()).array())
            notarized.insert(name.toString());
    }
    const QJsonValue asked = QJsonDocument::fromJson(request.body).object().value(u"records"_s);
    if (!asked.isArray())
        return json({ { u"serverErrorCode"_s, u"BAD_REQUEST"_s } }, 400);
    QJsonArray answers;
    for (const QJsonValue& record : asked.toArray()) {
        const QString name = record.toObject().value(u"recordName"_s).toString();
        answers.append(notarized.contains(name)
                ? ticket(name)
                : QJsonObject { { u"recordName"_s, name }, { u"serverErrorCode"_s, u"NOT_FOUND"_s } });
    }
    return json({ { u"records"_s, answers } });
}

} // namespace corvanta::demo
