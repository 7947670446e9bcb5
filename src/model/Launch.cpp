#include "model/Launch.h"

#include "base/Error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace corvanta {

Launch Launch::fromProcess()
{
    QStringList arguments = QCoreApplication::arguments();
    if (!arguments.isEmpty())
        arguments.removeFirst();
    return Launch(std::move(arguments));
}

std::optional<QString> Launch::sandbox() const
{
    if (!has(u"--sandbox"))
        return std::nullopt;
    return sandboxFolder(value(u"--sandbox").value_or(QString()));
}

QString Launch::sandboxFolder(const QString& folder)
{
    if (folder.isEmpty())
        throw Error(u"--sandbox needs a folder."_s);
    const QString clean = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    if (clean == u"/")
        throw Error(u"--sandbox can't be the root folder: its Library, Trash and Caches go beside it."_s);
    return clean;
}

std::optional<QString> Launch::value(QStringView flag) const
{
    const qsizetype index = m_arguments.indexOf(flag);
    if (index < 0 || index + 1 >= m_arguments.size())
        return std::nullopt;
    return m_arguments[index + 1];
}

} // namespace corvanta
