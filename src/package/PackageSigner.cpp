#include "package/PackageSigner.h"

#include <QRegularExpression>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QStringList lines(const QString& text)
{
    return text.split(QRegularExpression(u"\r\n|\r|\n"_s));
}

QString trimmed(const QString& line)
{
    qsizetype start = 0;
    qsizetype end = line.size();
    while (start < end && (line[start] == u' ' || line[start] == u'\t'))
        ++start;
    while (end > start && (line[end - 1] == u' ' || line[end - 1] == u'\t'))
        --end;
    return line.mid(start, end - start);
}

} // namespace

std::optional<QString> PackageSigner::team() const
{
    if (!leaf || !leaf->startsWith(installerPrefix))
        return std::nullopt;
    static const QRegularExpression pattern(u"\\(([A-Z0-9]{10})\\)$"_s);
    const QRegularExpressionMatch match = pattern.match(*leaf);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1);
}

PackageSigner PackageSigner::parse(const QString& pkgutil, int exit, const QString& spctl, int spctlExit)
{
    PackageSigner signer;
    for (const QString& raw : lines(pkgutil)) {
        const QString line = trimmed(raw);
        if (line.startsWith(u"Status: "_s))
            signer.status = line.mid(8);
        else if (!signer.leaf && line.startsWith(u"1. "_s))
            signer.leaf = line.mid(3);
    }
    signer.trusted = exit == 0 && signer.status == trustedStatus;
    signer.notarized = lines(spctl).contains(u"source=Notarized Developer ID"_s);
    signer.accepted = spctlExit == 0;
    return signer;
}

} // namespace corvanta
