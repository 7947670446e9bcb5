#include "app/Commands.h"
#include "codesign/MachO.h"
#include "codesign/PortableCodeSigning.h"
#include "codesign/PropertyList.h"
#include "discovery/ElectronFeed.h"
#include "discovery/Scanner.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// The Info.plist keys the scanner reads, in the order it reads them.
const QStringList readKeys { u"CFBundleIdentifier"_s, u"CFBundleShortVersionString"_s, u"CFBundleVersion"_s,
    u"SUFeedURL"_s, u"SUPublicEDKey"_s, u"CFBundleExecutable"_s };

QString typeName(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return u"string"_s;
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return u"integer"_s;
    case QMetaType::Double:
        return u"real"_s;
    case QMetaType::Bool:
        return u"boolean"_s;
    case QMetaType::QDateTime:
        return u"date"_s;
    case QMetaType::QByteArray:
        return u"data"_s;
    case QMetaType::QVariantList:
        return u"array"_s;
    case QMetaType::QVariantMap:
        return u"dictionary"_s;
    default:
        return u"unknown"_s;
    }
}

QJsonValue jsonValue(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QByteArray:
        return QString::fromLatin1(value.toByteArray().toBase64());
    case QMetaType::QDateTime:
        return value.toDateTime().toString(Qt::ISODate);
    case QMetaType::ULongLong:
        return value.toString(); // past what a JSON number holds exactly
    default:
        return QJsonValue::fromVariant(value);
    }
}

QString shown(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return u'"' + value.toString() + u'"';
    case QMetaType::QVariantList:
    case QMetaType::QVariantMap:
        return QString::fromUtf8(QJsonDocument::fromVariant(value).toJson(QJsonDocument::Compact));
    default:
        return jsonValue(value).toVariant().toString();
    }
}

// Why the scanner passes over the bundle at `path`.
QString whyUnreadable(const QString& path)
{
    const QString info = path + u"/Contents/Info.plist"_s;
    if (!QFileInfo(path).isDir())
        return u"\u201c%1\u201d is not a folder."_s.arg(path);
    if (!QFileInfo::exists(info))
        return u"\u201c%1\u201d has no Contents/Info.plist, so it is not an app bundle."_s.arg(path);
    const std::optional<PropertyList> list = PropertyList::load(info);
    if (!list)
        return u"The Info.plist of \u201c%1\u201d is not a readable property-list dictionary."_s.arg(path);
    if (list->isEmpty())
        return u"The Info.plist of \u201c%1\u201d is empty."_s.arg(path);
    return u"The Info.plist of \u201c%1\u201d has no CFBundleIdentifier string."_s.arg(path);
}

QString line(const QString& label, const QString& value, qsizetype width = 16)
{
    return u"  "_s + QString(label + u':').leftJustified(width) + value + u'\n';
}

QString orNone(const std::optional<QString>& text)
{
    return text ? *text : u"none"_s;
}

QString orNone(const std::optional<QUrl>& url)
{
    return url ? url->toString() : u"none"_s;
}

// What the installer would judge of this bundle as a download: its signature
// under the installer's flags, its designated requirement and its architectures.
struct Judgement {
    ValidityResult validity;
    std::optional<QString> designated;
    QStringList architectures;

    QString validityText() const
    {
        if (validity.isValid())
            return validity.revocationNote ? u"valid; "_s + *validity.revocationNote : u"valid"_s;
        return u"invalid (%1): %2"_s.arg(QString::number(validity.status),
            validity.message.value_or(u"error "_s + QString::number(validity.status)));
    }
};

Judgement judge(const QString& path, const QString& anchorFolder, std::uint32_t flags)
{
    const codesign::PortableCodeSigning codeSigning { codesign::TrustAnchors::fromFolder(anchorFolder) };
    Judgement judgement { codeSigning.checkValidity(path, flags), codeSigning.designatedRequirement(path),
        {} };
    for (const std::uint32_t cpu : codeSigning.architectures(path))
        judgement.architectures << codesign::architectureName(cpu);
    return judgement;
}

} // namespace

