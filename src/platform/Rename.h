#pragma once

#include <memory>

#include <QString>

namespace corvanta {

// The two atomic renames the installer builds on (renamex_np on macOS,
// renameat2 on Linux). Both paths must be on one volume. Failures throw
// SystemError with the call's errno.
class Rename {
public:
    virtual ~Rename() = default;

    // Exchanges the items at `a` and `b` in one step; both must exist.
    virtual void exchange(const QString& a, const QString& b) = 0;

    // Renames `from` to `to`, failing with EEXIST when `to` exists.
    virtual void noReplace(const QString& from, const QString& to) = 0;

    static std::unique_ptr<Rename> create();
};

} // namespace corvanta
