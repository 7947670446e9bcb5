#pragma once

#include <map>

#include <QByteArray>
#include <QString>

namespace corvanta::test {

// One item of a folder tree as a test compares it.
struct TreeItem {
    char kind = '?'; // 'd' folder, 'f' file, 'l' symbolic link
    unsigned mode = 0; // permission bits; none for links
    qint64 size = 0;
    QByteArray content; // SHA-256 of a file, the text of a link
    friend bool operator==(const TreeItem&, const TreeItem&) = default;
};

// Every item under `root` by relative path in Unicode NFC (HFS+ stores
// decomposed names), links not followed.
std::map<QString, TreeItem> snapshotTree(const QString& root);
// A readable difference of two snapshots, empty when they are equal.
QString describeDifference(
    const std::map<QString, TreeItem>& expected, const std::map<QString, TreeItem>& actual);

// Fills `folder` with what an app's disk image holds: "Sample.app" with an
// executable, a framework with its version links, resources with a long
// accented name, a read-only folder, the usual "Applications" link to
// "/Applications" and a link that climbs out of the volume. `payloadBytes`
// adds a file of incompressible bytes of that size to the app.
void makeDiskImageTree(const QString& folder, qint64 payloadBytes = 0);

// Entries directly inside `folder`, hidden ones included.
QStringList folderEntries(const QString& folder);

} // namespace corvanta::test
