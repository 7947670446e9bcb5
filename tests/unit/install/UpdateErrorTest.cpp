#include "install/UpdateError.h"

#include <cerrno>
#include <functional>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

const QString blocked
    = u"macOS blocked Corvanta from changing Foo. Turn on Corvanta in System Settings \u203a "
      u"Privacy & Security \u203a App Management, then try again."_s;
const QString administrator
    = u"Foo belongs to another user or to the system. Update or remove it as an administrator."_s;

std::exception_ptr capture(const std::function<void()>& raise)
{
    try {
        raise();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

// A failure of a higher-level step that keeps the system call's error inside.
std::function<void()> nested(int code)
{
    return [code] {
        try {
            throw SystemError(u"rename: failed"_s, code);
        } catch (...) {
            std::throw_with_nested(Error(u"Can't replace the app"_s));
        }
    };
}

std::function<void()> direct(int code)
{
    return [code] { throw SystemError(u"rename: failed"_s, code); };
}

struct Row {
    const char* name;
    std::function<void()> raise;
    std::optional<QString> mapped; // none: the error comes back unchanged
    bool needsPermission = false;
};

TEST(UpdateErrorFrom, MapsPermissionFailuresWhereverTheyAreInTheChain)
{
    const std::vector<Row> rows {
        { "EPERM itself", direct(EPERM), blocked, true },
        { "EPERM underlying", nested(EPERM), blocked, true },
        { "EACCES itself", direct(EACCES), administrator },
        { "EACCES underlying", nested(EACCES), administrator },
        { "EPERM under EACCES",
            [] {
                try {
                    throw SystemError(u"inner"_s, EPERM);
                } catch (...) {
                    std::throw_with_nested(SystemError(u"outer"_s, EACCES));
                }
            },
            blocked, true },
        { "EPERM two levels down",
            [] {
                try {
                    nested(EPERM)();
                } catch (...) {
                    std::throw_with_nested(Error(u"top"_s));
                }
            },
            blocked, true },
        { "other errno", direct(EXDEV), std::nullopt },
        { "other errno underlying", nested(ENOSPC), std::nullopt },
        { "not a system error", [] { throw Error(u"plain"_s); }, std::nullopt },
        { "not ours at all", [] { throw std::runtime_error("x"); }, std::nullopt },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::exception_ptr original = capture(row.raise);
        const std::exception_ptr result = UpdateError::from(original, u"Foo"_s);
        if (!row.mapped) {
            EXPECT_EQ(result, original);
            continue;
        }
        try {
            std::rethrow_exception(result);
        } catch (const UpdateError& error) {
            EXPECT_EQ(error.description(), *row.mapped);
            EXPECT_EQ(error.needsPermission(), row.needsPermission);
            EXPECT_FALSE(error.final());
        } catch (...) {
            ADD_FAILURE() << "not mapped to an UpdateError";
        }
    }
}

TEST(UpdateErrorFrom, LeavesAnUpdateErrorAsItIs)
{
    const auto original = std::make_exception_ptr(UpdateError(u"You cancelled."_s, false, true));
    EXPECT_EQ(UpdateError::from(original, u"Foo"_s), original);
}

} // namespace
} // namespace corvanta
