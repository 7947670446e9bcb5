#pragma once

#include "base/Error.h"

#include <optional>
#include <utility>

#include <QString>

namespace corvanta {

class UpdateError;

// How an administrator step failed: the shell script's exit status, or -128
// when the user cancelled the password prompt, and the message.
class AppleScriptError : public Error {
public:
    AppleScriptError(std::optional<int> number, QString message)
        : Error(message)
        , number(number)
        , message(std::move(message))
    {
    }
    // Reads what osascript writes to standard error: "… error: <message> (<number>)".
    explicit AppleScriptError(const QString& stderrText)
        : AppleScriptError(parse(stderrText))
    {
    }

    std::optional<int> number;
    QString message;

private:
    explicit AppleScriptError(std::pair<std::optional<int>, QString> parsed)
        : AppleScriptError(parsed.first, std::move(parsed.second))
    {
    }
    static std::pair<std::optional<int>, QString> parse(const QString& stderrText);
};

// The error the user reads for a failed administrator step of `appName`'s
// installer; only a cancelled prompt is final.
UpdateError adminFailure(const AppleScriptError& error, const QString& appName);

// Runs an AppleScript of the one form the installer writes,
//   do shell script "<script>" with prompt "<prompt>" with administrator privileges
// and returns the shell script's output. Here the shell script runs with
// /bin/sh, through `escalation` (polkit's pkexec, whose own password prompt
// stands in for the one named) when the AppleScript asks for administrator
// privileges and `escalation` is given. One run at a time in the process, so
// never two password prompts are open at once. Throws AppleScriptError with
// the script's exit status, or -128 when the prompt was dismissed.
QString runAppleScript(const QString& appleScript, const std::optional<QString>& escalation);

} // namespace corvanta
