#pragma once

#include <QString>

namespace corvanta {

class AppItem;

// The colour a card's symbol is drawn in.
enum class Tint { accent, orange, red, green, secondary };

// Where one app stands, in one symbol, a headline and a sentence: its
// install phase while one runs or just ended, otherwise its check status.
struct StatusCard {
    QString symbol;
    Tint tint = Tint::secondary;
    QString title;
    QString message;

    static StatusCard of(const AppItem& item);

    friend bool operator==(const StatusCard&, const StatusCard&) = default;
};

} // namespace corvanta
