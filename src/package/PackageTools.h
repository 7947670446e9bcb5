#pragma once

#include <optional>

#include <QString>

namespace corvanta {

// The commands the administrator script runs, as shell text, each followed
// by its arguments in the script.
struct ScriptTools {
    QString tempBase; // where the private folder is made
    QString checksum; // checks "<digest>  <path>" lines read from standard input
    QString signature; // prints the signature report of the package named next
    QString assess; // exits 0 when Gatekeeper accepts the package named next for installation
    QString installer; // installs with "-pkg <package> -target /"

    // The system's own tools on macOS.
    static ScriptTools macOS();
};

// How installer packages are checked and installed here: this program's own
// "package" sub-commands stand in for pkgutil, spctl and installer, run as
// administrator through an escalation program (polkit's pkexec), or directly
// under --sandbox and in tests.
struct PackageTools {
    QString program; // this program, by absolute path
    QString anchors; // the folder of root certificates the checks trust
    std::optional<QString> ticketService; // the notarization ticket service's address
    std::optional<QString> sandbox; // the folder that stands for /Applications; none: the real one
    std::optional<QString> escalation = QStringLiteral("/usr/bin/pkexec"); // none: run as this user

    // Where packages install apps: "/Applications", or the sandbox's folder.
    QString applications() const { return sandbox.value_or(QStringLiteral("/Applications")); }

    // This program with Apple's roots and ticket service; as administrator
    // through pkexec, or as this user with a sandbox standing for /Applications.
    static PackageTools forThisProgram(const std::optional<QString>& sandbox);

    // The script's commands for these settings. Throws UpdateError when one
    // of the paths or the address can't be written into the script safely.
    ScriptTools script() const;
};

} // namespace corvanta
