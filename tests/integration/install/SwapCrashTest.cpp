#include "install/Updater.h"
#include "support/InstallFixtures.h"

#include <chrono>
#include <csignal>
#include <iostream>
#include <thread>

#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

using test::Snapshot;

// Swaps in a child process and kills it after `delay` (never, when none).
// Returns whether the child finished on its own.
bool swapInChild(test::TestServices& services, const test::InstallSandbox& sandbox, const QString& newApp,
    const QString& installed, std::optional<std::chrono::microseconds> delay)
{
    const Updater updater(services.services(), sandbox.applications(), sandbox.trash());
    const pid_t child = ::fork();
    if (child == 0) {
        // Only this thread lives on in the child; the swap makes plain system calls.
        try {
            updater.swap(newApp, installed);
            ::_exit(0);
        } catch (...) {
            ::_exit(1);
        }
    }
    EXPECT_GT(child, 0);
    if (delay) {
        std::this_thread::sleep_for(*delay);
        ::kill(child, SIGKILL);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The apps of one round: the installed version 1 and version 2 beside it,
// both large enough that the copy takes a while.
struct Round {
    test::InstallSandbox sandbox;
    QString installed = test::makeApp(
        sandbox.applications(), { .payload = "version 1", .extraFiles = 24, .extraSize = 96 * 1024 });
    QString fresh = test::makeApp(sandbox.inputs(),
        { .version = u"2.0"_s,
            .build = u"2"_s,
            .payload = "version 2",
            .extraFiles = 24,
            .extraSize = 96 * 1024 });
    Snapshot oldTree = test::snapshot(installed);
    Snapshot newTree = test::snapshot(fresh);

    // Where copies of version 1 are now: staging folders and the trash folder.
    int oldCopiesElsewhere() const
    {
        int found = 0;
        const QStringList staging
            = QDir(sandbox.applications()).entryList({ u".corvanta-*"_s }, QDir::Dirs | QDir::Hidden);
        for (const QString& folder : staging) {
            if (test::difference(
                    oldTree, test::snapshot(sandbox.applications() + u'/' + folder + u"/Foo.app"_s))
                    .isEmpty())
                ++found;
        }
        if (test::difference(oldTree, test::snapshot(sandbox.trash() + u"/Foo.app"_s)).isEmpty())
            ++found;
        return found;
    }
};

TEST(SwapCrash, TheAppsNameAlwaysHoldsACompleteApp)
{
    test::TestServices services;

    // How long an undisturbed swap takes here, to spread the kills over it.
    std::chrono::microseconds whole {};
    {
        Round round;
        QElapsedTimer timer;
        timer.start();
        ASSERT_TRUE(swapInChild(services, round.sandbox, round.fresh, round.installed, std::nullopt));
        whole = std::chrono::microseconds(timer.nsecsElapsed() / 1000);
        EXPECT_EQ(test::difference(round.newTree, test::snapshot(round.installed)), QString());
        EXPECT_EQ(round.oldCopiesElsewhere(), 1);
    }

    constexpr int rounds = 40;
    int oldKept = 0;
    int newInPlace = 0;
    int interrupted = 0; // killed with a staging folder left behind
    QRandomGenerator random(20240601);
    for (int i = 0; i < rounds; ++i) {
        Round round;
        const auto delay = std::chrono::microseconds(random.bounded(qint64(whole.count() * 12 / 10) + 1));
        const bool finished = swapInChild(services, round.sandbox, round.fresh, round.installed, delay);

        const Snapshot now = test::snapshot(round.installed);
        const bool isOld = test::difference(round.oldTree, now).isEmpty();
        const bool isNew = test::difference(round.newTree, now).isEmpty();
        ASSERT_TRUE(isOld || isNew) << "round " << i << " after " << delay.count() << " us:\n"
                                    << test::difference(round.oldTree, now).toStdString();
        // Version 1 is never lost: in place, or kept in staging or the trash folder.
        if (isNew) {
            EXPECT_GE(round.oldCopiesElsewhere(), 1) << "round " << i;
        }
        // Nothing but staging folders may appear beside the app.
        const QStringList names = QDir(round.sandbox.applications())
                                      .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        for (const QString& name : names)
            EXPECT_TRUE(name == u"Foo.app"_s || name.startsWith(u".corvanta-"_s)) << name.toStdString();
        oldKept += isOld;
        newInPlace += isNew;
        interrupted += !finished && names.size() > 1;
    }
    std::cout << "swap of " << whole.count() << " us killed " << rounds << " times: old app " << oldKept
              << ", new app " << newInPlace << ", interrupted with staging left " << interrupted << "\n";
    // The kills landed inside the swap, not only before or after it.
    EXPECT_GT(interrupted, 0);
}

} // namespace
} // namespace corvanta
