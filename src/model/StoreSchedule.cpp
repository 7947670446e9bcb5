#include "model/Prefs.h"
#include "model/Store.h"
#include "notch/Clock.h"
#include "notch/NotchHost.h"
#include "notch/NotchScheduler.h"
#include "notch/UpdateIsland.h"
#include "platform/Desktop.h"
#include "platform/Notifier.h"

#include <cmath>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace corvanta {

namespace {

bool hasPendingUpdate(const AppItem& item)
{
    return item.status().kind == Status::Kind::update && item.release();
}

QString pendingKey(const AppItem& item)
{
    return item.app().bundleID + u'@' + item.release()->label();
}

// The number after `flag` in seconds, when present, numeric and not negative.
std::optional<std::chrono::milliseconds> secondsAfter(const Launch& launch, QStringView flag)
{
    const std::optional<QString> value = launch.value(flag);
    if (!value)
        return std::nullopt;
    bool numeric = false;
    const double count = value->toDouble(&numeric);
    if (!numeric || !std::isfinite(count) || count < 0)
        return std::nullopt;
    return std::chrono::milliseconds(std::llround(count * 1000));
}

bool granted(Permissions::Notifications answer)
{
    return answer == Permissions::Notifications::authorized
        || answer == Permissions::Notifications::provisional
        || answer == Permissions::Notifications::ephemeral;
}

// The notch alerts' view of the model and the settings.
class StoreNotchHost : public NotchHost {
public:
    // `keep` holds on to a post until it is done.
    StoreNotchHost(Store& store, std::function<void(QCoro::Task<>)> keep)
        : m_store(store)
        , m_keep(std::move(keep))
    {
    }

    QStringList updateIds() const override
    {
        QStringList ids;
        for (const AppItem* item : m_store.visible()) {
            if (item->status().kind == Status::Kind::update)
                ids << item->id();
        }
        return ids;
    }

    std::optional<IslandRow> row(const QString& id) const override
    {
        const AppItem* item = m_store.item(id);
        if (!item)
            return std::nullopt;
        const InstalledApp& app = item->app();
        IslandRow row { item->id(), {}, app.name, app.version.value_or(app.build.value_or(QString())), {}, {},
            item->phase() };
        if (item->release()) {
            row.key = pendingKey(*item);
            row.newVersion = item->release()->label();
            row.source = label(item->release()->kind);
        }
        return row;
    }

    QStringList pendingKeys() const override
    {
        QStringList keys;
        for (const AppItem* item : m_store.visible()) {
            if (hasPendingUpdate(*item))
                keys << pendingKey(*item);
        }
        return keys;
    }

    NotchMemory memory() const override { return m_store.prefs().notchMemory(); }
    void setMemory(const NotchMemory& memory) override { m_store.prefs().setNotchMemory(memory); }
    NotchMode mode() const override { return m_store.prefs().notchMode(); }
    void setMode(NotchMode mode) override { m_store.prefs().setNotchMode(mode); }

    std::optional<QuietHours> quietHours() const override
    {
        const Prefs& prefs = m_store.prefs();
        if (!prefs.quietHours())
            return std::nullopt;
        return QuietHours { prefs.quietFrom(), prefs.quietTo() };
    }

    bool touring() const override { return m_store.tourStep().has_value(); }
    bool updatingAll() const override { return m_store.updatingAll(); }

    void updateAll(const QStringList& ids) override
    {
        QList<AppItem*> chosen;
        for (const QString& id : ids) {
            AppItem* item = m_store.item(id);
            if (item && item->status().kind == Status::Kind::update
                && item->app().canInstall(item->release()))
                chosen << item;
        }
        if (chosen.isEmpty())
            return;
        const std::optional<QList<AppItem*>> only = chosen;
        m_store.updateAll(only); // runs by itself; the panel follows the phases
    }

    void skipVersions(const QStringList& ids) override
    {
        for (const QString& id : ids) {
            if (AppItem* item = m_store.item(id))
                m_store.ignoreVersion(item);
        }
    }

