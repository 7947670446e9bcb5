#pragma once

#include <memory>
#include <optional>

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

namespace corvanta {

// A property-list dictionary read from XML or binary form (an Info.plist, a
// resource seal). It reads hostile input: nesting and the values a binary list
// expands to are bounded before libplist sees the bytes. Values convert on demand: strings to QString,
// integers to qint64 (quint64 past its range), reals to double, booleans to bool, dates to QDateTime (UTC),
// data to QByteArray, arrays to QVariantList, dictionaries to QVariantMap.
class PropertyList {
public:
    enum class Format { xml, binary };

    // None when the file is not a regular file, is larger than `maxFileSize`,
    // or does not hold a property list whose root is a dictionary.
    static std::optional<PropertyList> load(const QString& path);
    static std::optional<PropertyList> fromData(const QByteArray& data);
    // The dictionary in the given encoding; values of types a property list
    // can't hold are left out.
    static QByteArray serialize(const QVariantMap& dictionary, Format format);

    // A whole property list of any root type as a Qt value, up to
    // `maxParseSize` (a large app's resource seal is megabytes of XML); none
    // when the bytes are not one or are refused as above.
    static std::optional<QVariant> parse(const QByteArray& bytes);
    // The dictionary `load` reads from `path`, converted whole.
    static std::optional<QVariantMap> readDictionary(const QString& path);

    // Real Info.plists are a few kilobytes; anything past this is not one.
    static constexpr qint64 maxFileSize = 8 * 1024 * 1024;
    static constexpr qint64 maxParseSize = 64 * 1024 * 1024;

    Format format() const { return m_format; }
    bool isEmpty() const;
    QStringList keys() const;
    bool contains(const QString& key) const;
    // Invalid QVariant when the key is absent.
    QVariant value(const QString& key) const;
    QVariantMap toMap() const;

    // The value when it is a string, taken as it is.
    std::optional<QString> string(const QString& key) const;
    // The value's text: a string as it is, a number in decimal, a boolean as
    // "1" or "0"; spaces and tabs trimmed from both ends; none when the key is
    // absent, the text is empty, or the value is a date, data or container.
    std::optional<QString> text(const QString& key) const;

private:
    struct Free {
        void operator()(void* node) const;
    };
    PropertyList(void* root, Format format);
    // The parsed root of any type, after the checks; null when refused.
    static void* parseRoot(const QByteArray& data, qint64 limit, Format& format);

    void* item(const QString& key) const;

    std::unique_ptr<void, Free> m_root;
    Format m_format = Format::xml;
};

} // namespace corvanta
