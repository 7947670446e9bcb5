#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include <QByteArray>

namespace corvanta::codesign {

// A read-only window on bytes that came from outside. Every read is checked
// against the window, so a hostile offset or length yields none instead of a
// read past the end; 64-bit arithmetic keeps offset + length from wrapping.
class ByteView {
public:
    ByteView() = default;
    ByteView(const std::uint8_t* data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    explicit ByteView(const QByteArray& bytes)
        : m_data(reinterpret_cast<const std::uint8_t*>(bytes.constData()))
        , m_size(std::size_t(bytes.size()))
    {
    }

    const std::uint8_t* data() const noexcept { return m_data; }
    std::size_t size() const noexcept { return m_size; }
    bool empty() const noexcept { return m_size == 0; }

    bool contains(std::uint64_t offset, std::uint64_t length) const noexcept
    {
        return offset <= m_size && length <= m_size - offset;
    }

    std::optional<ByteView> sub(std::uint64_t offset, std::uint64_t length) const noexcept
    {
        if (!contains(offset, length))
            return std::nullopt;
        return ByteView(m_data + offset, std::size_t(length));
    }

    // Everything from `offset` to the end; none past the end.
    std::optional<ByteView> from(std::uint64_t offset) const noexcept
    {
        if (offset > m_size)
            return std::nullopt;
        return ByteView(m_data + offset, m_size - std::size_t(offset));
    }

    std::optional<std::uint8_t> u8(std::uint64_t offset) const noexcept
    {
        if (!contains(offset, 1))
            return std::nullopt;
        return m_data[offset];
    }

    std::optional<std::uint32_t> be32(std::uint64_t offset) const noexcept
    {
        if (!contains(offset, 4))
            return std::nullopt;
        const std::uint8_t* p = m_data + offset;
        return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
    }

    std::optional<std::uint64_t> be64(std::uint64_t offset) const noexcept
    {
        const auto high = be32(offset);
        const auto low = be32(offset + 4);
        if (!high || !low)
            return std::nullopt;
        return std::uint64_t(*high) << 32 | *low;
    }

    std::optional<std::uint32_t> le32(std::uint64_t offset) const noexcept
    {
        if (!contains(offset, 4))
            return std::nullopt;
        const std::uint8_t* p = m_data + offset;
        return std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
    }

    std::optional<std::uint64_t> le64(std::uint64_t offset) const noexcept
    {
        const auto low = le32(offset);
        const auto high = le32(offset + 4);
        if (!high || !low)
            return std::nullopt;
        return std::uint64_t(*high) << 32 | *low;
    }

    // The NUL-terminated text starting at `offset`; none when it runs off the end.
    std::optional<std::string_view> cString(std::uint64_t offset) const noexcept
    {
        if (offset >= m_size)
            return std::nullopt;
        const char* start = reinterpret_cast<const char*>(m_data + offset);
        const std::size_t room = m_size - std::size_t(offset);
        for (std::size_t i = 0; i < room; ++i) {
            if (start[i] == '\0')
                return std::string_view(start, i);
        }
        return std::nullopt;
    }

    QByteArray toByteArray() const
    {
        return QByteArray(reinterpret_cast<const char*>(m_data), qsizetype(m_size));
    }

private:
    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
};

} // namespace corvanta::codesign
