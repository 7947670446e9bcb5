#include "discovery/InstalledApp.h"

using namespace Qt::StringLiterals;

namespace corvanta {

QString InstalledApp::ownBundleID;

bool InstalledApp::isCorvanta() const
{
    return bundleID == (ownBundleID.isEmpty() ? defaultBundleID : ownBundleID);
}

QJsonObject InstalledApp::toJson() const
{
    auto text = [](const std::optional<QString>& value) { return value ? QJsonValue(*value) : QJsonValue(); };
    auto link = [](const std::optional<QUrl>& value) {
        return value ? QJsonValue(value->toString(QUrl::FullyEncoded)) : QJsonValue();
    };
    return QJsonObject {
        { u"name"_s, name },
        { u"path"_s, url.toLocalFile() },
        { u"folder"_s, folder.toLocalFile() },
        { u"bundleID"_s, bundleID },
        { u"version"_s, text(version) },
        { u"build"_s, text(build) },
        { u"team"_s, text(team) },
        { u"isAppStore"_s, isAppStore },
        { u"feedURL"_s, link(feedURL) },
        { u"edKey"_s, text(edKey) },
        { u"electronFeed"_s, link(electronFeed) },
    };
}

} // namespace corvanta
