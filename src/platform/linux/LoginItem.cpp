#include "platform/LoginItem.h"

#include "base/Error.h"
#include "platform/linux/DesktopEntry.h"

#include <QFile>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// The desktop starts every entry of the autostart folder that isn't hidden;
// the program's own is told apart by its Exec line.
class AutostartEntry : public LoginItem {
public:
    AutostartEntry(QString program, const QProcessEnvironment& environment)
        : m_program(std::move(program))
        , m_path(DesktopEntry::configHome(environment) + u"/autostart/corvanta.desktop"_s)
    {
    }

    bool enabled() const override
    {
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QString text = QString::fromUtf8(file.readAll());
        static const QRegularExpression hidden(
            u"^(Hidden=true|X-GNOME-Autostart-enabled=false)$"_s, QRegularExpression::MultilineOption);
        return text.contains(u"\nExec="_s + exec() + u'\n') && !hidden.match(text).hasMatch();
    }

    void setEnabled(bool on) override
    {
        if (!on) {
            if (QFile::exists(m_path) && !QFile::remove(m_path))
                throw Error(u"Couldn't remove %1."_s.arg(m_path));
            return;
        }
        const QString entry = u"[Desktop Entry]\nType=Application\nName=Corvanta\n"
                              u"Comment=Checks your apps for updates in the background\nExec="_s
            + exec() + u"\nIcon=corvanta\nTerminal=false\nX-GNOME-Autostart-enabled=true\n"_s;
        if (!DesktopEntry::write(m_path, entry))
            throw Error(u"Couldn't write %1."_s.arg(m_path));
    }

private:
    QString exec() const { return DesktopEntry::exec({ m_program, u"--background"_s }); }

    QString m_program;
    QString m_path;
};

} // namespace

std::unique_ptr<LoginItem> LoginItem::create(QString program, QProcessEnvironment environment)
{
    return std::make_unique<AutostartEntry>(std::move(program), environment);
}

} // namespace corvanta