    void postNotification() override
    {
        QCoro::Task<> posting = m_store.postNotification();
        m_keep(std::move(posting));
    }

private:
    Store& m_store;
    std::function<void(QCoro::Task<>)> m_keep;
};

} // namespace

// Everything the schedule and the alerts keep; nested, so it may reach the store's internals.
struct Store::Schedule {
    Clock* clock = nullptr;
    std::unique_ptr<Desktop> ownDesktop;
    Desktop* desktop = nullptr;
    // Shared with posts under way, which may outlive the store.
    std::shared_ptr<Notifier> notifier;
    bool sandboxed = false;

    // Declared in the order they depend on each other; destroyed in reverse.
    std::unique_ptr<StoreNotchHost> host;
    std::unique_ptr<NotchScheduler> scheduler;
    std::unique_ptr<UpdateIsland> island;

    bool started = false; // startSchedule() was called: interval changes restart it
    bool running = false;
    int generation = 0; // a restart makes every older loop stop
    std::unique_ptr<Timer> sleep;

    std::optional<Announcement> last;
    std::vector<QCoro::Task<>> posting;
    std::optional<int> tourStep;

    void keep(QCoro::Task<> post)
    {
        std::erase_if(posting, [](const QCoro::Task<>& task) { return task.isReady(); });
        posting.push_back(std::move(post));
    }

    // Sleeps `hours`, then runs a background refresh and sleeps again, for as
    // long as `generation` is the current one.
    static void sleepThenRefresh(QPointer<Store> store, int generation, int hours);
    static QCoro::Task<> refreshThenSleep(QPointer<Store> store, int generation, int hours);
};

void Store::initSchedule(const Launch& launch)
{
    m_schedule = std::make_shared<Schedule>();
    Schedule& schedule = *m_schedule;
    schedule.clock = m_services.time ? m_services.time : &Clock::system();
    if (m_services.desktop) {
        schedule.desktop = m_services.desktop;
    } else {
        schedule.ownDesktop = Desktop::create();
        schedule.desktop = schedule.ownDesktop.get();
    }
    // A notifier passed in belongs to the caller: share it without owning it.
    schedule.notifier = m_services.notifier
        ? std::shared_ptr<Notifier>(std::shared_ptr<Notifier>(), m_services.notifier)
        : std::shared_ptr<Notifier>(Notifier::create());
    schedule.sandboxed = launch.has(u"--sandbox");

    schedule.host = std::make_unique<StoreNotchHost>(
        *this, [this](QCoro::Task<> posting) { m_schedule->keep(std::move(posting)); });
    schedule.scheduler = std::make_unique<NotchScheduler>(*schedule.host, *schedule.desktop, *schedule.clock);
    schedule.scheduler->setShowDelay(secondsAfter(launch, u"--notch-delay"));
    UpdateIsland::Options options;
    options.idle = secondsAfter(launch, u"--notch-idle");
    options.noNotch = launch.has(u"--no-notch");
    schedule.island = std::make_unique<UpdateIsland>(
        *schedule.host, *schedule.scheduler, *schedule.desktop, *schedule.clock, options);

    // The panel follows the items it shows: the list, and each item's phase.
    UpdateIsland* island = schedule.island.get();
    connect(this, &Store::itemsChanged, island, [this, island] {
        for (AppItem* item : std::as_const(m_items))
            connect(item, &AppItem::changed, island, &UpdateIsland::itemsChanged, Qt::UniqueConnection);
        island->itemsChanged();
    });
    connect(&prefs(), &Prefs::intervalHoursChanged, this, [this] {
        if (m_schedule->started)
            startSchedule();
    });
}

void Store::startSchedule()
{
    Schedule& schedule = *m_schedule;
    schedule.started = true;
    schedule.sleep.reset();
    ++schedule.generation;
    const int hours = prefs().intervalHours();
    schedule.running = hours >= 1;
    if (schedule.running)
        Schedule::sleepThenRefresh(this, schedule.generation, hours);
}

void Store::Schedule::sleepThenRefresh(QPointer<Store> store, int generation, int hours)
{
    Schedule& schedule = *store->m_schedule;
    schedule.sleep = schedule.clock->after(std::chrono::hours(hours), [store, generation, hours] {
        if (!store || store->m_schedule->generation != generation)
            return;
        QCoro::Task<> running = refreshThenSleep(store, generation, hours);
        Q_UNUSED(running); // runs by itself
    });
}

