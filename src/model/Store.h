#pragma once

#include "account/Cloud.h"
#include "discovery/GitHub.h"
#include "install/Leftovers.h"
#include "model/AppItem.h"
#include "model/Filter.h"
#include "model/Launch.h"
#include "model/LibraryTab.h"
#include "model/Motion.h"
#include "model/Prompts.h"
#include "model/Route.h"
#include "notch/NotchSchedule.h"
#include "platform/Permissions.h"
#include "platform/ThisMac.h"
#include "sources/Checker.h"
#include "sources/Endpoints.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QProcessEnvironment>
#include <QSet>
#include <QUrl>

namespace corvanta {

class BrewIndex;
class Clock;
class Desktop;
class Gatekeeper;
struct PackageTools;
class NotchScheduler;
class Notifier;
class UpdateIsland;
class CodeSigning;
class DiskImages;
class Ditto;
class HostInfo;
class LibraryItem;
class Net;
class Prefs;
class Rename;
class SecretStore;
class WebAuthSession;
class Trash;
class Workspace;

// The services the model works through, made once by the composition root.
struct StoreServices {
    Net& net;
    const CodeSigning& codeSigning;
    const HostInfo& host;
    Prefs& prefs;
    std::function<QDateTime()> clock = &QDateTime::currentDateTime;
    // Whether the first list appears in slices; a front end with nothing to animate says no.
    bool revealInSlices = true;
    // The desktop asks for less motion (as --reduce-motion does).
    bool reduceMotion = false;

    // ---- Actions: what updating and removing apps use; null means the platform's own.
    Ditto* ditto = nullptr;
    Rename* rename = nullptr;
    Trash* trash = nullptr;
    Workspace* workspace = nullptr;
    DiskImages* diskImages = nullptr;
    Permissions* permissions = nullptr;
    // The pauses of the wait for a quitting app and of the "Updated" moment;
    // tests make them short. Default: a timer.
    std::function<QCoro::Task<>(std::chrono::milliseconds)> sleep;
    // Opens a web or store page in the browser. Default: the desktop's opener.
    std::function<void(const QUrl&)> openURL;

    // ---- Schedule and alerts: null means the platform's own.
    Clock* time = nullptr; // the check schedule's and the notch alerts' clock and timers
    Notifier* notifier = nullptr;
    Desktop* desktop = nullptr;

    // ---- Account: null means the platform's keychain.
    SecretStore* secrets = nullptr;
    // The browser sign-in; null means the platform's own.
    WebAuthSession* webAuth = nullptr;
    // Where FIREBASE_AUTH_EMULATOR_HOST is looked up.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

    // ---- Restoring: null means this program's own package checks and tools.
    const Gatekeeper* gatekeeper = nullptr;
    const PackageTools* packageTools = nullptr;
    // Whether this user may add apps to a folder. Default: the file system's answer.
    std::function<bool(const QString&)> mayWrite;
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

    // ---- Actions: the update queue and what a user does to an app ----------

    // An installer package question waiting for its one answer.
    struct PackageQuestion {
        PackageConsent request;
        std::function<void(bool)> answer;
    };

    bool updatingAll() const { return m_updatingAll; }
    const std::optional<QString>& notice() const { return m_notice; }
    AppItem* removing() const { return m_removing; }
    Permissions::State appManagement() const { return m_appManagement; }
    Permissions::Notifications notifications() const { return m_notifications; }
    const std::optional<PackageQuestion>& packageConsent() const { return m_packageConsent; }
    // "Library" in the home folder, or beside the sandbox folder.
    const QString& userLibrary() const { return m_userLibrary; }
    // None (the user's Trash), or "Trash" beside the sandbox folder.
    const std::optional<QString>& trashFolder() const { return m_trashFolder; }
    // Visible updates the installer can install, in list order.
    QList<AppItem*> installable() const;

    // Where questions and alerts go; without prompts every question is cancelled.
    void setPrompts(Prompts* prompts) { m_prompts = prompts; }
    void setNotice(const std::optional<QString>& notice);
    void setRemoving(AppItem* item);

    // Updates one app: its store page for App Store releases, otherwise quits
    // it when it runs (after asking), installs and re-reads it. Never throws;
    // failures end in the phases `failed` or `blocked`.
    QCoro::Task<> update(AppItem* item);
    // Queues `only` (default: every installable app) and updates them one at
    // a time in list order. A run asked for while one runs does nothing.
    QCoro::Task<> updateAll(std::optional<QList<AppItem*>> only = std::nullopt);
    // Updates again the apps macOS blocked for lack of permission.
    QCoro::Task<> retryBlocked();
    // Probes the permissions again; retries blocked updates once App Management is granted.
    QCoro::Task<> refreshPermissions();
    void ignore(AppItem* item);
    void ignoreVersion(AppItem* item);
    void unignore(const QString& bundleID);
    void openStore(AppItem* item);
    // Opens `packageConsent` until a front end answers it; the answer.
    QCoro::Task<bool> askPackageConsent(PackageConsent consent);
    // What the app left in the user's Library, for the removal prompt.
    QCoro::Task<std::vector<Leftover>> leftovers(InstalledApp app);
    // Removes the app and the chosen data; reports through `notice`, or an alert.
    QCoro::Task<> uninstall(AppItem* item, std::vector<Leftover> data, bool permanently);

