#include "codesign/PropertyList.h"

#include <limits>

#include <QDateTime>
#include <QFile>

#include <plist/plist.h>

namespace corvanta::codesign {

namespace {

// Seconds from the Unix epoch to the property-list epoch (2001-01-01).
constexpr qint64 plistEpoch = 978307200;
// Deeper nesting than this is no Info.plist or resource seal; stop before the stack does.
constexpr int maxDepth = 64;

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

std::optional<QVariant> toVariant(plist_t node, int depth)
{
    if (depth > maxDepth)
        return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return QVariant(value != 0);
    }
    case PLIST_UINT: {
        std::uint64_t value = 0;
        plist_get_uint_val(node, &value);
        // libplist keeps negative integers as their two's complement.
        return QVariant(qint64(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return QVariant(value);
    }
    case PLIST_STRING: {
        char* text = nullptr;
        plist_get_string_val(node, &text);
        const QString value = QString::fromUtf8(text);
        free(text);
        return QVariant(value);
    }
    case PLIST_DATA: {
        char* data = nullptr;
        std::uint64_t length = 0;
        plist_get_data_val(node, &data, &length);
        const QByteArray value(data, qsizetype(length));
        free(data);
        return QVariant(value);
    }
    case PLIST_DATE: {
        std::int32_t seconds = 0;
        std::int32_t microseconds = 0;
        plist_get_date_val(node, &seconds, &microseconds);
        return QVariant(QDateTime::fromSecsSinceEpoch(plistEpoch + seconds, Qt::UTC));
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const std::uint32_t count = plist_array_get_size(node);
        for (std::uint32_t i = 0; i < count; ++i) {
            auto item = toVariant(plist_array_get_item(node, i), depth + 1);
            if (!item)
                return std::nullopt;
            list.append(std::move(*item));
        }
        return QVariant(list);
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter iterator = nullptr;
        plist_dict_new_iter(node, &iterator);
        if (!iterator)
            return QVariant(map);
        while (true) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, iterator, &key, &value);
            if (!value) {
                free(key);
                break;
            }
            auto item = toVariant(value, depth + 1);
            const QString name = QString::fromUtf8(key);
            free(key);
            if (!item) {
                free(iterator);
                return std::nullopt;
            }
            map.insert(name, std::move(*item));
        }
        free(iterator);
        return QVariant(map);
    }
    default:
        return QVariant();
    }
}

plist_t fromVariant(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return plist_new_bool(value.toBool());
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return plist_new_uint(std::uint64_t(value.toLongLong()));
    case QMetaType::Double:
        return plist_new_real(value.toDouble());
    case QMetaType::QByteArray: {
        const QByteArray data = value.toByteArray();
        return plist_new_data(data.constData(), std::uint64_t(data.size()));
    }
    case QMetaType::QDateTime:
        return plist_new_date(std::int32_t(value.toDateTime().toSecsSinceEpoch() - plistEpoch), 0);
    case QMetaType::QVariantList: {
        plist_t array = plist_new_array();
        for (const QVariant& item : value.toList())
            plist_array_append_item(array, fromVariant(item));
        return array;
    }
    case QMetaType::QVariantMap: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            plist_dict_set_item(dict, it.key().toUtf8().constData(), fromVariant(it.value()));
        return dict;
    }
    default:
        return plist_new_string(value.toString().toUtf8().constData());
    }
}

} // namespace

std::optional<QVariant> PropertyList::parse(const QByteArray& bytes)
{
    if (bytes.isEmpty() || bytes.size() > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(bytes.constData(), std::uint32_t(bytes.size()), &root);
    if (!root)
        return std::nullopt;
    const PlistPtr owner(root);
    return toVariant(root, 0);
}

std::optional<QVariantMap> PropertyList::readDictionary(const QString& path)
{
    // An Info.plist is kilobytes; a huge one is read no further.
    constexpr qint64 maxSize = 64 * 1024 * 1024;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxSize)
        return std::nullopt;
    const auto value = parse(file.readAll());
    if (!value || value->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return value->toMap();
}

QByteArray PropertyList::toXml(const QVariant& value)
{
    const PlistPtr root(fromVariant(value));
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    const QByteArray out(xml, qsizetype(length));
    plist_to_xml_free(xml);
    return out;
}

} // namespace corvanta::codesign
