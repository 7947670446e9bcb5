#pragma once

#include <QString>

struct archive;

namespace corvanta::demo {

// Writes a zip archive of the tree at `root`, every entry stored under
// `prefix` ("Example.app"), with modes, times and symbolic links as links
// (whatever they point at), the way a developer's release zip holds an app.
// Throws Error when the archive can't be written.
void zipTree(const QString& root, const QString& prefix, const QString& output);
// The same entries appended to the archive being written to `output`.
void appendTree(struct archive* archive, const QString& root, const QString& prefix, const QString& output);

} // namespace corvanta::demo
