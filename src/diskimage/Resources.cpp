#include "diskimage/Resources.h"

#include "diskimage/MacRoman.h"
#include "diskimage/RtfText.h"

#include <QStringDecoder>
#include <QtEndian>

using namespace Qt::StringLiterals;

namespace corvanta::udif {

namespace {

constexpr int licenseBaseId = 5000;
// Region codes of English-speaking regions: US, Britain, Australia, Ireland, Canada (English).
constexpr std::array<int, 5> englishRegions { 0, 2, 15, 50, 82 };

bool within(const QByteArray& bytes, quint64 offset, quint64 length)
{
    return offset <= quint64(bytes.size()) && length <= quint64(bytes.size()) - offset;
}
quint32 be32(const QByteArray& bytes, qsizetype offset)
{
    return qFromBigEndian<quint32>(bytes.constData() + offset);
}
quint16 be16(const QByteArray& bytes, qsizetype offset)
{
    return qFromBigEndian<quint16>(bytes.constData() + offset);
}

const Resource* find(const std::vector<Resource>& resources, const char* type, int id)
{
    for (const Resource& resource : resources)
        if (resource.type == type && resource.id == id)
            return &resource;
    return nullptr;
}

// A "STR#" list: a count, then Pascal strings.
std::vector<QByteArray> stringList(const QByteArray& data)
{
    std::vector<QByteArray> strings;
    if (data.size() < 2)
        return strings;
    const int count = be16(data, 0);
    qsizetype pos = 2;
    for (int i = 0; i < count && pos < data.size(); ++i) {
        const auto length = static_cast<unsigned char>(data[pos]);
        if (pos + 1 + length > data.size())
            break;
        strings.push_back(data.mid(pos + 1, length));
        pos += 1 + length;
    }
    return strings;
}

// Two-byte regions store their texts in their own encodings.
QString decode(const QByteArray& bytes, int region, bool twoByte)
{
    if (twoByte) {
        const char* name = region == 14 ? "Shift_JIS"
            : region == 51              ? "EUC-KR"
            : region == 53              ? "Big5"
                                        : "GB2312";
        QStringDecoder decoder(name);
        if (decoder.isValid())
            return decoder.decode(bytes);
    }
    return fromMacRoman(bytes);
}

QString withLineFeeds(QString text)
{
    text.replace(u"\r\n"_s, u"\n"_s);
    text.replace(u'\r', u'\n');
    return text;
}

} // namespace

std::optional<std::vector<Resource>> parseResourceFork(const QByteArray& fork)
{
    if (fork.size() < 16)
        return std::nullopt;
    const quint32 dataOffset = be32(fork, 0);
    const quint32 mapOffset = be32(fork, 4);
    const quint32 dataLength = be32(fork, 8);
    const quint32 mapLength = be32(fork, 12);
    if (!within(fork, dataOffset, dataLength) || !within(fork, mapOffset, mapLength) || mapLength < 28)
        return std::nullopt;
    const QByteArray map = fork.mid(mapOffset, mapLength);
    const QByteArray data = fork.mid(dataOffset, dataLength);
    const quint16 typeListOffset = be16(map, 24);
    const quint16 nameListOffset = be16(map, 26);
    if (!within(map, typeListOffset, 2))
        return std::nullopt;
    const int typeCount = (be16(map, typeListOffset) + 1) & 0xFFFF;

    std::vector<Resource> resources;
    for (int t = 0; t < typeCount; ++t) {
        const qsizetype typeEntry = typeListOffset + 2 + qsizetype(t) * 8;
        if (!within(map, quint64(typeEntry), 8))
            return std::nullopt;
        const QByteArray type = map.mid(typeEntry, 4);
        const int count = be16(map, typeEntry + 4) + 1;
        const qsizetype references = typeListOffset + be16(map, typeEntry + 6);
        for (int r = 0; r < count; ++r) {
            const qsizetype entry = references + qsizetype(r) * 12;
            if (!within(map, quint64(entry), 12))
                return std::nullopt;
            Resource resource;
            resource.type = type;
            resource.id = qint16(be16(map, entry));
            const quint16 nameOffset = be16(map, entry + 2);
            const quint32 offset = be32(map, entry + 4) & 0x00FFFFFF;
            if (!within(data, offset, 4) || !within(data, quint64(offset) + 4, be32(data, offset)))
                return std::nullopt;
            resource.data = data.mid(offset + 4, be32(data, offset));
            if (nameOffset != 0xFFFF) {
                const quint64 nameAt = quint64(nameListOffset) + nameOffset;
                if (within(map, nameAt, 1)
                    && within(map, nameAt + 1, static_cast<unsigned char>(map[qsizetype(nameAt)])))
                    resource.name = fromMacRoman(
                        map.mid(qsizetype(nameAt) + 1, static_cast<unsigned char>(map[qsizetype(nameAt)])));
            }
            resources.push_back(std::move(resource));
        }
    }
    return resources;
}

std::optional<LicenseAgreement> readLicenseAgreement(const std::vector<Resource>& resources)
{
    const Resource* lpic = find(resources, "LPic", licenseBaseId);
    if (!lpic)
        for (const Resource& resource : resources)
            if (resource.type == "LPic")
                lpic = &resource;
    if (!lpic || lpic->data.size() < 4)
        return std::nullopt;

    struct Entry {
        int region;
        int id;
        bool twoByte;
    };
    std::vector<Entry> entries;
    const int defaultIndex = be16(lpic->data, 0);
    const int count = be16(lpic->data, 2);
    for (int i = 0; i < count && 4 + (i + 1) * 6 <= lpic->data.size(); ++i) {
        const qsizetype at = 4 + qsizetype(i) * 6;
        entries.push_back({ be16(lpic->data, at), licenseBaseId + qint16(be16(lpic->data, at + 2)),
            be16(lpic->data, at + 4) != 0 });
    }
    if (entries.empty())
        return std::nullopt;

    const Entry* chosen = nullptr;
    for (const int region : englishRegions) {
        for (const Entry& entry : entries) {
            if (entry.region == region) {
                chosen = &entry;
                break;
            }
        }
        if (chosen)
            break;
    }
    if (!chosen)
        chosen = &entries[std::size_t(defaultIndex) < entries.size() ? std::size_t(defaultIndex) : 0];

    LicenseAgreement agreement;
    if (const Resource* text = find(resources, "TEXT", chosen->id))
        agreement.text = withLineFeeds(decode(text->data, chosen->region, chosen->twoByte));
    else if (const Resource* rtf = find(resources, "RTF ", chosen->id))
        agreement.text = withLineFeeds(rtfToText(rtf->data));
    else
        return std::nullopt;
    if (const Resource* strings = find(resources, "STR#", chosen->id)) {
        const auto list = stringList(strings->data);
        if (!list.empty())
            agreement.language = decode(list[0], chosen->region, chosen->twoByte);
        if (list.size() > 5)
            agreement.prompt = withLineFeeds(decode(list[5], chosen->region, chosen->twoByte));
    }
    return agreement;
}

std::vector<Resource> licenseResources(const QString& text)
{
    const auto beBytes = [](std::initializer_list<quint16> values) {
        QByteArray bytes;
        for (const quint16 value : values) {
            bytes.append(char(value >> 8));
            bytes.append(char(value & 0xFF));
        }
        return bytes;
    };
    // One language, US English, whose resources have the base id.
    const QByteArray lpic = beBytes({ 0, 1, 0, 0, 0 });

    QByteArray strings = beBytes({ 6 });
    const QStringList labels { u"English"_s, u"Agree"_s, u"Disagree"_s, u"Print"_s, u"Save\u2026"_s,
        u"If you agree with the terms of this license, press \u201cAgree\u201d to install the software. If "
        u"you "
        "do not agree, press \u201cDisagree\u201d."_s };
    for (const QString& label : labels) {
        const QByteArray encoded = toMacRoman(label).left(255);
        strings.append(char(encoded.size()));
        strings.append(encoded);
    }
    QString macText = text;
    macText.replace(u'\n', u'\r');

    return {
        Resource { "LPic", licenseBaseId, {}, lpic },
        Resource { "STR#", licenseBaseId, {}, strings },
        Resource { "TEXT", licenseBaseId, {}, toMacRoman(macText) },
    };
}

} // namespace corvanta::udif
