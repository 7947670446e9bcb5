#include "model/AppItem.h"
#include "support/QtPrinters.h"
#include "views/text/Hero.h"
#include "views/text/StatusCard.h"

#include <QLocale>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

InstalledApp app(std::optional<QString> version, std::optional<QString> build = std::nullopt)
{
    InstalledApp result;
    result.url = QUrl::fromLocalFile(u"/Applications/Example.app"_s);
    result.name = u"Example"_s;
    result.bundleID = u"com.example"_s;
    result.version = version;
    result.build = build;
    return result;
}

Release release(SourceKind kind, std::optional<QString> version, std::optional<QString> build = std::nullopt)
{
    Release result;
    result.kind = kind;
    result.version = version;
    result.build = build;
    return result;
}

struct CardRow {
    const char* name;
    InstalledApp app;
    std::optional<Release> release;
    Status status;
    InstallPhase phase;
    struct {
        Tint tint;
        QString title;
        QString message;
    } expected; // the symbol goes with the tint; which symbol is for the eye
};

TEST(StatusCard, Table)
{
    const QString unchanged = u" The installed app wasn't changed."_s;
    const std::vector<CardRow> rows {
        { "downloading", app(u"2.0"_s), release(SourceKind::sparkle, u"2.1"_s), Status::update(),
            InstallPhase::downloading(0.456), { Tint::accent, u"Downloading 2.1"_s, u"46% downloaded."_s } },
        { "downloading without a release", app(u"2.0"_s), std::nullopt, Status::update(),
            InstallPhase::downloading(0.0),
            { Tint::accent, u"Downloading the update"_s, u"0% downloaded."_s } },
        { "queued", app(u"2.0"_s), std::nullopt, Status::update(), InstallPhase::queued(),
            { Tint::accent, u"Queued"_s, u"Waiting for the updates ahead of it."_s } },
        { "verifying", app(u"2.0"_s), release(SourceKind::homebrew, std::nullopt, u"77"_s), Status::update(),
            InstallPhase::verifying(),
            { Tint::accent, u"Verifying 77"_s,
                u"Checking size, checksum, signatures and Team ID before anything changes."_s } },
        { "installing", app(u"2.0"_s), release(SourceKind::github, std::nullopt), Status::update(),
            InstallPhase::installing(),
            { Tint::accent, u"Installing ?"_s,
                u"Swapping in the new version; the old one goes to the Trash."_s } },
        { "blocked beats the status", app(u"2.0"_s), release(SourceKind::sparkle, u"2.1"_s), Status::update(),
            InstallPhase::blocked(),
            { Tint::orange, u"Permission needed"_s,
                u"macOS needs your OK before Corvanta can change Example: turn on Corvanta under Privacy & Security › App Management. The update retries by itself once it's on."_s
                    + unchanged } },
        { "failed", app(u"2.0"_s), release(SourceKind::sparkle, u"2.1"_s), Status::update(),
            InstallPhase::failed(u"Download failed."_s),
            { Tint::red, u"Update failed"_s, u"Download failed."_s + unchanged } },
        { "done keeps the status message", app(u"2.1"_s), release(SourceKind::sparkle, u"2.1"_s),
            Status::update(), InstallPhase::done(),
            { Tint::green, u"Updated to 2.1"_s, u"2.1 → 2.1 from Sparkle."_s } },
        { "can't verify", app(u"1.0"_s), std::nullopt,
            Status::cantVerify(u"Sparkle: The server answered HTTP 404"_s), InstallPhase::idle(),
            { Tint::orange, u"Can't verify"_s,
                u"Corvanta couldn't confirm whether this app is current. Sparkle: The server answered HTTP 404."_s } },
        { "ignored", app(u"1.0"_s), std::nullopt, Status::ignored(u"You're skipping version 2.0"_s),
            InstallPhase::idle(), { Tint::secondary, u"Ignored"_s, u"You're skipping version 2.0."_s } },
        { "checking", app(u"1.0"_s), std::nullopt, Status::checking(), InstallPhase::idle(),
            { Tint::secondary, u"Checking"_s, u"Looking for the newest version…"_s } },
        { "update by builds", app(std::nullopt, u"88"_s), release(SourceKind::sparkle, std::nullopt, u"90"_s),
            Status::update(), InstallPhase::idle(),
            { Tint::accent, u"Update available"_s, u"88 → 90 from Sparkle."_s } },
        { "up to date", app(u"1.0"_s), release(SourceKind::homebrew, u"1.0"_s), Status::upToDate(),
            InstallPhase::idle(),
            { Tint::green, u"Up to date"_s,
                u"1.0 is current. The newest version Homebrew cask lists is 1.0."_s } },
        { "up to date without a release", app(std::nullopt), std::nullopt, Status::upToDate(),
            InstallPhase::idle(),
            { Tint::green, u"Up to date"_s,
                u"unknown is current. The newest version the source lists is ?."_s } },
    };
    for (const CardRow& row : rows) {
        AppItem item(row.app);
        item.setRelease(row.release);
        item.setStatus(row.status);
        item.setPhase(row.phase);
        const StatusCard card = StatusCard::of(item);
        EXPECT_EQ(card.title, row.expected.title) << row.name;
        EXPECT_EQ(card.message, row.expected.message) << row.name;
        EXPECT_EQ(card.tint, row.expected.tint) << row.name;
    }
}

TEST(Hero, Headline)
{
    HeroFacts facts;
    facts.scanning = true;
    EXPECT_EQ(Hero::headline(facts), u"Scanning your apps…"_s);
    facts.toCheck = 42;
    EXPECT_EQ(Hero::headline(facts), u"Checking 0 of 42…"_s);
    facts.scanning = false;
    EXPECT_EQ(Hero::headline(facts), u"Everything's up to date"_s);
    facts.cantVerify = 2;
    EXPECT_EQ(Hero::headline(facts), u"No updates found"_s);
    facts.updates = 1;
    EXPECT_EQ(Hero::headline(facts), u"1 update ready"_s);
    facts.updates = 3;
    EXPECT_EQ(Hero::headline(facts), u"3 updates ready"_s);
}

TEST(Hero, Summary)
{
    QLocale::setDefault(QLocale::c()); // short time format "HH:mm"
    HeroFacts facts;
    EXPECT_EQ(Hero::summary(facts), u"0 apps  ·  0 up to date"_s);
    facts.visible = 50;
    facts.upToDate = 45;
    facts.cantVerify = 3;
    facts.lastChecked = QDateTime(QDate(2026, 12, 6), QTime(9, 30));
    EXPECT_EQ(Hero::summary(facts), u"50 apps  ·  45 up to date  ·  3 can't be verified  ·  checked 09:30"_s);
    facts.ignored = 1;
    facts.scanning = true;
    EXPECT_EQ(Hero::summary(facts), u"50 apps  ·  45 up to date  ·  3 can't be verified  ·  1 ignored"_s);
}

} // namespace
