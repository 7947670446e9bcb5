#include "account/CloudValue.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QTimeZone>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

template<class... Ts> struct Overloaded : Ts... {
    using Ts::operator()...;
};

} // namespace

QJsonObject CloudValue::json() const
{
    return std::visit(
        Overloaded {
            [](const QString& text) {
                return QJsonObject { { u"stringValue"_s, text } };
            },
            [](bool flag) {
                return QJsonObject { { u"booleanValue"_s, flag } };
            },
            [](const QDateTime& time) {
                return QJsonObject { { u"timestampValue"_s, timestamp(time) } };
            },
            [](const Map& fields) {
                QJsonObject inner;
                for (const auto& [key, value] : fields)
                    inner.insert(key, value.json());
                return QJsonObject { { u"mapValue"_s, QJsonObject { { u"fields"_s, inner } } } };
            },
        },
        m_value);
}

QString CloudValue::timestamp(const QDateTime& time)
{
    // Qt::ISODate writes no fraction and "Z" for UTC.
    return time.toUTC().toString(Qt::ISODate);
}

std::optional<QDateTime> CloudValue::parseTimestamp(const QJsonValue& value)
{
    // Firestore answers with up to nine fractional digits; Qt reads at most
    // three, so the rest is cut before parsing.
    static const QRegularExpression shape(
        uR"(^(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2})(?:\.(\d+))?(Z|[+-]\d{2}:\d{2})$)"_s);
    const QRegularExpressionMatch match = shape.match(value.toString());
    if (!value.isString() || !match.hasMatch())
        return std::nullopt;
    QString text = match.captured(1);
    if (match.hasCaptured(2))
        text += u'.' + match.captured(2).left(3).leftJustified(3, u'0');
    text += match.captured(3);
    const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid())
        return std::nullopt;
    return time.toUTC();
}

QString fieldPath(const QStringList& path)
{
    static const QRegularExpression plain(u"^[A-Za-z_][A-Za-z_0-9]*$"_s);
    QStringList segments;
    for (const QString& segment : path) {
        if (plain.match(segment).hasMatch()) {
            segments << segment;
        } else {
            QString quoted = segment;
            quoted.replace(u'\\', u"\\\\"_s).replace(u'`', u"\\`"_s);
            segments << u'`' + quoted + u'`';
        }
    }
    return segments.join(u'.');
}

void put(const CloudValue& value, QStringList path, QJsonObject& fields)
{
    Q_ASSERT(!path.isEmpty());
    const QString head = path.takeFirst();
    if (path.isEmpty()) {
        fields.insert(head, value.json());
        return;
    }
    QJsonObject inner
        = fields.value(head).toObject().value(u"mapValue"_s).toObject().value(u"fields"_s).toObject();
    put(value, std::move(path), inner);
    fields.insert(head, QJsonObject { { u"mapValue"_s, QJsonObject { { u"fields"_s, inner } } } });
}

} // namespace corvanta
