#include "sources/AppStore.h"

#include "sources/CheckError.h"
#include "sources/Net.h"
#include "sources/WebLink.h"

#include <cmath>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

const QString macSoftware = QStringLiteral("mac-software");

std::optional<QString> stringField(const QJsonObject& object, QLatin1StringView key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

// JSON numbers arrive as doubles; a track identifier must be a whole one.
std::optional<qint64> integerField(const QJsonObject& object, QLatin1StringView key)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (std::trunc(number) != number || std::abs(number) > 9.0e15)
        return std::nullopt;
    return qint64(number);
}

} // namespace

Release AppStore::parse(const QByteArray& body, const QString& bundleID, const QString& region)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        throw CheckError::invalidJson(error);

    // A wrapper without a "results" list, or no wrapper at all, has no results.
    // A universal purchase shares its bundle identifier with its iOS app, whose
    // version means nothing here: once a result for the app says its kind, only
    // the Mac software kind counts; without any kind the first result does.
    std::optional<QJsonObject> first;
    std::optional<QJsonObject> mac;
    bool kindSaid = false;
    const QJsonArray results = document.object().value("results"_L1).toArray();
    for (const QJsonValue& result : results) {
        const QJsonObject object = result.toObject();
        if (stringField(object, "bundleId"_L1) != bundleID)
            continue;
        const std::optional<QString> kind = stringField(object, "kind"_L1);
        kindSaid = kindSaid || kind.has_value();
        if (!first)
            first = object;
        if (!mac && kind == macSoftware)
            mac = object;
    }
    const std::optional<QJsonObject>& match = kindSaid ? mac : first;
    const std::optional<QString> version = match ? stringField(*match, "version"_L1) : std::nullopt;
    if (!version)
        throw CheckError(u"Not found in the "_s + region + u" App Store"_s);

    Release release;
    release.kind = SourceKind::appStore;
    release.version = version;
    release.notes = stringField(*match, "releaseNotes"_L1);
    if (const std::optional<qint64> track = integerField(*match, "trackId"_L1)) {
        QUrl store;
        store.setScheme(u"macappstore"_s);
        store.setHost(storeHost);
        store.setPath(u"/app/id"_s + QString::number(*track));
        release.storeURL = store;
    } else {
        release.storeURL = WebLink::store(stringField(*match, "trackViewUrl"_L1));
    }
    return release;
}

QCoro::Task<Release> AppStore::read(Net& net, QString bundleID, QUrl lookupURL)
{
    // The not-found text names the store that was asked, as the URL says.
    QString region = QUrlQuery(lookupURL).queryItemValue(u"country"_s);
    if (region.isEmpty())
        region = u"US"_s;
    const QByteArray body = co_await net.get(lookupURL);
    co_return parse(body, bundleID, region);
}

} // namespace corvanta
