#pragma once

#include <QByteArray>
#include <QString>

namespace corvanta::udif {

// The classic Mac OS text encoding of resource strings and agreement texts.
QString fromMacRoman(const QByteArray& bytes);
// Characters without a Mac Roman form become '?'.
QByteArray toMacRoman(const QString& text);

} // namespace corvanta::udif
