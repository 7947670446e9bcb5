#include "install/UpdateError.h"

#include <cerrno>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// Whether `code` is the errno of `error` or of any error nested inside it.
bool carries(const std::exception_ptr& error, int code)
{
    std::exception_ptr current = error;
    while (current) {
        std::exception_ptr next;
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& e) {
            if (const auto* system = dynamic_cast<const SystemError*>(&e); system && system->code() == code)
                return true;
            if (const auto* nested = dynamic_cast<const std::nested_exception*>(&e))
                next = nested->nested_ptr();
        } catch (...) {
        }
        current = next;
    }
    return false;
}

} // namespace

std::exception_ptr UpdateError::from(std::exception_ptr error, const QString& name)
{
    if (carries(error, EPERM)) {
        return std::make_exception_ptr(UpdateError(
            u"macOS blocked Corvanta from changing %1. Turn on Corvanta in System Settings \u203a Privacy & "
            u"Security \u203a App Management, then try again."_s.arg(name),
            true));
    }
    if (carries(error, EACCES)) {
        return std::make_exception_ptr(UpdateError(
            u"%1 belongs to another user or to the system. Update or remove it as an administrator."_s.arg(
                name)));
    }
    return error;
}

} // namespace corvanta
