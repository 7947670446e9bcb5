#include "demo/TreeDigest.h"

#include "base/Error.h"

#include <climits>

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta::demo {

namespace {

QString describe(const QString& path)
{
    struct stat info { };
    const QByteArray encoded = QFile::encodeName(path);
    if (::lstat(encoded.constData(), &info) != 0)
        return u"missing"_s;
    if (S_ISLNK(info.st_mode)) {
        // The target as written: a relative link keeps its digest when the tree moves.
        QByteArray target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(encoded.constData(), target.data(), size_t(target.size()));
        if (length < 0)
            throw SystemError::fromErrno(u"Couldn't read the link "_s + path);
        return u"link -> "_s + QFile::decodeName(target.left(length));
    }
    const QString mode = u"%1"_s.arg(int(info.st_mode & 07777), 4, 8, QChar(u'0'));
    if (S_ISDIR(info.st_mode))
        return u"dir "_s + mode;
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        throw Error(u"Couldn't read "_s + path + u": "_s + file.errorString());
    return u"file "_s + mode + u' ' + QString::fromLatin1(hash.result().toHex());
}

} // namespace

TreeSnapshot treeSnapshot(const QString& root)
{
    TreeSnapshot entries { { QString(), describe(root) } };
    QDirIterator walk(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QString path = walk.next();
        entries.insert(path.mid(root.size() + 1).normalized(QString::NormalizationForm_C), describe(path));
    }
    return entries;
}

QString treeDigest(const QString& root)
{
    // Sorted by path, so the digest doesn't depend on the order the disk lists entries in.
    const TreeSnapshot entries = treeSnapshot(root);
    QCryptographicHash tree(QCryptographicHash::Sha256);
    for (auto entry = std::next(entries.cbegin()); entry != entries.cend(); ++entry) {
        tree.addData(entry.key().toUtf8());
        tree.addData(QByteArrayView("\0", 1));
        tree.addData(entry.value().toUtf8());
        tree.addData(QByteArrayView("\n", 1));
    }
    return QString::fromLatin1(tree.result().toHex());
}

} // namespace corvanta::demo
