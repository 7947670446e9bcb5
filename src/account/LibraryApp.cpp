#include "account/LibraryApp.h"

using namespace Qt::StringLiterals;

namespace corvanta {

const std::vector<std::pair<QString, LibraryApp::StringField>>& LibraryApp::stringFields()
{
    static const std::vector<std::pair<QString, StringField>> fields {
        { u"team"_s, &LibraryApp::team },
        { u"source"_s, &LibraryApp::source },
        { u"caskToken"_s, &LibraryApp::caskToken },
        { u"feedURL"_s, &LibraryApp::feedURL },
        { u"edKey"_s, &LibraryApp::edKey },
        { u"githubRepo"_s, &LibraryApp::githubRepo },
        { u"storeURL"_s, &LibraryApp::storeURL },
        { u"homepage"_s, &LibraryApp::homepage },
    };
    return fields;
}

std::optional<QString> LibraryApp::field(QStringView key) const
{
    if (key == u"name")
        return name;
    for (const auto& [fieldName, member] : stringFields()) {
        if (fieldName == key)
            return this->*member;
    }
    return std::nullopt;
}

} // namespace corvanta
