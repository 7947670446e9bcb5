#pragma once

#include "discovery/GitHub.h"
#include "discovery/InstalledApp.h"
#include "platform/CodeSigning.h"

#include <optional>
#include <vector>

#include <QList>
#include <QUrl>

namespace corvanta {

// Finds the app bundles in application folders and reads each one from its
// own files. Blocking and stateless: callers run it off the main thread. The
// code-signing service and GitHub's web address are passed in so tests and
// the demo can stand in for them.
namespace Scanner {

// The bundles directly inside each folder and one subfolder level below, in
// the Finder's order of their names. Never throws; folders that can't be
// listed and bundles that can't be read contribute nothing.
std::vector<InstalledApp> scan(
    const QList<QUrl>& folders, const CodeSigning& codeSigning, const QUrl& githubWeb = corvanta::githubWeb);

// One bundle found under the root `folder`; none when it has no readable
// Info.plist dictionary with a string CFBundleIdentifier.
std::optional<InstalledApp> read(const QUrl& url, const QUrl& folder, const CodeSigning& codeSigning,
    const QUrl& githubWeb = corvanta::githubWeb);

// Team and signing identifier of the code at `url`.
SigningInformation signing(const QUrl& url, const CodeSigning& codeSigning);

// The latest-mac.yml address an app-update.yml file leads to.
std::optional<QUrl> electronFeed(const QUrl& url, const QUrl& githubWeb = corvanta::githubWeb);

// Sorts stably in the Finder's order of names: case-insensitive, digits
// compared as numbers, in the current locale (English under the C locale,
// which would otherwise compare code points).
void sortByName(std::vector<InstalledApp>& apps);

// A feed address from an Info.plist or app-update.yml: only absolute http and
// https URLs, the only ones the update sources can fetch.
std::optional<QUrl> parseFeedURL(const QString& text);

} // namespace Scanner

} // namespace corvanta
