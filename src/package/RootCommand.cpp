#include "package/RootCommand.h"

#include "install/UpdateError.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

const QString unexpectedPath
    = u"The package's temporary path has unexpected characters. Refusing to run it."_s;

} // namespace

bool isPlainPath(const QString& path)
{
    static const QRegularExpression pattern(u"^/[A-Za-z0-9._/_-]+$"_s);
    return pattern.match(path).hasMatch() && !path.contains(u"/../"_s) && !path.endsWith(u"/.."_s);
}

QString rootCommand(const QString& package, const QString& sha256, const QString& team,
    const QString& tempBase, bool dryRun, const ScriptTools& tools)
{
    if (!isPlainPath(package) || !isPlainPath(tempBase))
        throw UpdateError(unexpectedPath);
    static const QRegularExpression digest(u"^[0-9a-f]{64}$"_s);
    if (!digest.match(sha256).hasMatch())
        throw UpdateError(u"The package checksum isn't valid."_s);
    static const QRegularExpression teamID(u"^[A-Z0-9]{10}$"_s);
    if (!teamID.match(team).hasMatch())
        throw UpdateError(u"The package's Team ID isn't valid."_s);

    const QString install = dryRun ? u"/bin/echo \"would install $d/p.pkg\""_s
                                   : tools.installer + u" -pkg \"$d/p.pkg\" -target /"_s;
    return u"d=$(/usr/bin/mktemp -d '%1/corvanta-pkg.XXXXXX') || exit 91; trap '/bin/rm -rf \"$d\"' EXIT; "
           u"/bin/cp '%2' \"$d/p.pkg\" || exit 91; echo '%3  '\"$d/p.pkg\" | %4 >/dev/null 2>&1 || exit 92; "
           u"%5 \"$d/p.pkg\" > \"$d/sig\" 2>&1; /usr/bin/grep -Eq '^ *Status: signed by a developer "
           u"certificate issued by Apple for distribution$' \"$d/sig\" || exit 93; /usr/bin/grep -Eq "
           u"'^ *1\\. Developer ID Installer: .* \\(%6\\)$' \"$d/sig\" || exit 94; %7 \"$d/p.pkg\" "
           u">/dev/null 2>&1 || exit 95; %8"_s.arg(
               tempBase, package, sha256, tools.checksum, tools.signature, team, tools.assess, install);
}

QString appleScriptLiteral(const QString& text)
{
    QString kept;
    kept.reserve(text.size());
    for (const QChar c : text) {
        if (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format)
            kept.append(c);
    }
    kept.replace(u'\\', u"\\\\"_s);
    kept.replace(u'"', u"\\\""_s);
    return u'"' + kept + u'"';
}

} // namespace corvanta
