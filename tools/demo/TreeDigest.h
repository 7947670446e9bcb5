#pragma once

#include <QMap>
#include <QString>

namespace corvanta::demo {

// Every entry under `root` by relative path in Unicode NFC (HFS+ stores
// names decomposed), links not followed, with its kind, mode and content:
// "dir 0755", "file 0644 <SHA-256>", "link -> <target as written>". The root
// itself is the empty path, "missing" when there is nothing there. Throws
// Error when an entry can't be read.
using TreeSnapshot = QMap<QString, QString>;
TreeSnapshot treeSnapshot(const QString& root);

// One SHA-256 over treeSnapshot(), as hexadecimal. Equal digests mean the
// tree wasn't touched; a missing folder has the digest of nothing.
QString treeDigest(const QString& root);

} // namespace corvanta::demo
