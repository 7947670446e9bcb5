#include "codesign/PropertyList.h"

#include "base/FileRead.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <limits>
#include <vector>

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>

#include <plist/plist.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// Property lists count time from 2001-01-01 UTC.
const QDateTime plistEpoch(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());

// libplist 2.2 keeps integers as 64 unsigned bits and the sign out of reach of
// its API; its XML writer still knows it, so ask that for values past the
// signed range (rare: negative numbers and huge unsigned ones).
QVariant integerValue(plist_t node)
{
    uint64_t value = 0;
    plist_get_uint_val(node, &value);
    if (value <= uint64_t(std::numeric_limits<qint64>::max()))
        return QVariant::fromValue(qint64(value));
    bool negative = false;
    plist_t copy = plist_copy(node);
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(copy, &xml, &length);
    if (xml) {
        const QByteArray text(xml, length);
        negative = text.contains("<integer>-");
        plist_to_xml_free(xml);
    }
    plist_free(copy);
    if (negative)
        return QVariant::fromValue(qint64(value));
    return QVariant::fromValue(quint64(value));
}

QVariant convert(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return value != 0;
    }
    case PLIST_UINT:
        return integerValue(node);
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return value;
    }
    case PLIST_STRING: {
        uint64_t length = 0;
        const char* value = plist_get_string_ptr(node, &length);
        return value ? QString::fromUtf8(value, qsizetype(length)) : QString();
    }
    case PLIST_DATA: {
        char* bytes = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        QByteArray data(bytes, qsizetype(length));
        std::free(bytes);
        return data;
    }
    case PLIST_DATE: {
        int32_t seconds = 0;
        int32_t microseconds = 0;
        plist_get_date_val(node, &seconds, &microseconds);
        return plistEpoch.addSecs(seconds).addMSecs(microseconds / 1000);
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t size = plist_array_get_size(node);
        for (uint32_t i = 0; i < size; ++i)
            list.append(convert(plist_array_get_item(node, i)));
        return list;
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter iterator = nullptr;
        plist_dict_new_iter(node, &iterator);
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, iterator, &key, &value);
            if (!key)
                break;
            map.insert(QString::fromUtf8(key), convert(value));
            std::free(key);
        }
        std::free(iterator);
        return map;
    }
    case PLIST_UID: {
        uint64_t value = 0;
        plist_get_uid_val(node, &value);
        return QVariant::fromValue(quint64(value));
    }
    default:
        return {};
    }
}

// libplist parses and frees nested containers recursively, and expands every
// reference of a binary list into a copy of its target: a hostile file of a
// few hundred bytes could overflow the stack or (with containers referenced
// twice per level) grow to gigabytes. Real Info.plists nest a handful of levels
// and hold a few thousand values.
constexpr int maxDepth = 256;
constexpr quint64 maxExpandedValues = 200'000;

bool xmlNestingAcceptable(const QByteArray& data)
{
    int depth = 0;
    const qsizetype size = data.size();
    for (qsizetype i = data.indexOf('<'); i >= 0 && i + 1 < size; i = data.indexOf('<', i + 1)) {
        const bool closing = data[i + 1] == '/';
        const qsizetype nameStart = i + (closing ? 2 : 1);
        qsizetype nameEnd = nameStart;
        while (nameEnd < size && std::isalpha(static_cast<unsigned char>(data[nameEnd])))
            ++nameEnd;
        const QByteArrayView name(data.constData() + nameStart, nameEnd - nameStart);
        if (name != "array" && name != "dict")
            continue;
        const qsizetype tagEnd = data.indexOf('>', nameEnd);
        if (tagEnd < 0)
            return true; // unterminated: the parser refuses it
        if (closing)
            --depth;
        else if (data[tagEnd - 1] != '/' && ++depth > maxDepth)
            return false;
    }
    return true;
}

// The object graph of a binary property list, walked without recursion to
// measure what libplist would build from it. Anything malformed is refused.
class BinaryGraph {
public:
    explicit BinaryGraph(const QByteArray& data)
        : m_bytes(reinterpret_cast<const uchar*>(data.constData()))
        , m_size(quint64(data.size()))
    {
    }

    bool acceptable()
    {
        constexpr quint64 headerSize = 8;
        constexpr quint64 trailerSize = 32;
        if (m_size < headerSize + trailerSize)
            return false;
        const uchar* trailer = m_bytes + m_size - trailerSize;
        m_offsetSize = trailer[6];
        m_refSize = trailer[7];
        m_count = read(trailer + 8, 8);
        const quint64 top = read(trailer + 16, 8);
        m_table = read(trailer + 24, 8);
        if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8 || top >= m_count
            || m_table >= m_size || m_count > (m_size - m_table) / m_offsetSize)
            return false;
        return walk(top);
    }

