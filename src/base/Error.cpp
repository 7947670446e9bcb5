#include "base/Error.h"

#include <cerrno>
#include <cstring>

namespace corvanta {

SystemError SystemError::fromErrno(const QString& what)
{
    const int code = errno;
    return SystemError(what + u": " + QString::fromLocal8Bit(std::strerror(code)), code);
}

} // namespace corvanta
