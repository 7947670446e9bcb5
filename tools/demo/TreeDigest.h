#pragma once

#include <QString>

namespace corvanta::demo {

// One SHA-256 over a whole folder tree, as hexadecimal: every entry's
// relative path and kind, each file's bytes and executable bit, each link's
// target as written. Equal digests mean the tree wasn't touched. Throws Error
// when an entry can't be read; a missing folder has the digest of nothing.
QString treeDigest(const QString& root);

} // namespace corvanta::demo
