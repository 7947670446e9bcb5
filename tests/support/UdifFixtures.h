#pragma once

#include "diskimage/UdifImage.h"

#include <functional>

#include <QByteArray>
#include <QString>

namespace corvanta::test {

// A real image of ../shared/realworld/dmg by file name.
QString realDiskImage(const QString& name);

QByteArray readWholeFile(const QString& path);
void writeWholeFile(const QString& path, const QByteArray& bytes);

// The whole disk inside the image, every partition at its sector.
QByteArray decompressDisk(udif::UdifImage& image);

// Recomputes the data fork CRC32 in the trailer of an image held in memory,
// so a change to the data reaches the decoders instead of the checksum test.
void resealDataFork(QByteArray& image);

// The image at `path` with its resources and trailer changed by `change`,
// the property list written anew after the unchanged data fork.
QByteArray rebuiltImage(
    const QString& path, const std::function<void(std::vector<udif::Resource>&, udif::Trailer&)>& change);

// Offset and length in the file of the first chunk of `type` (none: -1, 0).
std::pair<qint64, qint64> firstChunkOf(const QString& path, udif::ChunkType type);

} // namespace corvanta::test
