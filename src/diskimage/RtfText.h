#pragma once

#include <QByteArray>
#include <QString>

namespace corvanta::udif {

// The readable text of an RTF document: paragraphs become line breaks,
// formatting, font tables and other destinations are dropped.
QString rtfToText(const QByteArray& rtf);

} // namespace corvanta::udif
