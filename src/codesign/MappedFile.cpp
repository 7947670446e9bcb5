#include "codesign/MappedFile.h"

#include <QFile>
#include <QFileInfo>

namespace corvanta::codesign {

std::optional<MappedFile> MappedFile::open(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return std::nullopt;
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        return std::nullopt;
    MappedFile mapped;
    const qint64 size = file->size();
    if (size > 0) {
        uchar* data = file->map(0, size);
        if (!data)
            return std::nullopt;
        mapped.m_bytes = ByteView(data, std::size_t(size));
    }
    mapped.m_file = std::move(file);
    return mapped;
}

MappedFile::MappedFile(MappedFile&&) noexcept = default;
MappedFile& MappedFile::operator=(MappedFile&&) noexcept = default;
MappedFile::~MappedFile() = default;

} // namespace corvanta::codesign
