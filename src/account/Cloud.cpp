#include "account/Cloud.h"

#include "sources/CheckError.h"
#include "sources/Net.h"

#include <QCoro/QCoroNetworkReply>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimeZone>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QJsonObject fieldsOf(const QJsonObject& object)
{
    return object.value(u"fields"_s).toObject();
}

QJsonObject mapFields(const QJsonValue& value)
{
    return fieldsOf(value.toObject().value(u"mapValue"_s).toObject());
}

std::optional<QString> stringField(const QJsonObject& fields, const QString& key)
{
    const QJsonValue value = fields.value(key).toObject().value(u"stringValue"_s);
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

QDateTime timestampField(const QJsonObject& fields, const QString& key)
{
    const QJsonValue value = fields.value(key).toObject().value(u"timestampValue"_s);
    return CloudValue::parseTimestamp(value).value_or(Cloud::distantPast);
}

// The document id: the last component of the resource path.
std::optional<QString> documentID(const QJsonObject& document)
{
    const QJsonValue name = document.value(u"name"_s);
    if (!name.isString())
        return std::nullopt;
    const QString id = name.toString().section(u'/', -1);
    return id.isEmpty() ? std::nullopt : std::optional(id);
}

} // namespace

const QDateTime Cloud::distantPast(QDate(1, 1, 1), QTime(0, 0), QTimeZone::utc());

QString Cloud::documentName(const QString& path) const
{
    return u"projects/"_s + config.projectId + u"/databases/(default)/documents/"_s + path;
}

QString Cloud::userPath() const
{
    return u"users/"_s + session.uid;
}

QCoro::Task<QJsonObject> Cloud::request(Net& net, QByteArray method, QString rest, QString query,
    std::optional<QJsonObject> body, bool absentIsEmpty) const
{
    QUrl url(config.firestoreHost + u"v1/projects/"_s + config.projectId + u"/databases/(default)/documents"_s
            + rest,
        QUrl::StrictMode);
    if (!query.isEmpty())
        url.setQuery(query, QUrl::StrictMode);
    // Every part is the build's settings, the session's uid or our own paths: a bad one is a bug.
    Q_ASSERT_X(url.isValid(), "Cloud::request", qPrintable(url.errorString()));

    QNetworkRequest request(url);
    request.setTransferTimeout(Net::requestTimeoutMs);
    request.setRawHeader("Authorization", "Bearer " + session.idToken.toUtf8());
    QByteArray data;
    if (body) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        data = QJsonDocument(*body).toJson(QJsonDocument::Compact);
    }
    QNetworkReply* sent = body ? net.session().sendCustomRequest(request, method, data)
                               : net.session().sendCustomRequest(request, method);
    ReplyPtr reply(co_await sent);
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        throw Error(Net::failureText(*reply));
    const QByteArray bytes = reply->readAll();
    const QJsonObject answer = QJsonDocument::fromJson(bytes).object();
    const int code = status.toInt();
    if (code == 404 && absentIsEmpty)
        co_return QJsonObject();
    if (code < 200 || code > 299) {
        const QJsonValue message = answer.value(u"error"_s).toObject().value(u"message"_s);
        const QString reason = message.isString() ? message.toString() : u"HTTP %1"_s.arg(code);
        if (code == 403)
            throw CheckError(u"Your library isn't accessible with this account ("_s + reason + u')');
        throw CheckError(u"Library sync failed: "_s + reason);
    }
    // A 2xx whose body broke off is a transport failure, not a short answer.
    if (reply->error() != QNetworkReply::NoError)
        throw Error(Net::failureText(*reply));
    if (!Net::bodyComplete(*reply, bytes.size()))
        throw Error(Net::connectionLost);
    co_return answer;
}

QCoro::Task<std::vector<QJsonObject>> Cloud::list(Net& net, QString path) const
{
    std::vector<QJsonObject> documents;
    std::optional<QString> token;
    do {
        QString query = u"pageSize=%1"_s.arg(pageSize);
        // Page tokens are Base64: "+" must not reach the server as a space.
        if (token)
            query += u"&pageToken="_s + QString::fromLatin1(QUrl::toPercentEncoding(*token));
        QCoro::Task<QJsonObject> reading = request(net, "GET", u'/' + path, query, std::nullopt);
        const QJsonObject answer = co_await std::move(reading);
        for (const QJsonValue& document : answer.value(u"documents"_s).toArray()) {
            if (document.isObject())
                documents.push_back(document.toObject());
        }
        const QJsonValue next = answer.value(u"nextPageToken"_s);
        // An empty token would ask for the first page again, for ever.
        token = next.isString() && !next.toString().isEmpty() ? std::optional(next.toString()) : std::nullopt;
    } while (token);
    co_return documents;
}

QCoro::Task<std::vector<LibraryApp>> Cloud::apps(Net& net) const
{
    QCoro::Task<std::vector<QJsonObject>> listing = list(net, userPath() + u"/apps"_s);
    const std::vector<QJsonObject> documents = co_await std::move(listing);
    std::vector<LibraryApp> result;
    for (const QJsonObject& document : documents) {
        if (std::optional<LibraryApp> decoded = app(document))
            result.push_back(std::move(*decoded));
    }
    co_return result;
}

