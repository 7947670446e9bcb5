#include "package/AppleScript.h"

#include "install/UpdateError.h"

#include <mutex>

#include <QProcess>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// pkexec's exit status when the user dismissed its authentication dialog.
constexpr int dismissed = 126;

// Reads one AppleScript string literal at `at`, moving past it; none when there is none.
std::optional<QString> literal(const QString& text, qsizetype& at)
{
    if (at >= text.size() || text[at] != u'"')
        return std::nullopt;
    QString out;
    for (qsizetype i = at + 1; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'"') {
            at = i + 1;
            return out;
        }
        if (c == u'\\') {
            if (++i >= text.size())
                return std::nullopt;
            const QChar escaped = text[i];
            out += escaped == u'n' ? u'\n' : escaped == u't' ? u'\t' : escaped == u'r' ? u'\r' : escaped;
            continue;
        }
        out += c;
    }
    return std::nullopt;
}

bool take(const QString& text, qsizetype& at, QStringView word)
{
    if (!QStringView(text).mid(at).startsWith(word))
        return false;
    at += word.size();
    return true;
}

struct ShellCommand {
    QString script;
    bool administrator = false;
};

std::optional<ShellCommand> shellCommand(const QString& appleScript)
{
    ShellCommand command;
    qsizetype at = 0;
    const auto script = take(appleScript, at, u"do shell script ") ? literal(appleScript, at) : std::nullopt;
    if (!script)
        return std::nullopt;
    command.script = *script;
    if (take(appleScript, at, u" with prompt ") && !literal(appleScript, at))
        return std::nullopt;
    command.administrator = take(appleScript, at, u" with administrator privileges");
    if (at != appleScript.size())
        return std::nullopt;
    return command;
}

std::mutex& runLock()
{
    static std::mutex lock;
    return lock;
}

} // namespace

std::pair<std::optional<int>, QString> AppleScriptError::parse(const QString& stderrText)
{
    std::optional<int> number;
    QString text = stderrText.trimmed();
    static const QRegularExpression trailingNumber(u"\\((-?[0-9]+)\\)$"_s);
    const QRegularExpressionMatch match = trailingNumber.match(text);
    if (match.hasMatch()) {
        bool ok = false;
        const int value = match.captured(1).toInt(&ok);
        if (ok)
            number = value;
        text = text.left(match.capturedStart()).trimmed();
    }
    const qsizetype error = text.indexOf(u"error: "_s);
    QString message = error >= 0 ? text.mid(error + 7) : text;
    if (message.isEmpty())
        message = u"osascript failed"_s;
    return { number, message };
}

UpdateError adminFailure(const AppleScriptError& error, const QString& appName)
{
    switch (error.number.value_or(0)) {
    case -128:
        return UpdateError(u"You cancelled the administrator prompt. Nothing was installed."_s, false, true);
    case 91:
        return UpdateError(
            u"Corvanta couldn't copy %1's installer package into a private folder. Nothing was "
            u"installed."_s.arg(appName));
    case 92:
        return UpdateError(
            u"%1's installer package changed after Corvanta checked it (SHA-256 mismatch in the "
            u"administrator step). Nothing was installed."_s.arg(appName));
    case 93:
        return UpdateError(
            u"%1's installer package isn't signed by a Developer ID Installer certificate Apple "
            u"trusts (checked again as administrator). Nothing was installed."_s.arg(appName));
    case 94:
        return UpdateError(u"%1's installer package is signed by another team than the one Corvanta checked "
                           u"(checked again as administrator). Nothing was installed."_s.arg(appName));
    case 95:
        return UpdateError(
            u"Gatekeeper rejected %1's installer package in the administrator step. Nothing was installed."_s
                .arg(appName));
    default:
        break;
    }
    QString text = u"The installer failed: "_s + error.message;
    if (error.number)
        text += u" (%1)"_s.arg(*error.number);
    return UpdateError(text);
}

QString runAppleScript(const QString& appleScript, const std::optional<QString>& escalation)
{
    const std::lock_guard<std::mutex> held(runLock());
    const std::optional<ShellCommand> command = shellCommand(appleScript);
    if (!command)
        throw AppleScriptError(std::nullopt, u"only a \u201cdo shell script\u201d command can run here"_s);
    const bool escalate = command->administrator && escalation;

    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    if (escalate)
        process.start(*escalation, { u"/bin/sh"_s, u"-c"_s, command->script });
    else
        process.start(u"/bin/sh"_s, { u"-c"_s, command->script });
    if (!process.waitForStarted(-1)) {
        throw AppleScriptError(std::nullopt,
            u"%1 can't be started (%2)"_s.arg(escalate ? *escalation : u"/bin/sh"_s, process.errorString()));
    }
    process.waitForFinished(-1);
    const QString output = QString::fromUtf8(process.readAllStandardOutput());
    const QString errors = QString::fromUtf8(process.readAllStandardError()).trimmed();
    if (process.exitStatus() != QProcess::NormalExit)
        throw AppleScriptError(std::nullopt, u"the administrator step was killed"_s);
    const int status = process.exitCode();
    if (status == 0)
        return output;
    if (escalate && status == dismissed)
        throw AppleScriptError(u"execution error: User canceled. (-128)"_s);
    // osascript's own form, so one reader serves both platforms.
    throw AppleScriptError(u"execution error: %1 (%2)"_s.arg(
        errors.isEmpty() ? u"The command exited with a non-zero status."_s : errors,
        QString::number(status)));
}

} // namespace corvanta
