#pragma once

#include "account/LibraryApp.h"
#include "discovery/GitHub.h"
#include "model/Route.h"
#include "sources/Cask.h"
#include "sources/Checker.h"

#include <functional>
#include <optional>

#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>

namespace corvanta {

class BrewIndex;
class Net;

// Putting apps of the cloud library back onto this Mac: the way each one
// comes (its route), the page a user installs it from by hand, and the
// folder restored apps go into.
namespace Restore {

// Where the sources of a route are read.
struct Sources {
    Net& net;
    BrewIndex& brew;
    Checker checker; // endpoints and this Mac's facts
    QUrl githubWeb = corvanta::githubWeb;
    QUrl search { QStringLiteral("https://duckduckgo.com/") };
};

inline const QString electronReason
    = QStringLiteral("It updates itself, but there's no download Corvanta can verify.");
inline const QString nothingFoundReason
    = QStringLiteral("Corvanta found no download for it: no Homebrew cask, Sparkle feed or GitHub release.");
// The reason for an app whose stored cask token no longer names a cask.
QString caskGoneReason(const QString& token);

// The App Store page when one is stored; else the cask's, the appcast's and
// GitHub's downloads, in that order; else a page with the reason. Never
// throws: a source that fails adds no candidate.
QCoro::Task<Route> route(LibraryApp app, Sources sources);

// The cask's download as a candidate: its version up to the first ",", no
// checksum for "no_check", and the installer package it names. None
// without a download URL.
std::optional<Release> caskCandidate(const Cask& cask);

// The first web page among the stored home page, the cask's, a Homebrew
// release's notes page and the GitHub repository's page; else a web search
// for the app.
QUrl website(const LibraryApp& app, const std::optional<Cask>& cask, const std::optional<Release>& release,
    const Sources& sites);

// The folder to install into and whether it is `fallback`.
struct Folder {
    QString path;
    bool fellBack = false;
};
using Writable = std::function<bool(const QString& folder)>;
// Whether the current user may write into `folder`.
bool mayWrite(const QString& folder);
// `primary` when writable, else `fallback`, created with its parents.
// Throws SystemError when it can't be created.
Folder folder(const QString& primary, const QString& fallback, const Writable& writable = &mayWrite);

} // namespace Restore

} // namespace corvanta
