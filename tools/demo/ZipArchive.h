#pragma once

#include <QString>

namespace corvanta::demo {

// Writes a zip archive of the tree at `root`, every entry stored under
// `prefix` ("Example.app"), with modes, times and symbolic links as links
// (whatever they point at), the way a developer's release zip holds an app.
// Throws Error when the archive can't be written.
void zipTree(const QString& root, const QString& prefix, const QString& output);

} // namespace corvanta::demo
