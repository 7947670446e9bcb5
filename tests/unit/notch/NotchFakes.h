#pragma once

#include "notch/NotchHost.h"
#include "platform/Desktop.h"

#include <stdexcept>

#include <QSet>

namespace corvanta::test {

// The desktop as each test sets it: what Linux can't report (notches,
// full-screen apps, other apps' notch panels) and what needs a display.
class FakeDesktop : public Desktop {
public:
    QList<Window> openWindows;
    bool isActive = false;
    bool fullScreen = false;
    QList<Screen> displays { Screen {
        QStringLiteral("Built-in"), QRect(0, 0, 1512, 982), QSize(), false, true } };
    bool notchTaken = false;
    QList<QRect> looked; // the areas asked about
    std::vector<std::function<void()>> wakeHandlers;

    QList<Window> windows() const override { return openWindows; }
    bool active() const override { return isActive; }
    bool fullScreenAppInFront() const override { return fullScreen; }
    QList<Screen> screens() const override { return displays; }
    bool occupied(const QRect& area) const override
    {
        const_cast<FakeDesktop*>(this)->looked << area;
        return notchTaken;
    }
    void watchWake(std::function<void()> handler) override { wakeHandlers.push_back(std::move(handler)); }
    void wake()
    {
        for (const auto& handler : wakeHandlers)
            handler();
    }
};

// The application model's side as plain data, for the rules' unit tests;
// the integration tests run the same code over a real Store.
class TestHost : public NotchHost {
public:
    QList<IslandRow> rows; // the visible items in list order
    QSet<QString> settled; // ids whose status is no longer `update`
    NotchMemory savedMemory;
    int memoryWrites = 0;
    NotchMode notchMode = NotchMode::smart;
    std::optional<QuietHours> quiet;
    bool tour = false;
    bool runningAll = false;
    QList<QStringList> updated;
    QList<QStringList> skipped;
    int notifications = 0;

    void add(const QString& name, const QString& version = QStringLiteral("2.0"))
    {
        const QString id = QStringLiteral("/Applications/") + name + QStringLiteral(".app");
        rows << IslandRow { id, QStringLiteral("com.example.") + name.toLower() + u'@' + version, name,
            QStringLiteral("1.0"), version, QStringLiteral("Sparkle"), {} };
    }
    IslandRow& at(const QString& name)
    {
        for (IslandRow& row : rows) {
            if (row.name == name)
                return row;
        }
        throw std::out_of_range("no such row");
    }

    QStringList updateIds() const override
    {
        QStringList ids;
        for (const IslandRow& row : rows) {
            if (!settled.contains(row.id))
                ids << row.id;
        }
        return ids;
    }
    std::optional<IslandRow> row(const QString& id) const override
    {
        for (const IslandRow& row : rows) {
            if (row.id == id)
                return row;
        }
        return std::nullopt;
    }
    QStringList pendingKeys() const override
    {
        QStringList keys;
        for (const IslandRow& row : rows) {
            if (!settled.contains(row.id))
                keys << row.key;
        }
        return keys;
    }
    NotchMemory memory() const override { return savedMemory; }
    void setMemory(const NotchMemory& memory) override
    {
        savedMemory = memory;
        ++memoryWrites;
    }
    NotchMode mode() const override { return notchMode; }
    void setMode(NotchMode mode) override { notchMode = mode; }
    std::optional<QuietHours> quietHours() const override { return quiet; }
    bool touring() const override { return tour; }
    bool updatingAll() const override { return runningAll; }
    void updateAll(const QStringList& ids) override { updated << ids; }
    void skipVersions(const QStringList& ids) override { skipped << ids; }
    void postNotification() override { ++notifications; }
};

} // namespace corvanta::test
