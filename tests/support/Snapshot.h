#pragma once

#include "demo/TreeDigest.h"

namespace corvanta::test {

// A folder tree as a test compares it: see demo::treeSnapshot.
using Snapshot = demo::TreeSnapshot;
inline Snapshot snapshot(const QString& root)
{
    return demo::treeSnapshot(root);
}
// The snapshot of a bundle as it shows in its folder's: the root under
// `prefix`, everything else under `prefix` + "/".
Snapshot under(const QString& prefix, const Snapshot& inner);
// A readable list of the differences, empty when equal; the roots themselves
// (the empty paths) are not compared.
QString difference(const Snapshot& expected, const Snapshot& actual);

} // namespace corvanta::test
