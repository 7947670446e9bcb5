#include "install/Updater.h"
#include "support/Await.h"

#include <cerrno>

#include <QThread>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

TEST(Run, ReturnsStandardOutputAndErrorTogether)
{
    EXPECT_EQ(Updater::run(u"/bin/sh"_s, { u"-c"_s, u"echo out; echo err >&2"_s }), "out\nerr\n");
    EXPECT_EQ(Updater::run(u"/bin/cat"_s, {}, QByteArray("Y\n")), "Y\n");
    // Without input the tool reads the null device, so it never waits on us.
    EXPECT_EQ(Updater::run(u"/bin/cat"_s, {}), "");
}

TEST(Run, RaisesTheToolsNameAndOutputOnFailure)
{
    try {
        Updater::run(u"/bin/sh"_s,
            { u"-c"_s, u"echo 'hdiutil: attach failed - no mountable file systems' >&2; exit 1"_s });
        FAIL() << "no error";
    } catch (const UpdateError& error) {
        EXPECT_EQ(error.description(), u"sh failed: hdiutil: attach failed - no mountable file systems\n"_s);
        EXPECT_FALSE(error.needsPermission());
    }
    try {
        Updater::run(u"/usr/bin/ditto"_s, { u"-x"_s });
        FAIL() << "a missing tool ran";
    } catch (const SystemError& error) {
        EXPECT_EQ(error.code(), ENOENT);
    }
    EXPECT_THROW(Updater::run(u"/bin/sh"_s, { u"-c"_s, u"kill -9 $$"_s }), UpdateError);
}

TEST(Output, ReportsTheStatusInsteadOfRaising)
{
    const ToolOutput failed = Updater::output(u"/bin/sh"_s, { u"-c"_s, u"printf 'no\\n'; exit 3"_s });
    EXPECT_EQ(failed.status, 3);
    EXPECT_EQ(failed.text, u"no\n"_s);
    const ToolOutput missing = Updater::output(u"/usr/bin/hdiutil"_s, { u"imageinfo"_s });
    EXPECT_EQ(missing.status, -1);
    EXPECT_EQ(missing.text, QString());
}

QCoro::Task<int> addOffTheMainThread(int a, int b)
{
    co_return co_await Updater::blocking([a, b] {
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            throw std::logic_error("ran on the main thread");
        return a + b;
    });
}

TEST(Blocking, RunsOffTheMainThreadAndRethrowsTheOriginalError)
{
    EXPECT_EQ(test::await(addOffTheMainThread(2, 3)), 5);

    auto failing = []() -> QCoro::Task<void> {
        co_await Updater::blocking([] { throw UpdateError(u"The download is empty."_s); });
    };
    try {
        test::await(failing());
        FAIL() << "no error";
    } catch (const UpdateError& error) {
        EXPECT_EQ(error.description(), u"The download is empty."_s);
    }

    auto failingWithValue = []() -> QCoro::Task<QString> {
        co_return co_await Updater::blocking([]() -> QString { throw SystemError(u"gone"_s, ENOENT); });
    };
    try {
        test::await(failingWithValue());
        FAIL() << "no error";
    } catch (const SystemError& error) {
        EXPECT_EQ(error.code(), ENOENT);
    }
}

} // namespace
} // namespace corvanta
