#pragma once

#include "sources/Release.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>

namespace corvanta {

class Net;

// The Mac App Store lookup service: a version and a store link, never a download.
namespace AppStore {

// The host of the store links made from a track identifier.
inline constexpr QLatin1StringView storeHost { "apps.apple.com" };

// The release a lookup answer gives for `bundleID`: its Mac record when the
// results say their kind, else its first. `region` is the country the lookup
// asked in, quoted when the app isn't found.
Release parse(const QByteArray& body, const QString& bundleID, const QString& region);

// Asks `lookupURL` (built by Checker::lookupURL) about `bundleID`.
QCoro::Task<Release> read(Net& net, QString bundleID, QUrl lookupURL);

} // namespace AppStore

} // namespace corvanta
