#include "account/Account.h"

#include "account/GoogleSignIn.h"
#include "app/Commands.h"
#include "app/StoreCommand.h"
#include "base/Error.h"
#include "model/AccountForm.h"
#include "model/SingleInstance.h"
#include "platform/WebAuthSession.h"

#include <cstdio>

#include <QJsonDocument>
#include <QJsonObject>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

const QString signedOut = u"You're not signed in."_s;

enum class Action { signUp, signIn, google, status, resetPassword, signOut, remove };

// One line of standard input, so the password never shows in a process list.
QString readPassword(QTextStream& err)
{
    if (::isatty(STDIN_FILENO)) {
        err << "Password: ";
        err.flush();
    }
    QTextStream in(stdin);
    return in.readLine();
}

QJsonObject describe(const std::optional<Session>& session)
{
    QJsonObject object { { u"signedIn"_s, session.has_value() } };
    if (!session)
        return object;
    object.insert(u"uid"_s, session->uid);
    object.insert(u"email"_s, session->email);
    object.insert(u"provider"_s, session->provider);
    if (session->name)
        object.insert(u"name"_s, *session->name);
    if (session->emailVerified)
        object.insert(u"emailVerified"_s, *session->emailVerified);
    return object;
}

QString statusText(const std::optional<Session>& session)
{
    if (!session)
        return signedOut + u'\n';
    QString text = u"Signed in as "_s + session->email;
    if (session->name)
        text += u" ("_s + *session->name + u')';
    text += u"\n"_s;
    if (session->provider == Auth::PasswordProviderID && session->emailVerified != true)
        text += u"Your email isn't confirmed yet.\n"_s;
    return text;
}

// Google sign-in from the command line: this process takes the callback the
// desktop hands a later launch, so it must be the one copy listening.
QCoro::Task<int> signInWithGoogle(CliContext& context, Store& store)
{
    SingleInstance instance(SingleInstance::nameFor(context.launch()));
    if (!instance.listenIfFree()) {
        context.err
            << "Corvanta is open: choose Continue with Google in its window, or quit it and try again.\n";
        co_return 1;
    }
    QObject::connect(&instance, &SingleInstance::urlOpened, &instance,
        [&store](const QUrl& url) { store.webAuth().deliver(url); });
    AccountForm form(store);
    context.err << "Waiting for your browser…\n";
    context.err.flush();
    if (!co_await form.signInWithGoogle()) {
        context.err << form.message().value_or(u"Sign-in was cancelled."_s) << '\n';
        co_return 1;
    }
    context.out << statusText(store.session());
    co_return 0;
}

