#include "demo/Files.h"

#include "base/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta::demo {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(u"Couldn't read "_s + path + u": "_s + file.errorString());
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes, bool executable)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        throw Error(u"Couldn't create the folder of "_s + path + u'.');
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw Error(u"Couldn't write "_s + path + u": "_s + file.errorString());
    if (executable
        && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
            | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
            | QFileDevice::ExeOther))
        throw Error(u"Couldn't make "_s + path + u" executable."_s);
}

void makeLink(const QString& target, const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    // symlink(2) directly: the target must stay exactly as written.
    if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()) != 0)
        throw SystemError::fromErrno(u"Couldn't make the link "_s + path);
}

} // namespace corvanta::demo
