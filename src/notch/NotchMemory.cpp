#include "notch/NotchMemory.h"

#include <cmath>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// The reference date the stored form counts seconds from.
const QDateTime referenceDate(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);

double secondsSinceReference(const QDateTime& date)
{
    return referenceDate.msecsTo(date) / 1000.0;
}

QDateTime fromSecondsSinceReference(double seconds)
{
    return referenceDate.addMSecs(static_cast<qint64>(std::llround(seconds * 1000.0)));
}

std::optional<QStringList> strings(const QJsonValue& value)
{
    if (!value.isArray())
        return std::nullopt;
    QStringList result;
    for (const QJsonValue& item : value.toArray()) {
        if (!item.isString())
            return std::nullopt;
        result << item.toString();
    }
    return result;
}

// A present date must be a number; an absent one is fine.
bool readDate(const QJsonObject& object, const QString& key, std::optional<QDateTime>& date)
{
    if (!object.contains(key) || object[key].isNull())
        return true;
    if (!object[key].isDouble() || !std::isfinite(object[key].toDouble()))
        return false;
    date = fromSecondsSinceReference(object[key].toDouble());
    return true;
}

} // namespace

QString rawValue(NotchMode mode)
{
    switch (mode) {
    case NotchMode::smart:
        return u"smart"_s;
    case NotchMode::daily:
        return u"daily"_s;
    case NotchMode::login:
        return u"login"_s;
    case NotchMode::never:
        return u"never"_s;
    }
    Q_UNREACHABLE();
}

std::optional<NotchMode> notchModeFromRaw(QStringView raw)
{
    for (NotchMode mode : { NotchMode::smart, NotchMode::daily, NotchMode::login, NotchMode::never }) {
        if (rawValue(mode) == raw)
            return mode;
    }
    return std::nullopt;
}

QByteArray NotchMemory::encode() const
{
    QJsonObject object {
        { u"lastShownKeys"_s, QJsonArray::fromStringList(lastShownKeys) },
        { u"dismissedKeys"_s, QJsonArray::fromStringList(dismissedKeys) },
        { u"dismissals"_s, dismissals },
        { u"askedToStop"_s, askedToStop },
    };
    if (lastShown)
        object[u"lastShown"_s] = secondsSinceReference(*lastShown);
    if (snoozedUntil)
        object[u"snoozedUntil"_s] = secondsSinceReference(*snoozedUntil);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<NotchMemory> NotchMemory::decode(const QByteArray& data)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();

    NotchMemory memory;
    const std::optional<QStringList> shownKeys = strings(object[u"lastShownKeys"_s]);
    const std::optional<QStringList> dismissed = strings(object[u"dismissedKeys"_s]);
    const QJsonValue count = object[u"dismissals"_s];
    const QJsonValue asked = object[u"askedToStop"_s];
    if (!shownKeys || !dismissed || !count.isDouble() || !asked.isBool())
        return std::nullopt;
    if (!readDate(object, u"lastShown"_s, memory.lastShown)
        || !readDate(object, u"snoozedUntil"_s, memory.snoozedUntil))
        return std::nullopt;
    memory.lastShownKeys = *shownKeys;
    memory.dismissedKeys = *dismissed;
    memory.dismissals = count.toInt();
    memory.askedToStop = asked.toBool();
    return memory;
}

} // namespace corvanta
