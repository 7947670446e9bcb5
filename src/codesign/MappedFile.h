#pragma once

#include "codesign/ByteView.h"

#include <memory>
#include <optional>

#include <QString>

class QFile;

namespace corvanta::codesign {

// A whole file mapped read-only into memory, so page hashing reads it without
// copies. Movable, not copyable; the mapping ends with the object.
class MappedFile {
public:
    // None when the path is not a readable regular file.
    static std::optional<MappedFile> open(const QString& path);

    MappedFile(MappedFile&&) noexcept;
    MappedFile& operator=(MappedFile&&) noexcept;
    ~MappedFile();

    ByteView bytes() const noexcept { return m_bytes; }

private:
    MappedFile() = default;

    std::unique_ptr<QFile> m_file;
    ByteView m_bytes;
};

} // namespace corvanta::codesign