QCoro::Task<int> run(CliContext& context, Action action)
{
    QStringList arguments = context.arguments;
    std::optional<QString> name;
    if (const qsizetype at = arguments.indexOf(u"--name"_s); at >= 0) {
        if (action != Action::signUp || at + 1 >= arguments.size())
            co_return context.usage(u"--name goes with sign-up, followed by the name."_s);
        name = arguments[at + 1];
        arguments.remove(at, 2);
    }
    std::variant<std::unique_ptr<StoreCommand>, QString> opened = StoreCommand::open(context, arguments);
    if (const QString* problem = std::get_if<QString>(&opened))
        co_return context.usage(*problem);
    const std::unique_ptr<StoreCommand> command = std::get<std::unique_ptr<StoreCommand>>(std::move(opened));
    const bool needsEmail
        = action == Action::signUp || action == Action::signIn || action == Action::resetPassword;
    if (arguments.size() != (needsEmail ? 1 : 0))
        co_return context.usage(
            needsEmail ? u"Give one email address."_s : u"This command takes no arguments."_s);

    Store& store = command->store();
    if (!command->hasAccount(context.err, false))
        co_return 1;

    if (action == Action::google)
        co_return co_await signInWithGoogle(context, store);
    AccountForm form(store);
    switch (action) {
    case Action::signUp:
    case Action::signIn: {
        store.setCreatingAccount(action == Action::signUp);
        form.email = arguments.front();
        form.name = name.value_or(QString());
        form.password = readPassword(context.err);
        if (!AccountForm::validEmail(form.email)) {
            context.err << "That doesn't look like an email address.\n";
            co_return 1;
        }
        if (form.password.size() < AccountForm::minimumPassword) {
            context.err << "Use a password of at least 6 characters.\n";
            co_return 1;
        }
        if (!form.canSubmit()) {
            context.err << "A new account needs a name: give it with --name NAME.\n";
            co_return 1;
        }
        const bool signedIn = co_await form.submit();
        if (!signedIn) {
            context.err << form.message().value_or(u"Sign-in failed."_s) << '\n';
            co_return 1;
        }
        if (action == Action::signUp)
            context.out << "We sent a link to " << form.email << ". Confirm it to finish setting up.\n";
        context.out << statusText(store.session());
        co_return 0;
    }
    case Action::status:
        if (context.json)
            context.out << QString::fromUtf8(
                QJsonDocument(describe(store.session())).toJson(QJsonDocument::Indented));
        else
            context.out << statusText(store.session());
        co_return 0;
    case Action::resetPassword: {
        form.email = arguments.front();
        const bool sent = co_await form.forgotPassword();
        (sent ? context.out : context.err) << form.message().value_or(QString()) << '\n';
        co_return sent ? 0 : 1;
    }
    case Action::signOut:
        store.signOut();
        context.out << "Signed out.\n";
        co_return 0;
    case Action::google:
    case Action::remove:
        break;
    }

    if (!store.session()) {
        context.err << signedOut << '\n';
        co_return 1;
    }
    std::optional<QString> failure;
    try {
        QCoro::Task<> deleting = store.deleteAccount();
        co_await std::move(deleting);
    } catch (const Error& error) {
        failure = error.description();
    }
    if (failure) {
        context.err << *failure << '\n';
        co_return 1;
    }
    context.out << "Your account and its library are deleted.\n";
    co_return 0;
}

} // namespace

QCoro::Task<int> commands::accountSignUp(CliContext& context)
{
    return run(context, Action::signUp);
}

QCoro::Task<int> commands::accountSignIn(CliContext& context)
{
    return run(context, Action::signIn);
}

QCoro::Task<int> commands::accountGoogle(CliContext& context)
{
    return run(context, Action::google);
}

QCoro::Task<int> commands::accountStatus(CliContext& context)
{
    return run(context, Action::status);
}

QCoro::Task<int> commands::accountResetPassword(CliContext& context)
{
    return run(context, Action::resetPassword);
}

QCoro::Task<int> commands::accountSignOut(CliContext& context)
{
    return run(context, Action::signOut);
}

QCoro::Task<int> commands::accountDelete(CliContext& context)
{
    return run(context, Action::remove);
}

std::optional<QUrl> commands::googleCallback(const QStringList& arguments)
{
    // Only the options that say which copy and which settings; anything else
    // makes it not a hand-over.
    QStringList rest = arguments;
    for (const QString& flag : { u"--sandbox"_s, u"--firebase-config"_s }) {
        if (const qsizetype at = rest.indexOf(flag); at >= 0 && at + 1 < rest.size())
            rest.remove(at, 2);
    }
    const Launch launch(arguments);
    const std::optional<CloudConfig> config = CloudConfig::current(launch.value(u"--firebase-config"));
    if (!config)
        return std::nullopt;
    return GoogleSignIn::callbackArgument(rest, config->googleClientID);
}

int commands::handOver(const QUrl& callback, const QStringList& arguments, QTextStream& err)
{
    if (SingleInstance::forward(SingleInstance::nameFor(Launch(arguments)), callback))
        return 0;
    err << "No sign-in is waiting for this answer from your browser. Start it again in Corvanta.\n";
    return 1;
}

} // namespace corvanta
