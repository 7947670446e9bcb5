#include "platform/Permissions.h"

using namespace Qt::StringLiterals;

namespace corvanta {

QString rawValue(Permissions::State state)
{
    switch (state) {
    case Permissions::State::granted:
        return u"granted"_s;
    case Permissions::State::denied:
        return u"denied"_s;
    case Permissions::State::unknown:
        break;
    }
    return u"unknown"_s;
}

QString rawValue(Permissions::Notifications status)
{
    switch (status) {
    case Permissions::Notifications::notDetermined:
        break;
    case Permissions::Notifications::denied:
        return u"denied"_s;
    case Permissions::Notifications::authorized:
        return u"authorized"_s;
    case Permissions::Notifications::provisional:
        return u"provisional"_s;
    case Permissions::Notifications::ephemeral:
        return u"ephemeral"_s;
    }
    return u"notDetermined"_s;
}

} // namespace corvanta