private:
    struct Frame {
        quint64 object;
        std::vector<quint64> children;
        size_t next = 0;
    };

    static quint64 read(const uchar* bytes, quint64 width)
    {
        quint64 value = 0;
        for (quint64 i = 0; i < width; ++i)
            value = (value << 8) | bytes[i];
        return value;
    }

    // The references held by `object`; false when they can't be read.
    bool children(quint64 object, std::vector<quint64>& out) const
    {
        out.clear();
        const quint64 offset = read(m_bytes + m_table + object * m_offsetSize, m_offsetSize);
        if (offset >= m_table)
            return false;
        const uchar marker = m_bytes[offset];
        const int kind = marker >> 4;
        if (kind != 0xA && kind != 0xC && kind != 0xD)
            return true;
        quint64 count = marker & 0xF;
        quint64 position = offset + 1;
        if (count == 0xF) {
            if (position >= m_table || (m_bytes[position] >> 4) != 0x1)
                return false;
            const quint64 width = quint64(1) << (m_bytes[position] & 0xF);
            if (width > 8 || position + 1 + width > m_table)
                return false;
            count = read(m_bytes + position + 1, width);
            position += 1 + width;
        }
        const quint64 refs = kind == 0xD ? 2 * count : count;
        if (count > m_table || refs > (m_table - position) / m_refSize)
            return false;
        out.reserve(refs);
        for (quint64 i = 0; i < refs; ++i) {
            const quint64 ref = read(m_bytes + position + i * m_refSize, m_refSize);
            if (ref >= m_count)
                return false;
            out.push_back(ref);
        }
        return true;
    }

    bool walk(quint64 top)
    {
        enum State : uchar { unseen, open, done };
        std::vector<State> state(m_count, unseen);
        std::vector<quint64> values(m_count, 0);
        std::vector<Frame> stack;
        auto enter = [&](quint64 object) {
            Frame frame { object, {} };
            if (!children(object, frame.children))
                return false;
            state[object] = open;
            stack.push_back(std::move(frame));
            return stack.size() <= size_t(maxDepth) + 1;
        };
        if (!enter(top))
            return false;
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next < frame.children.size()) {
                const quint64 child = frame.children[frame.next++];
                if (state[child] == open)
                    return false; // a cycle
                if (state[child] == unseen && !enter(child))
                    return false;
                continue;
            }
            quint64 total = 1;
            for (quint64 child : frame.children)
                total = std::min(total + values[child], maxExpandedValues + 1);
            if (total > maxExpandedValues)
                return false;
            values[frame.object] = total;
            state[frame.object] = done;
            stack.pop_back();
        }
        return true;
    }

    const uchar* m_bytes;
    quint64 m_size;
    quint64 m_offsetSize = 0;
    quint64 m_refSize = 0;
    quint64 m_count = 0;
    quint64 m_table = 0;
};

// libplist's own constructor can't make negative integers or positive ones
// past the signed range; its XML reader can.
plist_t integerFromText(const QByteArray& decimal)
{
    const QByteArray xml = "<plist version=\"1.0\"><integer>" + decimal + "</integer></plist>";
    plist_t node = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &node);
    return node;
}

plist_t toNode(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return plist_new_string(value.toString().toUtf8().constData());
    case QMetaType::Bool:
        return plist_new_bool(value.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Long:
        if (value.toLongLong() < 0)
            return integerFromText(QByteArray::number(value.toLongLong()));
        return plist_new_uint(uint64_t(value.toLongLong()));
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::ULong:
        if (value.toULongLong() > quint64(std::numeric_limits<qint64>::max()))
            return integerFromText(QByteArray::number(value.toULongLong()));
        return plist_new_uint(value.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return plist_new_real(value.toDouble());
    case QMetaType::QByteArray: {
        const QByteArray data = value.toByteArray();
        return plist_new_data(data.constData(), uint64_t(data.size()));
    }
    case QMetaType::QDateTime: {
        const qint64 ms = plistEpoch.msecsTo(value.toDateTime());
        return plist_new_date(int32_t(ms / 1000), int32_t((ms % 1000) * 1000));
    }
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        plist_t array = plist_new_array();
        for (const QVariant& item : value.toList()) {
            if (plist_t node = toNode(item))
                plist_array_append_item(array, node);
        }
        return array;
    }
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        plist_t dict = plist_new_dict();
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (plist_t node = toNode(it.value()))
                plist_dict_set_item(dict, it.key().toUtf8().constData(), node);
        }
        return dict;
    }
    default:
        return nullptr;
    }
}

} // namespace

