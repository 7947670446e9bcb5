#pragma once

#include <memory>

#include <QProcessEnvironment>
#include <QString>

namespace corvanta {

// Opening the program when the user logs in, started quietly ("--background").
class LoginItem {
public:
    virtual ~LoginItem() = default;

    // The program opens at login, as this program (not another copy).
    virtual bool enabled() const = 0;
    // Throws Error with the reason when the change couldn't be made.
    virtual void setEnabled(bool on) = 0;

    // On Linux an XDG autostart entry in `environment`'s configuration
    // folder that runs `program`.
    static std::unique_ptr<LoginItem> create(
        QString program, QProcessEnvironment environment = QProcessEnvironment::systemEnvironment());
};

} // namespace corvanta
