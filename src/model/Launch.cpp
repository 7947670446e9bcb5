#include "model/Launch.h"

#include <QCoreApplication>

namespace corvanta {

Launch Launch::fromProcess()
{
    QStringList arguments = QCoreApplication::arguments();
    if (!arguments.isEmpty())
        arguments.removeFirst();
    return Launch(std::move(arguments));
}

std::optional<QString> Launch::value(QStringView flag) const
{
    const qsizetype index = m_arguments.indexOf(flag);
    if (index < 0 || index + 1 >= m_arguments.size())
        return std::nullopt;
    return m_arguments[index + 1];
}

} // namespace corvanta
