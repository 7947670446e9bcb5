#pragma once

#include <memory>

#include <QString>

namespace corvanta {

// Where replaced and removed apps go. Failures throw SystemError.
class Trash {
public:
    virtual ~Trash() = default;

    // Moves the item at `path` to the user's Trash.
    virtual void moveToTrash(const QString& path) = 0;

    // Moves the item at `path` to `destination`, a free name inside a trash
    // folder of our own (a sandbox's); fails with EEXIST when it is taken.
    virtual void moveTo(const QString& path, const QString& destination) = 0;

    static std::unique_ptr<Trash> create();
};

} // namespace corvanta
