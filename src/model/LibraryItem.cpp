#include "model/LibraryItem.h"

#include "account/Cloud.h"
#include "sources/WebLink.h"

#include <algorithm>

namespace corvanta {

namespace {

const Device* findDevice(const std::vector<Device>& devices, const QString& id)
{
    const auto found
        = std::find_if(devices.begin(), devices.end(), [&](const Device& d) { return d.id == id; });
    return found == devices.end() ? nullptr : &*found;
}

QString macName(const std::vector<Device>& devices, const QString& id)
{
    const Device* device = findDevice(devices, id);
    return device ? device->name : LibraryItem::formerMac;
}

} // namespace

LibraryItem::LibraryItem(LibraryApp app, QObject* parent)
    : QObject(parent)
    , m_app(std::move(app))
{
}

void LibraryItem::setApp(LibraryApp app)
{
    if (m_app == app)
        return;
    m_app = std::move(app);
    if (m_route && m_route->store()) {
        if (const std::optional<QUrl> link = WebLink::store(m_app.storeURL))
            m_route = Route { Route::Store { *link } };
        else
            m_route.reset();
    }
    Q_EMIT changed();
}

void LibraryItem::setRoute(std::optional<Route> route)
{
    if (m_route == route)
        return;
    m_route = std::move(route);
    Q_EMIT changed();
}

void LibraryItem::setPhase(InstallPhase phase)
{
    if (m_phase == phase)
        return;
    m_phase = std::move(phase);
    Q_EMIT changed();
}

void LibraryItem::setSelected(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    Q_EMIT changed();
}

void LibraryItem::setNote(std::optional<QString> note)
{
    if (m_note == note)
        return;
    m_note = std::move(note);
    Q_EMIT changed();
}

void LibraryItem::setTeam(std::optional<QString> team)
{
    if (m_team == team)
        return;
    m_team = std::move(team);
    Q_EMIT changed();
}

bool LibraryItem::removedEverywhere() const
{
    return std::none_of(
        m_app.devices.begin(), m_app.devices.end(), [](const auto& entry) { return entry.second.installed; });
}

QStringList LibraryItem::onDevices(const std::vector<Device>& devices) const
{
    QStringList names;
    for (const Device& device : devices) {
        const auto entry = m_app.devices.find(device.id);
        if (entry != m_app.devices.end() && entry->second.installed)
            names << device.name;
    }
    for (const auto& [id, entry] : m_app.devices) {
        if (entry.installed && !findDevice(devices, id) && !names.contains(formerMac))
            names << formerMac;
    }
    return names;
}

std::optional<LibraryItem::Sighting> LibraryItem::lastSeen(const std::vector<Device>& devices) const
{
    std::optional<Sighting> latest;
    for (const auto& [id, entry] : m_app.devices) {
        // A report without a date decodes as the distant past.
        if (!entry.seen.isValid() || entry.seen <= Cloud::distantPast)
            continue;
        if (!latest || entry.seen > latest->seen)
            latest = Sighting { macName(devices, id), entry.seen };
    }
    return latest;
}

std::optional<QUrl> LibraryItem::website() const
{
    if (!m_route)
        return std::nullopt;
    if (const Route::Manual* manual = m_route->manual())
        return manual->page;
    if (const Route::Store* store = m_route->store())
        return store->link;
    return std::nullopt;
}

} // namespace corvanta
