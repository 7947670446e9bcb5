#pragma once

#include <QByteArray>
#include <QString>

namespace corvanta::test {

// Fills `folder` with what an app's disk image holds: "Sample.app" with an
// executable, a framework with its version links, resources with a long
// accented name, a read-only folder, the usual "Applications" link to
// "/Applications" and a link that climbs out of the volume. `payloadBytes`
// adds a file of incompressible bytes of that size to the app.
void makeDiskImageTree(const QString& folder, qint64 payloadBytes = 0);

// Entries directly inside `folder`, hidden ones included.
QStringList folderEntries(const QString& folder);

} // namespace corvanta::test
