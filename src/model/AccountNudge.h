#pragma once

#include <QString>

namespace corvanta {

class Store;

// The main window's card that invites a signed-out user to sign in, at most
// three times and a week apart.
namespace AccountNudge {

inline const QString title = QStringLiteral("Back up your app list");
inline const QString text = QStringLiteral("Sign in so a new Mac can put all your apps back in one go.");
inline const QString notNowTitle = QStringLiteral("Not Now");
inline const QString signInTitle = QStringLiteral("Sign In");

constexpr int maxDismissals = 3;
constexpr qint64 pauseSeconds = 604'800; // 7 days

bool wanted(Store& store);
// Wanted, and not on the Library list, which says the same itself.
bool shouldShow(Store& store);
// "Not Now": away for a week, counted towards the three.
void notNow(Store& store);
// "Sign In": to the Library list, where the sign-in form is.
void signIn(Store& store);

} // namespace AccountNudge

} // namespace corvanta
