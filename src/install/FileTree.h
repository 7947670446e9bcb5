#pragma once

#include <optional>

#include <QString>

namespace corvanta::files {

// Whether anything (also a dangling symbolic link) is at `path`.
bool exists(const QString& path);

// The path with every symbolic link resolved; none when it can't be.
std::optional<QString> realPath(const QString& path);

// Removes the file, link or whole tree at `path`, read-only folders
// included. Returns false when something stayed; callers that must not
// fail on cleanup ignore it.
bool removeTree(const QString& path) noexcept;

} // namespace corvanta::files
