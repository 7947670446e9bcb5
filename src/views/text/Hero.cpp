#include "views/text/Hero.h"

#include "model/Store.h"

#include <QLocale>

using namespace Qt::StringLiterals;

namespace corvanta {

HeroFacts HeroFacts::of(const Store& store)
{
    HeroFacts facts;
    facts.scanning = store.scanning();
    facts.checked = store.checked();
    facts.toCheck = store.toCheck();
    const QList<AppItem*> visible = store.visible();
    facts.visible = int(visible.size());
    for (const AppItem* item : visible) {
        if (item->status().kind == Status::Kind::upToDate)
            ++facts.upToDate;
    }
    facts.updates = store.count(Filter::updates);
    facts.cantVerify = store.count(Filter::cantVerify);
    facts.ignored = store.count(Filter::ignored);
    facts.lastChecked = store.lastChecked();
    return facts;
}

namespace {
// The user's short time style; the C locale's "short" style has seconds, so
// it gets hours and minutes.
QString shortTime(const QTime& time)
{
    const QLocale locale;
    if (locale.language() == QLocale::C)
        return time.toString(u"HH:mm"_s);
    return locale.toString(time, QLocale::ShortFormat);
}
} // namespace

QString Hero::headline(const HeroFacts& facts)
{
    if (facts.scanning && facts.toCheck == 0)
        return u"Scanning your apps…"_s;
    if (facts.scanning)
        return u"Checking %1 of %2…"_s.arg(facts.checked).arg(facts.toCheck);
    if (facts.updates == 1)
        return u"1 update ready"_s;
    if (facts.updates >= 2)
        return u"%1 updates ready"_s.arg(facts.updates);
    if (facts.cantVerify >= 1)
        return u"No updates found"_s;
    return u"Everything's up to date"_s;
}

QString Hero::summary(const HeroFacts& facts)
{
    QStringList parts { u"%1 apps"_s.arg(facts.visible), u"%1 up to date"_s.arg(facts.upToDate) };
    if (facts.cantVerify >= 1)
        parts << u"%1 can't be verified"_s.arg(facts.cantVerify);
    if (facts.ignored >= 1)
        parts << u"%1 ignored"_s.arg(facts.ignored);
    if (facts.lastChecked && !facts.scanning)
        parts << u"checked "_s + shortTime(facts.lastChecked->time());
    return parts.join(u"  \u00B7  "_s);
}

} // namespace corvanta