QCoro::Task<> Store::Schedule::refreshThenSleep(QPointer<Store> store, int generation, int hours)
{
    // A refresh already under way drops this one; the next sleep starts when it returns.
    QCoro::Task<> refreshing = store->refresh(true, false);
    co_await std::move(refreshing);
    if (store && store->m_schedule->generation == generation)
        sleepThenRefresh(store, generation, hours);
}

bool Store::scheduleRunning() const
{
    return m_schedule->running;
}

void Store::announce(bool background, bool everything)
{
    QStringList keys;
    QStringList names;
    for (const AppItem* item : visible()) {
        if (hasPendingUpdate(*item)) {
            keys << pendingKey(*item);
            names << item->app().name;
        }
    }

    Announcement announcement;
    announcement.background = background;
    const QStringList notified = prefs().notified();
    for (qsizetype at = 0; at < keys.size(); ++at) {
        if (everything || !notified.contains(keys[at])) {
            announcement.keys << keys[at];
            announcement.names << names[at];
        }
    }
    // Replaced, not added to: an update installed or withdrawn is forgotten,
    // so one that comes back is announced again.
    if (notified != keys)
        prefs().setNotified(keys);

    // Findings of a check the user started are remembered but never announced.
    if (background && !announcement.keys.isEmpty()) {
        if (prefs().notchMode() != NotchMode::never) {
            announcement.channel = Announcement::Channel::notch;
            announcement.trigger = everything ? NotchTrigger::login : NotchTrigger::check;
            announcement.decision = m_schedule->scheduler->request(*announcement.trigger);
        } else {
            announcement.channel = Announcement::Channel::notification;
            QCoro::Task<> posting = postNotification(announcement.names);
            m_schedule->keep(std::move(posting));
        }
    }
    m_schedule->last = std::move(announcement);
    Q_EMIT announced();
}

std::pair<QString, QString> Store::notificationText(const QStringList& names)
{
    if (names.size() == 1)
        return { names.front() + u" has an update"_s, u"Open Corvanta to install it."_s };
    return { u"%1 app updates available"_s.arg(names.size()), names.join(u", "_s) };
}

QCoro::Task<> Store::postNotification(std::optional<QStringList> only)
{
    if (m_schedule->sandboxed)
        co_return;
    QStringList names;
    if (only) {
        names = *only;
    } else {
        for (const AppItem* item : visible()) {
            if (item->status().kind == Status::Kind::update)
                names << item->app().name;
        }
    }
    if (names.isEmpty())
        co_return;
    const std::pair<QString, QString> text = notificationText(names);

    const std::shared_ptr<Notifier> notifier = m_schedule->notifier;
    QCoro::Task<Permissions::Notifications> asking = notifier->requestAuthorization();
    const Permissions::Notifications answer = co_await std::move(asking);
    if (!granted(answer))
        co_return;
    Notifier::Request request { u"updates"_s, text.first, text.second };
    QCoro::Task<> adding = notifier->add(std::move(request));
    co_await std::move(adding);
}

QCoro::Task<> Store::notificationsPosted()
{
    // Named, not looked up again after each wait: the store may go meanwhile.
    std::vector<QCoro::Task<>> posting = std::move(m_schedule->posting);
    for (QCoro::Task<>& post : posting)
        co_await std::move(post);
}

const std::optional<Store::Announcement>& Store::lastAnnouncement() const
{
    return m_schedule->last;
}

NotchScheduler& Store::notchScheduler()
{
    return *m_schedule->scheduler;
}

UpdateIsland& Store::island()
{
    return *m_schedule->island;
}

const std::optional<int>& Store::tourStep() const
{
    return m_schedule->tourStep;
}

void Store::setTourStep(std::optional<int> step)
{
    if (m_schedule->tourStep == step)
        return;
    m_schedule->tourStep = step;
    Q_EMIT tourStepChanged();
}

} // namespace corvanta
