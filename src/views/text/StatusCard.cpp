#include "views/text/StatusCard.h"

#include "model/AppItem.h"

#include <cmath>
#include <optional>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QString installedLabel(const InstalledApp& app)
{
    return app.version.value_or(app.build.value_or(u"unknown"_s));
}

struct Progress {
    QString title;
    QString message;
};

std::optional<Progress> progress(const AppItem& item)
{
    const QString release = item.release() ? item.release()->label() : u"the update"_s;
    switch (item.phase().kind) {
    case InstallPhase::Kind::downloading:
        return Progress { u"Downloading "_s + release,
            QString::number(std::lround(item.phase().fraction * 100)) + u"% downloaded."_s };
    case InstallPhase::Kind::queued:
        return Progress { u"Queued"_s, u"Waiting for the updates ahead of it."_s };
    case InstallPhase::Kind::verifying:
        return Progress { u"Verifying "_s + release,
            u"Checking size, checksum, signatures and Team ID before anything changes."_s };
    case InstallPhase::Kind::installing:
        return Progress { u"Installing "_s + release,
            u"Swapping in the new version; the old one goes to the Trash."_s };
    default:
        return std::nullopt;
    }
}

StatusCard statusCard(const AppItem& item)
{
    const Status& status = item.status();
    const QString installed = installedLabel(item.app());
    const QString release = item.release() ? item.release()->label() : u"?"_s;
    switch (status.kind) {
    case Status::Kind::cantVerify:
        return { u"exclamationmark.triangle.fill"_s, Tint::orange, u"Can't verify"_s,
            u"Corvanta couldn't confirm whether this app is current. "_s + status.text + u'.' };
    case Status::Kind::ignored:
        return { u"eye.slash.fill"_s, Tint::secondary, u"Ignored"_s, status.text + u'.' };
    case Status::Kind::checking:
        return { u"clock"_s, Tint::secondary, u"Checking"_s, u"Looking for the newest version…"_s };
    case Status::Kind::update:
        return { u"arrow.down.circle.fill"_s, Tint::accent, u"Update available"_s,
            installed + u" → "_s + release + u" from "_s
                + (item.release() ? label(item.release()->kind) : u"the source"_s) + u'.' };
    case Status::Kind::upToDate:
        return { u"checkmark.seal.fill"_s, Tint::green, u"Up to date"_s,
            installed + u" is current. The newest version "_s
                + (item.release() ? label(item.release()->kind) : u"the source"_s) + u" lists is "_s + release
                + u'.' };
    }
    Q_UNREACHABLE();
}

} // namespace

StatusCard StatusCard::of(const AppItem& item)
{
    if (const std::optional<Progress> running = progress(item))
        return { u"arrow.down.circle.dotted"_s, Tint::accent, running->title, running->message };
    const QString unchanged = u" The installed app wasn't changed."_s;
    switch (item.phase().kind) {
    case InstallPhase::Kind::blocked:
        return { u"lock.shield.fill"_s, Tint::orange, u"Permission needed"_s,
            u"macOS needs your OK before Corvanta can change "_s + item.app().name
                + u": turn on Corvanta under Privacy & Security › App Management. The update retries by itself once it's on."_s
                + unchanged };
    case InstallPhase::Kind::failed:
        return { u"xmark.octagon.fill"_s, Tint::red, u"Update failed"_s, item.phase().reason + unchanged };
    case InstallPhase::Kind::done: {
        StatusCard card = statusCard(item);
        return { u"checkmark.circle.fill"_s, Tint::green, u"Updated to "_s + installedLabel(item.app()),
            card.message };
    }
    default:
        return statusCard(item);
    }
}

} // namespace corvanta
