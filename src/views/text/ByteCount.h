#pragma once

#include <cstdint>

#include <QString>

namespace corvanta {

// "512 bytes", "12.3 KB", "120 MB": decimal units as the Finder counts them,
// one decimal below 10 in the unit, in the user's number format.
QString byteCount(std::int64_t bytes);

} // namespace corvanta