QCoro::Task<int> commands::inspectBundle(CliContext& context)
{
    QStringList arguments = context.arguments;
    // Offline: judged without asking the certificates' revocation services.
    const std::uint32_t flags = arguments.removeAll(u"--offline"_s) > 0
        ? ValidityFlags::installer & ~ValidityFlags::enforceRevocationChecks
        : ValidityFlags::installer;
    QString anchorFolder = codesign::TrustAnchors::defaultFolder();
    if (const qsizetype at = arguments.indexOf(u"--anchors"_s); at >= 0) {
        if (at + 1 >= arguments.size())
            co_return context.usage(u"--anchors needs a folder of root certificates."_s);
        anchorFolder = arguments[at + 1];
        arguments.remove(at, 2);
    }
    if (arguments.size() != 1)
        co_return context.usage(u"inspect bundle takes one bundle path."_s);
    const QString path = QDir::cleanPath(QFileInfo(arguments[0]).absoluteFilePath());
    const QUrl url = QUrl::fromLocalFile(path);
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).path());
    // Reading a team verifies nothing, so no trust anchors are needed.
    const codesign::PortableCodeSigning codeSigning { codesign::TrustAnchors() };

    const std::optional<InstalledApp> app = Scanner::read(url, folder, codeSigning);
    if (!app) {
        context.err << whyUnreadable(path) << '\n';
        co_return 1;
    }
    const SigningInformation signing = Scanner::signing(url, codeSigning);
    const QString contents = path + u"/Contents/"_s;
    const std::optional<PropertyList> info = PropertyList::load(contents + u"Info.plist"_s);
    const QString ymlPath = contents + u"Resources/app-update.yml"_s;
    const std::optional<QMap<QString, QString>> appUpdate = ElectronFeed::readConfig(ymlPath);
    const QString format = info && info->format() == PropertyList::Format::binary ? u"binary"_s : u"xml"_s;
    const Judgement judgement = judge(path, anchorFolder, flags);

    if (context.json) {
        QJsonObject document = app->toJson();
        document[u"signingIdentifier"_s]
            = signing.identifier ? QJsonValue(*signing.identifier) : QJsonValue();
        document[u"isCorvanta"_s] = app->isCorvanta();
        document[u"architectures"_s] = QJsonArray::fromStringList(judgement.architectures);
        document[u"signature"_s] = QJsonObject { { u"valid"_s, judgement.validity.isValid() },
            { u"status"_s, judgement.validity.status },
            { u"message"_s,
                judgement.validity.message ? QJsonValue(*judgement.validity.message) : QJsonValue() },
            { u"revocationNote"_s,
                judgement.validity.revocationNote ? QJsonValue(*judgement.validity.revocationNote)
                                                  : QJsonValue() },
            { u"designatedRequirement"_s,
                judgement.designated ? QJsonValue(*judgement.designated) : QJsonValue() } };
        QJsonObject keys;
        for (const QString& key : readKeys) {
            if (info && info->contains(key))
                keys[key] = QJsonObject { { u"type"_s, typeName(info->value(key)) },
                    { u"value"_s, jsonValue(info->value(key)) } };
        }
        document[u"infoPlist"_s] = QJsonObject { { u"format"_s, format }, { u"keys"_s, keys } };
        QJsonObject yml;
        if (appUpdate) {
            for (auto it = appUpdate->begin(); it != appUpdate->end(); ++it)
                yml[it.key()] = it.value();
        }
        document[u"appUpdate"_s] = appUpdate ? QJsonValue(yml) : QJsonValue();
        context.out << QJsonDocument(document).toJson(QJsonDocument::Indented);
        co_return 0;
    }

    QTextStream& out = context.out;
    out << app->name << u" ("_s << path << u")\n"_s;
    out << line(u"Bundle ID"_s, app->bundleID);
    out << line(u"Version"_s, orNone(app->version));
    out << line(u"Build"_s, orNone(app->build));
    out << line(u"Team"_s, orNone(app->team));
    out << line(u"Signing ID"_s, orNone(signing.identifier));
    out << line(u"Architectures"_s,
        judgement.architectures.isEmpty() ? u"none readable"_s : judgement.architectures.join(u", "_s));
    out << line(u"Signature"_s, judgement.validityText());
    out << line(u"Requirement"_s, orNone(judgement.designated));
    out << line(u"App Store"_s, app->isAppStore ? u"yes (Contents/_MASReceipt/receipt)"_s : u"no"_s);
    out << line(u"Sparkle feed"_s, orNone(app->feedURL));
    out << line(u"EdDSA key"_s, orNone(app->edKey));
    out << line(u"Electron feed"_s, orNone(app->electronFeed));
    out << line(u"This program"_s, app->isCorvanta() ? u"yes"_s : u"no"_s);
    out << u"Info.plist ("_s << format << u"):\n"_s;
    for (const QString& key : readKeys) {
        const QVariant value = info ? info->value(key) : QVariant();
        out << line(key, value.isValid() ? shown(value) + u" ("_s + typeName(value) + u')' : u"absent"_s, 29);
    }
    if (appUpdate) {
        out << u"app-update.yml:\n"_s;
        for (auto it = appUpdate->begin(); it != appUpdate->end(); ++it)
            out << u"  "_s << it.key() << u": "_s << it.value() << u'\n';
    } else {
        out << u"app-update.yml: none\n"_s;
    }
    co_return 0;
}

} // namespace corvanta
