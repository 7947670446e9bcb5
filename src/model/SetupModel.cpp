#include "model/SetupModel.h"

#include "base/Error.h"
#include "platform/Permissions.h"

using namespace Qt::StringLiterals;

namespace corvanta {

SetupModel::SetupModel(Setup& setup, const Permissions& permissions, SetupStep step, QObject* parent)
    : QObject(parent)
    , m_setup(setup)
    , m_permissions(permissions)
    , m_step(step)
{
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &SetupModel::poll);
}

void SetupModel::start()
{
    m_trusted = m_permissions.accessibility() == Permissions::State::granted;
    m_timer.start();
    Q_EMIT changed();
}

void SetupModel::poll()
{
    const bool trusted = m_permissions.accessibility() == Permissions::State::granted;
    const bool news = trusted != m_trusted;
    m_trusted = trusted;
    if (m_step == SetupStep::permission && m_trusted) {
        if (!m_trustedSince)
            m_trustedSince = QDateTime::currentDateTimeUtc();
        advance();
        return;
    }
    m_trustedSince.reset();
    if (news)
        Q_EMIT changed();
}

void SetupModel::advance()
{
    switch (m_step) {
    case SetupStep::move:
    case SetupStep::permission:
        setStep(m_setup.needs() == SetupStep::login ? SetupStep::login : SetupStep::done);
        break;
    case SetupStep::login:
        setStep(SetupStep::done);
        break;
    case SetupStep::done:
        break;
    }
}

void SetupModel::requestPermission()
{
    m_setup.resetOwnPermission();
    m_asked = true;
    // No desktop here asks the user for this permission: the probe above is
    // all there is, and the step goes on once it reads as granted.
    poll();
    Q_EMIT changed();
}

void SetupModel::move(const QString& from)
{
    try {
        const QString bundle = m_setup.moveToApplications(from);
        m_error.reset();
        Q_EMIT changed();
        Q_EMIT moved(bundle);
    } catch (const Error& error) {
        m_error = Setup::moveFailure(error.description());
        Q_EMIT changed();
    }
}

void SetupModel::skipMove()
{
    m_setup.setSkipMove(true);
    advance();
}

void SetupModel::answerLogin(bool on)
{
    m_setup.setLogin(on);
    advance();
}

void SetupModel::setStep(SetupStep step)
{
    m_step = step;
    m_error.reset();
    Q_EMIT changed();
}

} // namespace corvanta
