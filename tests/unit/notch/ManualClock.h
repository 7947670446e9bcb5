#pragma once

#include "notch/Clock.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace corvanta::test {

// A clock the test moves by hand: advance() runs every timer that falls due
// on the way, in order, with now() set to its due time. Hours pass in no time.
class ManualClock : public Clock {
public:
    explicit ManualClock(QDateTime start, QTimeZone zone = QTimeZone::systemTimeZone())
        : m_now(std::move(start))
        , m_zone(std::move(zone))
    {
    }

    QDateTime now() const override { return m_now; }
    QTimeZone zone() const override { return m_zone; }

    std::unique_ptr<Timer> after(std::chrono::milliseconds delay, std::function<void()> fire) override
    {
        auto entry
            = std::make_shared<Entry>(Entry { m_now.addMSecs(delay.count()), m_sequence++, std::move(fire) });
        m_entries.push_back(entry);
        return std::make_unique<Handle>(entry);
    }

    void advance(std::chrono::milliseconds by)
    {
        const QDateTime target = m_now.addMSecs(by.count());
        while (std::shared_ptr<Entry> next = due(target)) {
            m_now = std::max(m_now, next->at);
            // Spent before it runs: the callback may cancel or start timers.
            std::function<void()> fire = std::move(next->fire);
            next->fire = nullptr;
            fire();
        }
        m_now = std::max(m_now, target);
    }

    // Timers waiting to fire.
    int pending() const
    {
        return int(std::count_if(
            m_entries.begin(), m_entries.end(), [](const auto& entry) { return bool(entry->fire); }));
    }

private:
    struct Entry {
        QDateTime at;
        quint64 sequence;
        std::function<void()> fire;
    };
    class Handle : public Timer {
    public:
        explicit Handle(std::shared_ptr<Entry> entry)
            : m_entry(std::move(entry))
        {
        }
        ~Handle() override { m_entry->fire = nullptr; }

    private:
        std::shared_ptr<Entry> m_entry;
    };

    std::shared_ptr<Entry> due(const QDateTime& target)
    {
        std::erase_if(m_entries, [](const auto& entry) { return !entry->fire; });
        std::shared_ptr<Entry> first;
        for (const std::shared_ptr<Entry>& entry : m_entries) {
            if (entry->at <= target
                && (!first || entry->at < first->at
                    || (entry->at == first->at && entry->sequence < first->sequence)))
                first = entry;
        }
        return first;
    }

    QDateTime m_now;
    QTimeZone m_zone;
    quint64 m_sequence = 0;
    std::vector<std::shared_ptr<Entry>> m_entries;
};

} // namespace corvanta::test
