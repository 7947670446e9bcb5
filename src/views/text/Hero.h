#pragma once

#include <optional>

#include <QDateTime>
#include <QString>

namespace corvanta {

class Store;

// What the hero area reads of the model.
struct HeroFacts {
    bool scanning = false;
    int checked = 0;
    int toCheck = 0;
    int visible = 0;
    int upToDate = 0;
    int updates = 0;
    int cantVerify = 0;
    int ignored = 0;
    std::optional<QDateTime> lastChecked;

    static HeroFacts of(const Store& store);
};

// The hero area's two lines: where the whole Mac stands.
namespace Hero {
QString headline(const HeroFacts& facts);
// Parts joined with "  ·  "; the time of the last check in the short time format.
QString summary(const HeroFacts& facts);

inline QString headline(const Store& store);
inline QString summary(const Store& store);
} // namespace Hero

inline QString Hero::headline(const Store& store)
{
    return headline(HeroFacts::of(store));
}
inline QString Hero::summary(const Store& store)
{
    return summary(HeroFacts::of(store));
}

} // namespace corvanta