    // ---- Schedule, announcements and notifications (StoreSchedule.cpp) ----

    // What the end of the last refresh announced, and through which channel.
    struct Announcement {
        enum class Channel { none, notch, notification };
        bool background = false;
        QStringList keys; // the fresh findings: bundle identifier @ release label
        QStringList names;
        Channel channel = Channel::none;
        std::optional<NotchTrigger> trigger; // notch: what the scheduler was asked
        std::optional<NotchDecision> decision; // notch: what it decided
    };

    // (Re)starts the check schedule: a background refresh every
    // Prefs::intervalHours, counted from the end of the previous one; none
    // below 1 hour. Restarts by itself when the interval changes.
    void startSchedule();
    bool scheduleRunning() const;
    // Posts the update notification for `only` (default: every visible
    // update). Nothing under --sandbox, without names or without leave.
    QCoro::Task<> postNotification(std::optional<QStringList> only = std::nullopt);
    // The notification's title and body for `names`.
    static std::pair<QString, QString> notificationText(const QStringList& names);
    // Waits until the notifications under way have been handed over.
    QCoro::Task<> notificationsPosted();
    const std::optional<Announcement>& lastAnnouncement() const;
    NotchScheduler& notchScheduler();
    UpdateIsland& island();
    // The onboarding tour's step; while set, the user counts as busy in the app.
    const std::optional<int>& tourStep() const;
    void setTourStep(std::optional<int> step);

    // ---- Account (StoreAccount.cpp) ----------------------------------------

    // The Firebase settings, read once at creation; none switches accounts off.
    const std::optional<CloudConfig>& cloud() const { return m_cloud; }
    const std::optional<Session>& session() const { return m_session; }
    // The keychain account the session is stored under.
    const QString& sessionAccount() const { return m_sessionAccount; }
    const std::optional<QString>& syncError() const { return m_syncError; }
    const std::optional<QDateTime>& confirmationSentAt() const { return m_confirmationSentAt; }
    void setConfirmationSentAt(const std::optional<QDateTime>& at);
    // Whether the sign-in form is in "Create your account" mode.
    bool creatingAccount() const { return m_creatingAccount; }
    void setCreatingAccount(bool creating);

    // Publishes and stores `session`, then brings the library up to date.
    QCoro::Task<> signedIn(Session session);
    void signOut();
    // A client for the session, its ID token renewed once expired (or when
    // forced). None without settings or session, or when the renewal failed:
    // `syncError` says why, and an ended session is signed out.
    QCoro::Task<std::optional<Cloud>> liveCloud(bool forceRefresh);
    // Whole seconds until another confirmation mail may be sent.
    int confirmationWait(const QDateTime& at) const;
    // Throws Error when the mail could not be sent.
    QCoro::Task<> resendEmailConfirmation();
    // Asks the server whether the email was confirmed; never throws.
    QCoro::Task<> refreshEmailConfirmation();
    // Deletes the library and the account, then signs out; throws Error.
    QCoro::Task<> deleteAccount();
    // Where Google sign-in opens the browser and waits for its answer.
    WebAuthSession& webAuth();

    static constexpr int confirmationPause = 60; // seconds between confirmation mails

    // ---- Cloud library (StoreLibrary.cpp) ----------------------------------

    // The library's apps by name, and its Macs with the latest seen first, as last read.
    const QList<LibraryItem*>& library() const { return m_library; }
    const std::vector<Device>& devices() const { return m_devices; }
    bool syncing() const { return m_syncing; }
    // This Mac as the library knows it; its device id is made and stored on first use.
    ThisMac& thisMac();
    // Writes this Mac's apps to the library, then reads the library back. One
    // at a time; nothing without a live session. Never throws: a failure is
    // left in `syncError`.
    QCoro::Task<> syncLibrary();
    // Reads and publishes the library; a row already shown keeps its object
    // and gets the new record. Throws Error.
    QCoro::Task<> reloadLibrary(Cloud cloud);
    // Deletes these apps from the library (not from any Mac) and reloads.
    // Never throws: a failure is left in `syncError`.
    QCoro::Task<> removeFromLibrary(QList<LibraryItem*> items);

    // ---- Restoring (StoreRestore.cpp) ---------------------------------------

