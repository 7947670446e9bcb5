#include "demo/Manifest.h"

#include "base/Error.h"

#include <algorithm>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace corvanta::demo {

namespace {

QJsonValue orNull(const std::optional<QString>& text)
{
    return text ? QJsonValue(*text) : QJsonValue();
}

std::optional<QString> optionalText(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    return std::nullopt;
}

QJsonObject toJson(const ExpectedCheck& check)
{
    return { { u"status"_s, check.status }, { u"source"_s, orNull(check.source) },
        { u"release"_s, orNull(check.release) }, { u"text"_s, orNull(check.text) } };
}

ExpectedCheck checkFrom(const QJsonObject& json)
{
    return { json[u"status"_s].toString(), optionalText(json[u"source"_s]), optionalText(json[u"release"_s]),
        optionalText(json[u"text"_s]) };
}

QJsonObject toJson(const ExpectedUpdate& update)
{
    return { { u"outcome"_s, ExpectedUpdate::name(update.outcome) }, { u"version"_s, orNull(update.version) },
        { u"text"_s, orNull(update.text) }, { u"log"_s, QJsonArray::fromStringList(update.log) } };
}

ExpectedUpdate updateFrom(const QJsonObject& json)
{
    ExpectedUpdate update;
    const QString outcome = json[u"outcome"_s].toString();
    if (outcome == ExpectedUpdate::name(ExpectedUpdate::Outcome::refused))
        update.outcome = ExpectedUpdate::Outcome::refused;
    else if (outcome == ExpectedUpdate::name(ExpectedUpdate::Outcome::notOffered))
        update.outcome = ExpectedUpdate::Outcome::notOffered;
    else if (outcome != ExpectedUpdate::name(ExpectedUpdate::Outcome::installed))
        throw Error(u"The manifest names an unknown update outcome \u201c"_s + outcome + u"\u201d."_s);
    update.version = optionalText(json[u"version"_s]);
    update.text = optionalText(json[u"text"_s]);
    for (const QJsonValue& line : json[u"log"_s].toArray())
        update.log << line.toString();
    return update;
}

QJsonObject toJson(const ExpectedRestore& restore)
{
    return { { u"outcome"_s, ExpectedRestore::name(restore.outcome) },
        { u"version"_s, orNull(restore.version) }, { u"team"_s, orNull(restore.team) },
        { u"text"_s, orNull(restore.text) } };
}

ExpectedRestore restoreFrom(const QJsonObject& json)
{
    ExpectedRestore restore;
    const QString outcome = json[u"outcome"_s].toString();
    using Outcome = ExpectedRestore::Outcome;
    const auto known
        = std::find_if(std::begin(ExpectedRestore::outcomes), std::end(ExpectedRestore::outcomes),
            [&](Outcome candidate) { return ExpectedRestore::name(candidate) == outcome; });
    if (known == std::end(ExpectedRestore::outcomes))
        throw Error(u"The manifest names an unknown restore outcome \u201c"_s + outcome + u"\u201d."_s);
    restore.outcome = *known;
    restore.version = optionalText(json[u"version"_s]);
    restore.team = optionalText(json[u"team"_s]);
    restore.text = optionalText(json[u"text"_s]);
    return restore;
}

} // namespace

QString ExpectedRestore::name(Outcome outcome)
{
    switch (outcome) {
    case Outcome::installed:
        return u"installed"_s;
    case Outcome::refused:
        return u"refused"_s;
    case Outcome::appStore:
        return u"appStore"_s;
    case Outcome::manual:
        return u"manual"_s;
    }
    return {};
}

QString ExpectedUpdate::name(Outcome outcome)
{
    switch (outcome) {
    case Outcome::installed:
        return u"installed"_s;
    case Outcome::refused:
        return u"refused"_s;
    case Outcome::notOffered:
        return u"notOffered"_s;
    }
    return {};
}

