#pragma once

#include <array>
#include <optional>

#include <QString>

namespace corvanta {

// The list filters, in the order the chips show them.
enum class Filter { all, updates, cantVerify, ignored, library };

inline constexpr std::array<Filter, 5> allFilters { Filter::all, Filter::updates, Filter::cantVerify,
    Filter::ignored, Filter::library };

QString rawValue(Filter filter);
std::optional<Filter> filterFromRaw(QStringView raw);
// "All Apps", "Updates", "Can't Verify", "Ignored", "Library".
QString title(Filter filter);
// The symbol name drawn on the chip.
QString symbol(Filter filter);

} // namespace corvanta
