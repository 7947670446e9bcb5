#include "app/Commands.h"
#include "codesign/PortableCodeSigning.h"
#include "discovery/Scanner.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QString orDash(const std::optional<QString>& text)
{
    return text ? *text : u"\u2014"_s;
}

QString feeds(const InstalledApp& app)
{
    QStringList parts;
    if (app.feedURL)
        parts << u"Sparkle "_s + app.feedURL->toString();
    if (app.electronFeed)
        parts << u"Electron "_s + app.electronFeed->toString();
    return parts.isEmpty() ? u"\u2014"_s : parts.join(u"; "_s);
}

// Columns padded to their widest cell; the last column is left ragged.
QString table(const QList<QStringList>& rows)
{
    QList<qsizetype> widths;
    for (const QStringList& row : rows) {
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (widths.size() <= i)
                widths.append(0);
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    QString text;
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i];
        text += line + u'\n';
    }
    return text;
}

} // namespace

QCoro::Task<int> commands::scan(CliContext& context)
{
    const Launch launch = context.launch();
    QList<QUrl> folders;
    QStringList rest = context.arguments;
    if (launch.has(u"--sandbox")) {
        const std::optional<QString> sandbox = launch.value(u"--sandbox");
        if (!sandbox)
            co_return context.usage(u"--sandbox needs a folder."_s);
        folders << QUrl::fromLocalFile(QFileInfo(*sandbox).absoluteFilePath());
        rest.removeOne(u"--sandbox"_s);
        rest.removeOne(*sandbox);
    } else {
        folders << QUrl::fromLocalFile(u"/Applications"_s)
                << QUrl::fromLocalFile(QDir::home().filePath(u"Applications"_s));
    }
    if (!rest.isEmpty())
        co_return context.usage(u"scan takes no arguments besides --sandbox DIR."_s);

    // Reading a team verifies nothing, so no trust anchors are needed.
    const codesign::PortableCodeSigning codeSigning { codesign::TrustAnchors() };
    const std::vector<InstalledApp> apps = Scanner::scan(folders, codeSigning);

    if (context.json) {
        QJsonArray array;
        for (const InstalledApp& app : apps)
            array.append(app.toJson());
        context.out << QJsonDocument(array).toJson(QJsonDocument::Indented);
        co_return 0;
    }
    QList<QStringList> rows { { u"NAME"_s, u"BUNDLE ID"_s, u"VERSION"_s, u"BUILD"_s, u"TEAM"_s,
        u"APP STORE"_s, u"FEEDS"_s } };
    for (const InstalledApp& app : apps) {
        rows.append({ app.name, app.bundleID, orDash(app.version), orDash(app.build), orDash(app.team),
            app.isAppStore ? u"yes"_s : u"no"_s, feeds(app) });
    }
    context.out << table(rows);
    QStringList paths;
    for (const QUrl& folder : folders)
        paths << folder.toLocalFile();
    const QString count = apps.size() == 1 ? u"1 app"_s : u"%1 apps"_s.arg(apps.size());
    context.out << u"\n"_s << count << u" in "_s << paths.join(u", "_s) << u'\n';
    co_return 0;
}

} // namespace corvanta
