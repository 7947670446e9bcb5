#pragma once

#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

namespace corvanta {

// A typed field value as the library writes it to Firestore.
class CloudValue {
public:
    using Map = std::vector<std::pair<QString, CloudValue>>;

    static CloudValue string(QString text) { return CloudValue(std::move(text)); }
    static CloudValue boolean(bool flag) { return CloudValue(flag); }
    static CloudValue date(QDateTime time) { return CloudValue(std::move(time)); }
    static CloudValue map(Map fields) { return CloudValue(std::move(fields)); }

    // {"stringValue": …}, {"booleanValue": …}, {"timestampValue": …} or
    // {"mapValue": {"fields": …}}.
    QJsonObject json() const;

    // "2026-03-10T11:00:00Z": UTC, whole seconds, as every written date is.
    static QString timestamp(const QDateTime& time);
    // A "timestampValue" with or without fractional seconds; none for
    // anything else.
    static std::optional<QDateTime> parseTimestamp(const QJsonValue& value);

    friend bool operator==(const CloudValue&, const CloudValue&) = default;

private:
    using Variant = std::variant<QString, bool, QDateTime, Map>;
    explicit CloudValue(Variant value)
        : m_value(std::move(value))
    {
    }

    Variant m_value;
};

// One field to write: its path from the document's top level ({"devices",
// device id, "installed"}) and its value.
struct CloudField {
    QStringList path;
    CloudValue value;
};
using CloudFields = std::vector<CloudField>;

// The path as an update mask names it: segments joined by ".", each one that
// isn't a plain identifier quoted in backticks (device ids chosen with
// --device-id may hold "-" or ".").
QString fieldPath(const QStringList& path);

// Places `value`'s JSON form at `path` inside a document's "fields",
// creating the "mapValue" → "fields" objects on the way.
void put(const CloudValue& value, QStringList path, QJsonObject& fields);

} // namespace corvanta
