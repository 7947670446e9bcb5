#pragma once

#include "app/Cli.h"

#include <optional>

#include <QUrl>

namespace corvanta::commands {

// One function per command; each file under app/ named after its command.
QCoro::Task<int> inspectVersion(CliContext& context);
QCoro::Task<int> scan(CliContext& context);
QCoro::Task<int> inspectBundle(CliContext& context);
QCoro::Task<int> check(CliContext& context);
QCoro::Task<int> inspectElectron(CliContext& context);
QCoro::Task<int> inspectSignature(CliContext& context);
QCoro::Task<int> inspectPackage(CliContext& context);
QCoro::Task<int> inspectAppcast(CliContext& context);
QCoro::Task<int> inspectCask(CliContext& context);
QCoro::Task<int> demo(CliContext& context);
QCoro::Task<int> update(CliContext& context);
QCoro::Task<int> ignore(CliContext& context);
QCoro::Task<int> skip(CliContext& context);
QCoro::Task<int> unignore(CliContext& context);
QCoro::Task<int> leftovers(CliContext& context);
QCoro::Task<int> uninstall(CliContext& context);
QCoro::Task<int> accountSignUp(CliContext& context);
QCoro::Task<int> accountSignIn(CliContext& context);
QCoro::Task<int> accountGoogle(CliContext& context);
QCoro::Task<int> accountStatus(CliContext& context);
QCoro::Task<int> accountResetPassword(CliContext& context);
QCoro::Task<int> accountSignOut(CliContext& context);
QCoro::Task<int> accountDelete(CliContext& context);
QCoro::Task<int> librarySync(CliContext& context);
QCoro::Task<int> libraryList(CliContext& context);
QCoro::Task<int> libraryDevices(CliContext& context);
QCoro::Task<int> libraryRemove(CliContext& context);
QCoro::Task<int> restore(CliContext& context);
// Hidden: what the administrator script runs for pkgutil, spctl and installer.
QCoro::Task<int> packageSignature(CliContext& context);
QCoro::Task<int> packageAssess(CliContext& context);
QCoro::Task<int> packageInstall(CliContext& context);

// A launch by the desktop's scheme handler: its only argument (besides
// --sandbox and --firebase-config) is a Google sign-in callback URL.
std::optional<QUrl> googleCallback(const QStringList& arguments);
// Passes the callback to the running copy; the exit code.
int handOver(const QUrl& callback, const QStringList& arguments, QTextStream& err);

} // namespace corvanta::commands
