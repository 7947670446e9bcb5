#include "sources/Release.h"

#include "sources/Endpoints.h"
#include "support/QtPrinters.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

TEST(SourceKind, LabelsRoundTripInOrder)
{
    const QStringList labels { u"Mac App Store"_s, u"Sparkle"_s, u"Homebrew cask"_s, u"GitHub Releases"_s,
        u"Electron"_s };
    QStringList seen;
    for (SourceKind kind : allSourceKinds) {
        seen << label(kind);
        EXPECT_EQ(sourceKindFromLabel(label(kind)), kind);
    }
    EXPECT_EQ(seen, labels);
    EXPECT_EQ(sourceKindFromLabel(u"sparkle"), std::nullopt);
    EXPECT_EQ(sourceKindFromLabel(u""), std::nullopt);
    EXPECT_FALSE(canInstall(SourceKind::appStore));
    EXPECT_TRUE(canInstall(SourceKind::sparkle));
    EXPECT_TRUE(canInstall(SourceKind::homebrew));
    EXPECT_TRUE(canInstall(SourceKind::github));
    EXPECT_FALSE(canInstall(SourceKind::electron));
}

TEST(Release, LabelFallsBackToBuildThenQuestionMark)
{
    Release release;
    EXPECT_EQ(release.label(), u"?"_s);
    release.build = u"88"_s;
    EXPECT_EQ(release.label(), u"88"_s);
    release.version = u"1.2"_s;
    EXPECT_EQ(release.label(), u"1.2"_s);
}

TEST(Endpoints, PathsAppendWhateverTheBase)
{
    const Endpoints defaults;
    for (const QUrl& base : { defaults.itunes, defaults.brew, defaults.github }) {
        EXPECT_EQ(base.scheme(), u"https"_s);
        EXPECT_TRUE(base.path().isEmpty());
    }
    EXPECT_EQ(appendPath(QUrl(u"https://h"_s), u"lookup"_s), QUrl(u"https://h/lookup"_s));
    EXPECT_EQ(appendPath(QUrl(u"http://127.0.0.1:8080/mock/"_s), u"api/cask.json"_s),
        QUrl(u"http://127.0.0.1:8080/mock/api/cask.json"_s));
    EXPECT_EQ(appendPath(QUrl(u"http://h/mock"_s), u"repos/o/r/releases/latest"_s),
        QUrl(u"http://h/mock/repos/o/r/releases/latest"_s));
}

TEST(ReleaseJson, NamesEveryField)
{
    Release release;
    release.kind = SourceKind::github;
    release.version = u"2.0"_s;
    release.notes = u"not printed"_s;
    release.notesURL = QUrl(u"https://github.com/o/r/releases/tag/v2.0"_s);
    release.download = Download { .url = QUrl(u"https://h/a b.zip"_s), .size = 5, .sha256 = u"ab"_s };
    release.ref = u"o/r"_s;
    const QJsonObject json = toJson(release);
    EXPECT_EQ(QJsonDocument(json).toJson(QJsonDocument::Compact),
        R"j({"build":null,"download":{"edSignature":null,"sha256":"ab","size":5,"url":"https://h/a%20b.zip"},)j"
        R"j("kind":"GitHub Releases","notesURL":"https://github.com/o/r/releases/tag/v2.0","ref":"o/r",)j"
        R"j("storeURL":null,"version":"2.0"})j");

    const Attempt skipped { .kind = SourceKind::electron,
        .outcome = Attempt::Skipped { u"No electron-updater config (app-update.yml)"_s } };
    EXPECT_EQ(QJsonDocument(toJson(skipped)).toJson(QJsonDocument::Compact),
        R"j({"found":null,"kind":"Electron","outcome":"skipped","text":"No electron-updater config (app-update.yml)","url":null})j");
    const Attempt passed {
        .kind = SourceKind::sparkle, .url = u"https://h/appcast.xml"_s, .found = u"1.0"_s
    };
    EXPECT_EQ(QJsonDocument(toJson(passed)).toJson(QJsonDocument::Compact),
        R"j({"found":"1.0","kind":"Sparkle","outcome":"pass","text":null,"url":"https://h/appcast.xml"})j");
}

} // namespace
