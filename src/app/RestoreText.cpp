#include "app/RestoreText.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QString candidateText(const Release& release)
{
    return label(release.kind) + u' ' + release.label()
        + (release.download ? u" <"_s + release.download->url.toString() + u'>' : QString());
}

} // namespace

QString phaseName(const InstallPhase& phase)
{
    switch (phase.kind) {
    case InstallPhase::Kind::idle:
        return u"idle"_s;
    case InstallPhase::Kind::queued:
        return u"queued"_s;
    case InstallPhase::Kind::downloading:
        return u"downloading"_s;
    case InstallPhase::Kind::verifying:
        return u"verifying"_s;
    case InstallPhase::Kind::installing:
        return u"installing"_s;
    case InstallPhase::Kind::done:
        return u"done"_s;
    case InstallPhase::Kind::failed:
        return u"failed"_s;
    case InstallPhase::Kind::blocked:
        return u"blocked"_s;
    }
    return {};
}

QString routeText(const Route& route)
{
    if (const Route::Install* install = route.install()) {
        QStringList lines;
        for (const Release& release : install->candidates)
            lines << candidateText(release);
        return u"install from "_s + lines.join(u", then "_s);
    }
    if (const Route::Store* store = route.store())
        return u"App Store <"_s + store->link.toString() + u'>';
    const Route::Manual* manual = route.manual();
    return u"get it yourself <"_s + manual->page.toString() + u">: "_s + manual->reason;
}

} // namespace corvanta
