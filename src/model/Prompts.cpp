#include "model/Prompts.h"

#include "discovery/InstalledApp.h"
#include "sources/Release.h"

using namespace Qt::StringLiterals;

namespace corvanta {

Question Question::quitToUpdate(const InstalledApp& app, const std::optional<Release>& release)
{
    const QString what = release ? release->label() : u"the update"_s;
    return { u"Quit "_s + app.name + u" to update it?"_s,
        app.name + u" is open. Corvanta will quit it, install "_s + what
            + u" and move the old version to the Trash. If the app has unsaved work it may ask you to save "
              u"first."_s,
        u"Quit and Update"_s, u"Cancel"_s };
}

Question Question::quitToRemove(const InstalledApp& app)
{
    return { u"Quit "_s + app.name + u" first?"_s,
        app.name + u" is open. Corvanta will quit it, then move it to the Trash."_s, u"Quit and Continue"_s,
        u"Cancel"_s };
}

Question Question::packageConsent(const PackageConsent& consent)
{
    QString text = consent.app
        + u" comes as an installer package, which runs with administrator rights. It is signed by "_s
        + consent.signer + u" (team "_s + consent.team + u")"_s
        + (consent.notarized ? u" and notarized by Apple."_s : u" but isn't notarized by Apple."_s);
    if (consent.sameTeam)
        text += u" The team matches the developer your other Mac has on record."_s;
    text += consent.checksum ? u" The download matches the checksum its source published."_s
                             : u" Its source published no checksum to compare the download with."_s;
    return { u"Run "_s + consent.app + u"'s installer?"_s, text, u"Install"_s, u"Cancel"_s };
}

Alert Alert::removalFailed(const QString& name, const QString& description)
{
    return { u"Couldn't remove "_s + name,
        description + u" Anything already moved is in the Trash and can be put back from there."_s };
}

QCoro::Task<bool> FixedPrompts::ask(Question question)
{
    m_out << question.title << '\n'
          << question.text << '\n'
          << (m_answer ? question.confirm : question.cancel) << '\n';
    m_out.flush();
    co_return m_answer;
}

void FixedPrompts::tell(Alert alert)
{
    m_out << alert.title << '\n' << alert.text << '\n';
    m_out.flush();
}

QCoro::Task<bool> TerminalPrompts::ask(Question question)
{
    m_out << question.title << '\n' << question.text << '\n' << question.confirm << "? [y/N] ";
    m_out.flush();
    const QString answer = m_in.readLine().trimmed().toLower();
    co_return answer == u"y" || answer == u"yes";
}

void TerminalPrompts::tell(Alert alert)
{
    m_out << alert.title << '\n' << alert.text << '\n';
    m_out.flush();
}

} // namespace corvanta
