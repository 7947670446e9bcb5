#pragma once

#include "codesign/ByteView.h"

#include <optional>

#include <QString>

namespace corvanta::codesign {

// A whole file mapped read-only into memory, so page hashing reads it without
// copies. Movable, not copyable; the mapping ends with the object.
class MappedFile {
public:
    // None when the path is not a readable regular file.
    static std::optional<MappedFile> open(const QString& path);

    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    ~MappedFile();

    ByteView bytes() const noexcept { return m_bytes; }

private:
    MappedFile() = default;

    ByteView m_bytes;
};

} // namespace corvanta::codesign
