#include "support/FirestoreEmulator.h"

#include "base/Error.h"
#include "support/Await.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta::test {

namespace {

// A Firestore value in plain JSON, for comparing whole documents at a glance.
QJsonValue plain(const QJsonObject& value)
{
    if (value.contains(u"mapValue"_s)) {
        const QJsonObject fields = value.value(u"mapValue"_s).toObject().value(u"fields"_s).toObject();
        QJsonObject result;
        for (auto it = fields.begin(); it != fields.end(); ++it)
            result.insert(it.key(), plain(it.value().toObject()));
        return result;
    }
    return value.begin() == value.end() ? QJsonValue() : value.begin().value();
}

} // namespace

FirestoreEmulator::FirestoreEmulator()
{
    try {
        await(m_emulator.start(), std::chrono::seconds(120));
    } catch (const Error& error) {
        ADD_FAILURE() << error.description().toStdString();
    }
}

FirestoreEmulator::~FirestoreEmulator() = default;

FirestoreAnswer FirestoreEmulator::send(
    const QByteArray& verb, const QString& rest, const QString& token, const std::optional<QJsonObject>& body)
{
    const QString base = rest.startsWith(u"/emulator/"_s)
        ? QString()
        : u"/v1/projects/%1/databases/(default)/documents"_s.arg(m_project);
    QNetworkRequest request(QUrl(u"http://"_s + host() + base + rest));
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setTransferTimeout(20'000);
    QNetworkAccessManager http;
    QNetworkReply* reply = http.sendCustomRequest(
        request, verb, body ? QJsonDocument(*body).toJson(QJsonDocument::Compact) : QByteArray());
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    reply->deleteLater();
    return { reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
        QJsonDocument::fromJson(reply->readAll()).object() };
}

void FirestoreEmulator::clear()
{
    const FirestoreAnswer answer
        = send("DELETE", u"/emulator/v1/projects/%1/databases/(default)/documents"_s.arg(m_project));
    EXPECT_EQ(answer.status, 200) << "clearing the Firestore emulator";
}

std::optional<QJsonObject> FirestoreEmulator::document(const QString& path)
{
    const FirestoreAnswer answer = send("GET", u'/' + path);
    EXPECT_TRUE(answer.status == 200 || answer.status == 404) << path.toStdString() << ": " << answer.status;
    return answer.status == 200 ? std::optional(answer.body) : std::nullopt;
}

QJsonObject FirestoreEmulator::fields(const QString& path)
{
    return plain(QJsonObject { { u"mapValue"_s, document(path).value_or(QJsonObject()) } }).toObject();
}

} // namespace corvanta::test