QCoro::Task<std::vector<Device>> Cloud::devices(Net& net) const
{
    QCoro::Task<std::vector<QJsonObject>> listing = list(net, userPath() + u"/devices"_s);
    const std::vector<QJsonObject> documents = co_await std::move(listing);
    std::vector<Device> result;
    for (const QJsonObject& document : documents) {
        if (std::optional<Device> decoded = device(document))
            result.push_back(std::move(*decoded));
    }
    co_return result;
}

std::optional<LibraryApp> Cloud::app(const QJsonObject& document)
{
    const std::optional<QString> id = documentID(document);
    if (!id)
        return std::nullopt;
    const QJsonObject fields = fieldsOf(document);
    LibraryApp app;
    app.id = *id;
    app.name = stringField(fields, u"name"_s).value_or(*id);
    for (const auto& [key, member] : LibraryApp::stringFields())
        app.*member = stringField(fields, key);
    const QJsonObject devices = mapFields(fields.value(u"devices"_s));
    for (auto it = devices.begin(); it != devices.end(); ++it) {
        const QJsonObject entry = mapFields(it.value());
        LibraryApp::OnDevice onDevice;
        onDevice.version = stringField(entry, u"version"_s).value_or(QString());
        onDevice.installed = entry.value(u"installed"_s).toObject().value(u"booleanValue"_s).toBool(false);
        onDevice.seen = timestampField(entry, u"seen"_s);
        app.devices.emplace(it.key(), onDevice);
    }
    return app;
}

std::optional<Device> Cloud::device(const QJsonObject& document)
{
    const std::optional<QString> id = documentID(document);
    if (!id)
        return std::nullopt;
    const QJsonObject fields = fieldsOf(document);
    return Device {
        .id = *id,
        .name = stringField(fields, u"name"_s).value_or(u"Mac"_s),
        .model = stringField(fields, u"model"_s).value_or(QString()),
        .lastSeen = timestampField(fields, u"lastSeen"_s),
        .hardware = stringField(fields, u"hardware"_s),
    };
}

bool Cloud::storable(const QString& id)
{
    return !id.isEmpty() && !id.contains(u'/') && id != u"." && id != u".."
        && !(id.startsWith(u"__"_s) && id.endsWith(u"__"_s)) && id.toUtf8().size() <= 1500;
}

bool Cloud::syncs(const InstalledApp& app)
{
    return storable(app.bundleID) && (app.isAppStore || !app.bundleID.startsWith(u"com.apple."_s));
}

QJsonObject Cloud::write(const QString& path, const CloudFields& fields) const
{
    QJsonObject nested;
    QJsonArray mask;
    for (const CloudField& field : fields) {
        put(field.value, field.path, nested);
        mask.append(fieldPath(field.path));
    }
    return {
        { u"update"_s, QJsonObject { { u"name"_s, documentName(path) }, { u"fields"_s, nested } } },
        { u"updateMask"_s, QJsonObject { { u"fieldPaths"_s, mask } } },
    };
}

QCoro::Task<> Cloud::commit(Net& net, std::vector<QJsonObject> writes) const
{
    for (std::size_t start = 0; start < writes.size(); start += batchSize) {
        QJsonArray batch;
        for (std::size_t i = start; i < std::min(writes.size(), start + batchSize); ++i)
            batch.append(writes[i]);
        const QJsonObject body { { u"writes"_s, batch } };
        QCoro::Task<QJsonObject> sending = request(net, "POST", u":commit"_s, QString(), body);
        co_await std::move(sending);
    }
}

QCoro::Task<> Cloud::remove(Net& net, QStringList ids) const
{
    std::vector<QJsonObject> writes;
    for (const QString& id : std::as_const(ids))
        writes.push_back({ { u"delete"_s, documentName(userPath() + u"/apps/"_s + id) } });
    QCoro::Task<> committing = commit(net, std::move(writes));
    co_await std::move(committing);
}

QCoro::Task<> Cloud::deleteLibrary(Net& net) const
{
    std::vector<QJsonObject> writes;
    for (const QString& collection : { u"/apps"_s, u"/devices"_s }) {
        QCoro::Task<std::vector<QJsonObject>> listing = list(net, userPath() + collection);
        const std::vector<QJsonObject> documents = co_await std::move(listing);
        for (const QJsonObject& document : documents) {
            const QJsonValue name = document.value(u"name"_s);
            if (name.isString())
                writes.push_back({ { u"delete"_s, name } });
        }
    }
    writes.push_back({ { u"delete"_s, documentName(userPath()) } });
    QCoro::Task<> committing = commit(net, std::move(writes));
    co_await std::move(committing);
}

QCoro::Task<> Cloud::saveProfile(Net& net, std::optional<QString> name, QString email, QDateTime now) const
{
    CloudFields fields { { { u"email"_s }, Value::string(email) } };
    if (name)
        fields.push_back({ { u"name"_s }, Value::string(*name) });
    QCoro::Task<QJsonObject> reading
        = request(net, "GET", u'/' + userPath(), QString(), std::nullopt, /*absentIsEmpty=*/true);
    const QJsonObject document = co_await std::move(reading);
    const bool created = fieldsOf(document).contains(u"createdAt"_s);
    if (!created)
        fields.push_back({ { u"createdAt"_s }, Value::date(now) });
    QCoro::Task<> committing = commit(net, { write(userPath(), fields) });
    co_await std::move(committing);
}

} // namespace corvanta
