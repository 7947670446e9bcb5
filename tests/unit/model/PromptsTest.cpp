#include "model/Prompts.h"

#include "discovery/InstalledApp.h"
#include "sources/Release.h"
#include "support/Await.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

InstalledApp foo()
{
    InstalledApp app;
    app.name = u"Foo"_s;
    app.bundleID = u"com.example.foo"_s;
    return app;
}

TEST(Prompts, TheQuitQuestionNamesWhatWillBeInstalled)
{
    Release release;
    release.build = u"88"_s;
    const Question question = Question::quitToUpdate(foo(), release);
    EXPECT_EQ(question.title, u"Quit Foo to update it?"_s);
    EXPECT_EQ(question.text,
        u"Foo is open. Corvanta will quit it, install 88 and move the old version to the Trash. If the app "
        u"has "
        u"unsaved work it may ask you to save first."_s);
    EXPECT_EQ(question.confirm, u"Quit and Update"_s);
    EXPECT_EQ(question.cancel, u"Cancel"_s);

    release.version = u"2.1"_s;
    EXPECT_TRUE(Question::quitToUpdate(foo(), release).text.contains(u"install 2.1 and"_s));
    EXPECT_TRUE(Question::quitToUpdate(foo(), Release {}).text.contains(u"install ? and"_s));
    EXPECT_TRUE(Question::quitToUpdate(foo(), std::nullopt).text.contains(u"install the update and"_s));
}

TEST(Prompts, RemovalQuestionAndAlert)
{
    const Question question = Question::quitToRemove(foo());
    EXPECT_EQ(question,
        (Question { u"Quit Foo first?"_s, u"Foo is open. Corvanta will quit it, then move it to the Trash."_s,
            u"Quit and Continue"_s, u"Cancel"_s }));
    EXPECT_EQ(Alert::removalFailed(u"Foo"_s, u"Foo is running. Quit it first."_s),
        (Alert { u"Couldn't remove Foo"_s,
            u"Foo is running. Quit it first. Anything already moved is in the Trash and can be put back from "
            u"there."_s }));
}

TEST(Prompts, ThePackageQuestionStatesEveryFact)
{
    PackageConsent consent { u"Foo"_s, u"Developer ID Installer: Foo Inc (ABCDE12345)"_s, u"ABCDE12345"_s,
        true, true, false };
    const Question question = Question::packageConsent(consent);
    EXPECT_TRUE(question.text.contains(consent.signer));
    EXPECT_TRUE(question.text.contains(u"notarized by Apple"_s));
    EXPECT_TRUE(question.text.contains(u"on record"_s));
    EXPECT_TRUE(question.text.contains(u"no checksum"_s));
    consent.notarized = false;
    consent.sameTeam = false;
    consent.checksum = true;
    const Question other = Question::packageConsent(consent);
    EXPECT_TRUE(other.text.contains(u"isn't notarized"_s));
    EXPECT_FALSE(other.text.contains(u"on record"_s));
    EXPECT_TRUE(other.text.contains(u"matches the checksum"_s));
}

TEST(Prompts, FixedAnswersSayWhatTheyChose)
{
    QString written;
    QTextStream out(&written);
    const Question question = Question::quitToRemove(foo());
    FixedPrompts yes(true, out);
    EXPECT_TRUE(await(yes.ask(question)));
    FixedPrompts no(false, out);
    EXPECT_FALSE(await(no.ask(question)));
    no.tell(Alert { u"Couldn't remove Foo"_s, u"Because."_s });
    EXPECT_EQ(written,
        u"Quit Foo first?\nFoo is open. Corvanta will quit it, then move it to the Trash.\nQuit and "
        u"Continue\n"
        u"Quit Foo first?\nFoo is open. Corvanta will quit it, then move it to the Trash.\nCancel\n"
        u"Couldn't remove Foo\nBecause.\n"_s);
}

TEST(Prompts, TheTerminalConfirmsOnlyOnYes)
{
    for (const auto& [typed, expected] :
        std::vector<std::pair<QString, bool>> { { u"y\n"_s, true }, { u"  YES \n"_s, true },
            { u"n\n"_s, false }, { u"\n"_s, false }, { u""_s, false }, { u"yess\n"_s, false } }) {
        QString input = typed;
        QString written;
        QTextStream in(&input);
        QTextStream out(&written);
        TerminalPrompts prompts(in, out);
        const Question question = Question::quitToRemove(foo());
        EXPECT_EQ(await(prompts.ask(question)), expected) << typed.toStdString();
        EXPECT_TRUE(written.endsWith(u"Quit and Continue? [y/N] "_s));
    }
}

} // namespace
