#pragma once

#include "sources/Release.h"

#include <optional>

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QJsonArray>
#include <QJsonObject>
#include <QUrl>

namespace corvanta {

class Net;

// GitHub's "latest release" of a repository, with the asset that fits this Mac.
namespace GitHub {

// The asset most likely to be this Mac's build: a .dmg or .zip, never for
// another system, never for the other processor family, universal and
// Mac-named builds first. None when no asset qualifies. `arm` says
// whether this Mac has Apple silicon.
std::optional<QJsonObject> macAsset(const QJsonArray& assets, bool arm);

// The release a releases/latest answer describes.
Release parse(const QByteArray& body, bool arm);

QCoro::Task<Release> read(Net& net, QUrl url, bool arm);

} // namespace GitHub

} // namespace corvanta
