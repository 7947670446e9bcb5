#pragma once

#include <optional>

#include <QByteArray>
#include <QString>
#include <QVariant>

namespace corvanta::codesign {

// Property lists (XML or binary) as Qt values: dictionaries become QVariantMap,
// arrays QVariantList, data QByteArray, dates QDateTime, integers qint64.
namespace PropertyList {

// None when the bytes are not a property list.
std::optional<QVariant> parse(const QByteArray& bytes);
// The dictionary at the top of the file at `path`; none when the file can't be
// read or doesn't hold a dictionary.
std::optional<QVariantMap> readDictionary(const QString& path);
// An XML property list of `value`.
QByteArray toXml(const QVariant& value);

} // namespace PropertyList

} // namespace corvanta::codesign