    bool restoring() const { return m_restoring; }
    LibraryTab libraryTab() const { return m_libraryTab; }
    void setLibraryTab(LibraryTab tab);
    // Installs the items one at a time by their routes (found first when
    // missing), counts those left to the user in `notice`, then refreshes in
    // the background. Never throws; a run asked for while one runs does nothing.
    QCoro::Task<> restore(QList<LibraryItem*> items);
    // The item's route, found and kept on first use.
    QCoro::Task<Route> route(LibraryItem* item);

Q_SIGNALS:
    void sessionChanged();
    void syncErrorChanged();
    void confirmationSentAtChanged();
    void creatingAccountChanged();
    void itemsChanged();
    void filterChanged();
    void queryChanged();
    void selectionChanged();
    void expandedChanged();
    void scanningChanged();
    void progressChanged(); // checked or toCheck
    void lastCheckedChanged();
    void updatingAllChanged();
    void noticeChanged();
    void removingChanged();
    void appManagementChanged();
    void notificationsChanged();
    void packageConsentChanged();
    void announced();
    void tourStepChanged();
    void libraryChanged();
    void devicesChanged();
    void syncingChanged();
    void restoringChanged();
    void libraryTabChanged();

private:
    void apply(const QString& path, std::vector<Attempt> attempts, std::optional<Release> release);
    Status verdict(const AppItem& item) const;
    Checker checker() const;
    void setScanning(bool scanning);
    void setChecked(int checked);
    void setToCheck(int toCheck);

    // Tells the user about what a background refresh found: the notch panel or a notification.
    void announce(bool background, bool everything);

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
    QUrl m_githubWeb = corvanta::githubWeb;
    std::unique_ptr<BrewIndex> m_brew;
    QSet<QString> m_counting;
    bool m_reduceMotion = false;
    Animation m_animation;

    // ---- Actions ------------------------------------------------------------
    struct Platform;

    void initActions(const Launch& launch);
    void setUpdatingAll(bool updatingAll);
    void setAppManagement(Permissions::State state);
    void setPhase(AppItem* item, InstallPhase phase, Animation animation);
    void probeAppManagement();
    void removeItem(AppItem* item);
    QCoro::Task<bool> ask(Question question);
    QCoro::Task<> pause(std::chrono::milliseconds duration);
    // The zap paths of the app's cask; none without a cask or its index.
    QCoro::Task<QStringList> caskZap(InstalledApp app);

    std::shared_ptr<Platform> m_platform;
    Prompts* m_prompts = nullptr;
    bool m_sandboxed = false;
    QString m_userLibrary;
    std::optional<QString> m_trashFolder;
    bool m_updatingAll = false;
    bool m_retryAfterRun = false;
    QSet<QString> m_updating; // items inside update(), by id
    std::optional<QString> m_notice;
    QPointer<AppItem> m_removing;
    Permissions::State m_appManagement = Permissions::State::unknown;
    Permissions::Notifications m_notifications = Permissions::Notifications::notDetermined;
    std::optional<PackageQuestion> m_packageConsent;

    // ---- Account ----------------------------------------------------------
    void initAccount(const Launch& launch);
    void setSession(std::optional<Session> session);
    void setSyncError(const std::optional<QString>& error);
    // Deletes every document of the account's library; throws Error.
    QCoro::Task<> deleteLibrary(Cloud cloud);

    std::optional<CloudConfig> m_cloud;
    std::unique_ptr<SecretStore> m_ownSecrets;
    SecretStore* m_secrets = nullptr;
    std::unique_ptr<WebAuthSession> m_ownWebAuth;
    QStringList m_handlerOptions; // the launch options a callback launch repeats
    QString m_sessionAccount;
    std::optional<Session> m_session;
    std::optional<QString> m_syncError;
    std::optional<QDateTime> m_confirmationSentAt;
    bool m_creatingAccount = false;

    // ---- Cloud library ------------------------------------------------------
    void initLibrary(const Launch& launch);
    void setSyncing(bool syncing);
    // Publishes `apps` as rows, keeping the objects of rows already shown.
    void publishLibrary(std::vector<LibraryApp> apps, std::vector<Device> devices);

    std::optional<QString> m_deviceIDArgument;
    std::unique_ptr<ThisMac> m_thisMac;
    QList<LibraryItem*> m_library;
    std::vector<Device> m_devices;
    bool m_syncing = false;

    // ---- Restoring ----------------------------------------------------------
    struct RestoreTools;
    void setRestoring(bool restoring);
    // Installs one item by its candidates into `folder`.
    QCoro::Task<> restoreOne(LibraryItem* item, QList<Release> candidates, QString folder);

    std::optional<QString> m_sandbox;
    bool m_restoring = false;
    LibraryTab m_libraryTab = LibraryTab::missing;
    std::shared_ptr<RestoreTools> m_restoreTools;

    // ---- Schedule, announcements and notifications ----------------------
    struct Schedule;
    void initSchedule(const Launch& launch);
    std::shared_ptr<Schedule> m_schedule;
};

} // namespace corvanta
