#pragma once

#include "discovery/InstalledApp.h"
#include "platform/HostInfo.h"
#include "sources/Endpoints.h"
#include "sources/Release.h"

#include <functional>
#include <optional>
#include <vector>

#include <QCoro/QCoroTask>
#include <QLocale>
#include <QString>
#include <QUrl>

namespace corvanta {

class BrewIndex;
class Net;

// What the checks need to know about this Mac.
struct MacFacts {
#if defined(__aarch64__) || defined(__arm64__)
    bool appleSilicon = true; // picks GitHub assets; by default the build's own CPU family
#else
    bool appleSilicon = false;
#endif
    SystemVersion system { 15, 0, 0 }; // filters appcast items
    QString region = QStringLiteral("US"); // the App Store country asked

    static MacFacts of(const HostInfo& host, const QLocale& locale = QLocale());
    // The locale's two-letter region, or "US" when it has none (the C locale).
    static QString regionOf(const QLocale& locale);
};

// One app's check: an attempt per source asked, and the release of the
// source that answered, if any.
struct CheckResult {
    std::vector<Attempt> attempts;
    std::optional<Release> release;
};

struct CheckedApp {
    InstalledApp app;
    std::vector<Attempt> attempts;
    std::optional<Release> release;
};

// Asks the update sources about installed apps, in a fixed order, stopping at
// the first that knows a release. A cheap value: copies share the session and
// the cask index, which must outlive every check started from it.
class Checker {
public:
    using Each = std::function<QCoro::Task<>(const InstalledApp& app, const std::vector<Attempt>& attempts,
        const std::optional<Release>& release)>;

    Checker(Net& net, Endpoints endpoints, BrewIndex& brew, MacFacts facts = {});

    // App Store, Sparkle, Homebrew, GitHub, Electron. Never throws: every
    // failure becomes an attempt.
    QCoro::Task<CheckResult> check(InstalledApp app) const;

    // Checks every app with at most `limit` checks running at once and returns
    // the results in the order they finished. `each` sees every result as it
    // arrives, one at a time; the next check starts after it returns.
    QCoro::Task<std::vector<CheckedApp>> checkAll(
        std::vector<InstalledApp> apps, int limit, Each each = {}) const;

    // The App Store lookup for the app's bundle identifier in this Mac's country.
    QUrl lookupURL(const InstalledApp& app) const;

    const Endpoints& endpoints() const { return m_endpoints; }
    const MacFacts& facts() const { return m_facts; }

private:
    // Static with the checker by value, so a check outlives the Checker it came from.
    static QCoro::Task<CheckResult> run(Checker self, InstalledApp app);

    Net* m_net;
    Endpoints m_endpoints;
    BrewIndex* m_brew;
    MacFacts m_facts;
};

} // namespace corvanta
