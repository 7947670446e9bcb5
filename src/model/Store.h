#pragma once

#include "model/AppItem.h"
#include "model/Filter.h"
#include "model/Launch.h"
#include "model/Motion.h"
#include "sources/Checker.h"
#include "sources/Endpoints.h"

#include <functional>
#include <memory>
#include <optional>

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QUrl>

namespace corvanta {

class BrewIndex;
class CodeSigning;
class HostInfo;
class Net;
class Prefs;

// The services the model works through, made once by the composition root.
struct StoreServices {
    Net& net;
    const CodeSigning& codeSigning;
    const HostInfo& host;
    Prefs& prefs;
    std::function<QDateTime()> clock = &QDateTime::currentDateTime;
};

// The one application model: the installed apps as the interface shows
// them, the refresh that fills in their statuses, and the derived views of
// the list. Lives on the main thread; views observe its signals.
class Store : public QObject {
    Q_OBJECT

public:
    Store(StoreServices services, const Launch& launch, QObject* parent = nullptr);
    ~Store() override;

    const QList<AppItem*>& items() const { return m_items; }
    Filter filter() const { return m_filter; }
    const QString& query() const { return m_query; }
    const std::optional<QString>& selection() const { return m_selection; }
    const std::optional<QString>& expanded() const { return m_expanded; }
    bool scanning() const { return m_scanning; }
    int checked() const { return m_checked; }
    int toCheck() const { return m_toCheck; }
    const std::optional<QDateTime>& lastChecked() const { return m_lastChecked; }
    const QList<QUrl>& folders() const { return m_folders; }
    const Endpoints& endpoints() const { return m_endpoints; }
    BrewIndex& brew() { return *m_brew; }
    Prefs& prefs() { return m_services.prefs; }
    const StoreServices& services() const { return m_services; }
    bool reduceMotion() const { return m_reduceMotion; }
    // The animation the latest change of the list asked for.
    const Animation& animation() const { return m_animation; }

    void setFilter(Filter filter);
    void setQuery(const QString& query);
    void setSelection(const std::optional<QString>& id);
    void setExpanded(const std::optional<QString>& id);

    // Rescans, rebuilds the list by path and checks every app that is neither
    // ignored nor being installed. A refresh asked for while one runs is dropped.
    QCoro::Task<> refresh(bool background, bool everything);
    // Re-checks one app outside a refresh.
    QCoro::Task<> check(AppItem* item);
    // Re-decides an item's status from what it already knows.
    void restatus(AppItem* item);

    // Items less the App Store apps when they are hidden.
    QList<AppItem*> visible() const;
    int count(Filter filter) const;
    QList<AppItem*> shown(Filter filter) const;
    AppItem* item(const QString& id) const;

    // The search rule: a blank query matches everything; otherwise any present
    // field contains the trimmed query, case-insensitively.
    static bool matches(const QString& query, const QList<std::optional<QString>>& fields);

    static inline const QString ignoredAtRefresh
        = QStringLiteral("You're ignoring this app, so it isn't checked");

Q_SIGNALS:
    void itemsChanged();
    void filterChanged();
    void queryChanged();
    void selectionChanged();
    void expandedChanged();
    void scanningChanged();
    void progressChanged(); // checked or toCheck
    void lastCheckedChanged();

private:
    void apply(const QString& path, std::vector<Attempt> attempts, std::optional<Release> release);
    Status verdict(const AppItem& item) const;
    Checker checker() const;
    void setScanning(bool scanning);
    void setChecked(int checked);
    void setToCheck(int toCheck);

    // The announcement of background findings arrives with the check schedule.
    void announce(bool background, bool everything);
    // The library sync runs here once accounts exist; until then there is no session.
    QCoro::Task<> syncLibrary();

    StoreServices m_services;
    QList<AppItem*> m_items;
    Filter m_filter = Filter::all;
    QString m_query;
    std::optional<QString> m_selection;
    std::optional<QString> m_expanded;
    bool m_scanning = false;
    int m_checked = 0;
    int m_toCheck = 0;
    std::optional<QDateTime> m_lastChecked;
    QList<QUrl> m_folders;
    Endpoints m_endpoints;
    std::unique_ptr<BrewIndex> m_brew;
    QSet<QString> m_counting;
    bool m_reduceMotion = false;
    Animation m_animation;
};

} // namespace corvanta