void PropertyList::Free::operator()(void* node) const
{
    plist_free(node);
}

PropertyList::PropertyList(void* root, Format format)
    : m_root(root)
    , m_format(format)
{
}

std::optional<PropertyList> PropertyList::load(const QString& path)
{
    // One open and one read: a scan does this for every app.
    const std::optional<QByteArray> data = readSmallFile(path, maxFileSize);
    if (!data)
        return std::nullopt;
    return fromData(*data);
}

void* PropertyList::parseRoot(const QByteArray& data, qint64 limit, Format& format)
{
    if (data.isEmpty() || data.size() > limit)
        return nullptr;
    const uint32_t length = uint32_t(data.size());
    const bool binary = plist_is_binary(data.constData(), length) != 0;
    if (!(binary ? BinaryGraph(data).acceptable() : xmlNestingAcceptable(data)))
        return nullptr;
    plist_t root = nullptr;
    if (binary)
        plist_from_bin(data.constData(), length, &root);
    else
        plist_from_xml(data.constData(), length, &root);
    format = binary ? Format::binary : Format::xml;
    return root;
}

std::optional<PropertyList> PropertyList::fromData(const QByteArray& data)
{
    Format format = Format::xml;
    std::unique_ptr<void, Free> root(parseRoot(data, maxFileSize, format));
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT)
        return std::nullopt;
    return PropertyList(root.release(), format);
}

std::optional<QVariant> PropertyList::parse(const QByteArray& bytes)
{
    Format format = Format::xml;
    const std::unique_ptr<void, Free> root(parseRoot(bytes, maxParseSize, format));
    if (!root)
        return std::nullopt;
    return convert(root.get());
}

std::optional<QVariantMap> PropertyList::readDictionary(const QString& path)
{
    const std::optional<PropertyList> list = load(path);
    if (!list)
        return std::nullopt;
    return list->toMap();
}

QByteArray PropertyList::serialize(const QVariantMap& dictionary, Format format)
{
    std::unique_ptr<void, Free> root(toNode(dictionary));
    char* bytes = nullptr;
    uint32_t length = 0;
    if (format == Format::binary) {
        plist_to_bin(root.get(), &bytes, &length);
        QByteArray result(bytes, qsizetype(length));
        plist_to_bin_free(bytes);
        return result;
    }
    plist_to_xml(root.get(), &bytes, &length);
    QByteArray result(bytes, qsizetype(length));
    plist_to_xml_free(bytes);
    return result;
}

void* PropertyList::item(const QString& key) const
{
    return plist_dict_get_item(m_root.get(), key.toUtf8().constData());
}

bool PropertyList::isEmpty() const
{
    return plist_dict_get_size(m_root.get()) == 0;
}

QStringList PropertyList::keys() const
{
    QStringList keys;
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(m_root.get(), &iterator);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(m_root.get(), iterator, &key, &value);
        if (!key)
            break;
        keys.append(QString::fromUtf8(key));
        std::free(key);
    }
    std::free(iterator);
    return keys;
}

bool PropertyList::contains(const QString& key) const
{
    return item(key) != nullptr;
}

QVariant PropertyList::value(const QString& key) const
{
    plist_t node = item(key);
    return node ? convert(node) : QVariant();
}

QVariantMap PropertyList::toMap() const
{
    return convert(m_root.get()).toMap();
}

std::optional<QString> PropertyList::string(const QString& key) const
{
    plist_t node = item(key);
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::nullopt;
    return convert(node).toString();
}

std::optional<QString> PropertyList::text(const QString& key) const
{
    plist_t node = item(key);
    if (!node)
        return std::nullopt;
    QString text;
    switch (plist_get_node_type(node)) {
    case PLIST_STRING:
        text = convert(node).toString();
        break;
    case PLIST_UINT:
        text = convert(node).toString();
        break;
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        text = QString::number(value, 'g', QLocale::FloatingPointShortest);
        break;
    }
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        text = value ? u"1"_s : u"0"_s;
        break;
    }
    default:
        // A date, data or a container has no sensible text to compare as a version.
        return std::nullopt;
    }
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == u' ' || text[begin] == u'\t'))
        ++begin;
    while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
        --end;
    if (begin == end)
        return std::nullopt;
    return text.mid(begin, end - begin);
}

} // namespace corvanta
