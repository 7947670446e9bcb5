#include "support/AuthEmulator.h"

#include "base/Error.h"
#include "support/Await.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta::test {

AuthEmulator::AuthEmulator()
{
    try {
        await(m_emulator.start(), std::chrono::seconds(120));
    } catch (const Error& error) {
        ADD_FAILURE() << error.description().toStdString();
    }
}

AuthEmulator::~AuthEmulator() = default;

std::optional<QByteArray> AuthEmulator::admin(const QByteArray& verb, const QString& path)
{
    QNetworkAccessManager http;
    QNetworkRequest request(QUrl(u"http://%1%2"_s.arg(host(), path)));
    request.setRawHeader("Authorization", "Bearer owner");
    request.setTransferTimeout(20'000);
    QNetworkReply* reply = http.sendCustomRequest(request, verb);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        ADD_FAILURE() << verb.constData() << ' ' << qPrintable(path) << ": "
                      << qPrintable(reply->errorString());
        return std::nullopt;
    }
    return reply->readAll();
}

QList<OobCode> AuthEmulator::oobCodes()
{
    QList<OobCode> codes;
    const auto body = admin("GET", u"/emulator/v1/projects/%1/oobCodes"_s.arg(QLatin1StringView(project)));
    if (!body)
        return codes;
    const QJsonArray list = QJsonDocument::fromJson(*body).object().value(u"oobCodes"_s).toArray();
    for (const QJsonValue& entry : list) {
        const QJsonObject code = entry.toObject();
        codes.append({ code.value(u"email"_s).toString(), code.value(u"requestType"_s).toString(),
            code.value(u"oobCode"_s).toString() });
    }
    return codes;
}

void AuthEmulator::clear()
{
    admin("DELETE", u"/emulator/v1/projects/%1/accounts"_s.arg(QLatin1StringView(project)));
}

} // namespace corvanta::test
