#include "model/AccountNudge.h"

#include "model/Prefs.h"
#include "model/Store.h"

namespace corvanta {

bool AccountNudge::wanted(Store& store)
{
    const Prefs& prefs = store.prefs();
    if (!store.cloud() || store.session() || !prefs.onboarded() || prefs.nudgeDismissals() >= maxDismissals)
        return false;
    const std::optional<QDateTime>& dismissed = prefs.nudgeDismissed();
    return !dismissed || dismissed->msecsTo(store.services().clock()) > pauseSeconds * 1000;
}

bool AccountNudge::shouldShow(Store& store)
{
    return wanted(store) && store.filter() != Filter::library;
}

void AccountNudge::notNow(Store& store)
{
    Prefs& prefs = store.prefs();
    prefs.setNudgeDismissed(store.services().clock());
    prefs.setNudgeDismissals(prefs.nudgeDismissals() + 1);
}

void AccountNudge::signIn(Store& store)
{
    store.setFilter(Filter::library);
}

} // namespace corvanta
