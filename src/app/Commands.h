#pragma once

#include "app/Cli.h"

namespace corvanta::commands {

// One function per command; each file under app/ named after its command.
QCoro::Task<int> inspectVersion(CliContext& context);
QCoro::Task<int> scan(CliContext& context);
QCoro::Task<int> inspectBundle(CliContext& context);
QCoro::Task<int> check(CliContext& context);
QCoro::Task<int> inspectElectron(CliContext& context);
QCoro::Task<int> inspectSignature(CliContext& context);
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
QCoro::Task<int> accountStatus(CliContext& context);
QCoro::Task<int> accountResetPassword(CliContext& context);
QCoro::Task<int> accountSignOut(CliContext& context);
QCoro::Task<int> accountDelete(CliContext& context);

} // namespace corvanta::commands