const SampleApp* Manifest::app(const QString& bundleID) const
{
    for (const SampleApp& sample : apps) {
        if (sample.bundleID == bundleID)
            return &sample;
    }
    return nullptr;
}

QJsonObject Manifest::toJson() const
{
    QJsonArray list;
    for (const SampleApp& app : apps) {
        list.append(QJsonObject {
            { u"name"_s, app.name },
            { u"path"_s, app.path },
            { u"bundleID"_s, app.bundleID },
            { u"version"_s, orNull(app.version) },
            { u"build"_s, orNull(app.build) },
            { u"signing"_s, app.signing },
            { u"team"_s, orNull(app.team) },
            { u"edKey"_s, app.edKey },
            { u"about"_s, app.about },
            { u"digest"_s, app.digest },
            { u"check"_s, demo::toJson(app.check) },
            { u"update"_s, app.update ? QJsonValue(demo::toJson(*app.update)) : QJsonValue() },
            { u"restore"_s, app.restore ? QJsonValue(demo::toJson(*app.restore)) : QJsonValue() },
        });
    }
    return {
        { u"base"_s, base.toString() },
        { u"signedCode"_s, signedCode },
        { u"mac"_s, QJsonObject { { u"macOS"_s, macOS.text() }, { u"appleSilicon"_s, appleSilicon } } },
        { u"apps"_s, list },
    };
}

Manifest Manifest::fromJson(const QJsonObject& json)
{
    Manifest manifest;
    manifest.base = QUrl(json[u"base"_s].toString(), QUrl::StrictMode);
    if (!manifest.base.isValid() || manifest.base.scheme() != u"http" || !json[u"apps"_s].isArray())
        throw Error(u"The manifest has no server address or no apps."_s);
    manifest.signedCode = json[u"signedCode"_s].toBool();
    const QJsonObject mac = json[u"mac"_s].toObject();
    manifest.macOS = SystemVersion::parse(mac[u"macOS"_s].toString()).value_or(manifest.macOS);
    manifest.appleSilicon = mac[u"appleSilicon"_s].toBool(true);
    for (const QJsonValue& value : json[u"apps"_s].toArray()) {
        const QJsonObject entry = value.toObject();
        SampleApp app;
        app.name = entry[u"name"_s].toString();
        app.path = entry[u"path"_s].toString();
        app.bundleID = entry[u"bundleID"_s].toString();
        app.version = optionalText(entry[u"version"_s]);
        app.build = optionalText(entry[u"build"_s]);
        app.signing = entry[u"signing"_s].toString();
        app.team = optionalText(entry[u"team"_s]);
        app.edKey = entry[u"edKey"_s].toBool();
        app.about = entry[u"about"_s].toString();
        app.digest = entry[u"digest"_s].toString();
        app.check = checkFrom(entry[u"check"_s].toObject());
        if (entry[u"update"_s].isObject())
            app.update = updateFrom(entry[u"update"_s].toObject());
        if (entry[u"restore"_s].isObject())
            app.restore = restoreFrom(entry[u"restore"_s].toObject());
        if (app.bundleID.isEmpty() || app.path.isEmpty() || app.check.status.isEmpty())
            throw Error(u"The manifest lists an app without bundle identifier, path or expected status."_s);
        manifest.apps.push_back(std::move(app));
    }
    return manifest;
}

void Manifest::save(const QString& path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(u"Couldn't write "_s + path + u": "_s + file.errorString());
    file.write(QJsonDocument(toJson()).toJson(QJsonDocument::Indented));
    if (!file.commit())
        throw Error(u"Couldn't write "_s + path + u": "_s + file.errorString());
}

Manifest Manifest::load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(u"There's no demo world here: "_s + path + u" can't be read."_s);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (!document.isObject())
        throw Error(path + u" isn't a demo world's manifest ("_s + error.errorString() + u")."_s);
    return fromJson(document.object());
}

} // namespace corvanta::demo
