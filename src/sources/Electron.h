#pragma once

#include "sources/Release.h"

#include <optional>

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>

namespace corvanta {

class Net;

// The latest-mac.yml feed of an app built with electron-updater, read with a
// line reader that knows just enough YAML for it.
namespace Electron {

// The value of `key` on one line ("version: 1.2.3", "- url: App.zip"),
// unquoted; none when the line doesn't hold that key or its value is empty.
std::optional<QString> value(QStringView line, QStringView key);

// The release the feed names; relative download URLs resolve against `feedURL`.
Release parse(const QByteArray& body, const QUrl& feedURL);

QCoro::Task<Release> read(Net& net, QUrl feedURL);

} // namespace Electron

} // namespace corvanta
