#pragma once

namespace corvanta {

// The one list animation: a spring, or a short ease when motion is reduced.
struct Animation {
    enum class Kind { spring, easeInOut };
    Kind kind = Kind::spring;
    double response = 0.45; // spring: seconds
    double dampingFraction = 0.82; // spring
    double duration = 0.2; // ease: seconds

    friend bool operator==(const Animation&, const Animation&) = default;
};

namespace Motion {
inline Animation spring(bool reduceMotion)
{
    return reduceMotion ? Animation { Animation::Kind::easeInOut } : Animation {};
}
} // namespace Motion

} // namespace corvanta
