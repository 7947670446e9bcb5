#include "demo/TreeDigest.h"

#include "base/Error.h"

#include <filesystem>
#include <system_error>

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>

using namespace Qt::StringLiterals;

namespace corvanta::demo {

QString treeDigest(const QString& root)
{
    // Sorted by path, so the digest doesn't depend on the order the disk lists entries in.
    QMap<QString, QByteArray> entries;
    QDirIterator walk(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QFileInfo item(walk.next());
        const QString relative = item.filePath().mid(root.size());
        if (item.isSymLink()) {
            // The target as written: a relative link keeps its digest when the tree moves.
            std::error_code error;
            const std::filesystem::path target
                = std::filesystem::read_symlink(QFile::encodeName(item.filePath()).toStdString(), error);
            if (error)
                throw Error(u"Couldn't read the link "_s + item.filePath() + u'.');
            entries.insert(relative, "link " + QByteArray::fromStdString(target.string()));
        } else if (item.isDir()) {
            entries.insert(relative, "dir");
        } else {
            QFile file(item.filePath());
            QCryptographicHash hash(QCryptographicHash::Sha256);
            if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
                throw Error(u"Couldn't read "_s + item.filePath() + u": "_s + file.errorString());
            entries.insert(relative, (item.isExecutable() ? "exec " : "file ") + hash.result().toHex());
        }
    }
    QCryptographicHash tree(QCryptographicHash::Sha256);
    for (auto entry = entries.cbegin(); entry != entries.cend(); ++entry) {
        tree.addData(entry.key().toUtf8());
        tree.addData(QByteArrayView("\0", 1));
        tree.addData(entry.value());
        tree.addData(QByteArrayView("\n", 1));
    }
    return QString::fromLatin1(tree.result().toHex());
}

} // namespace corvanta::demo
