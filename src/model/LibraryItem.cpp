#include "model/LibraryItem.h"

namespace corvanta {

LibraryItem::LibraryItem(LibraryApp app, QObject* parent)
    : QObject(parent)
    , m_app(std::move(app))
{
}

void LibraryItem::setApp(LibraryApp app)
{
    if (m_app == app)
        return;
    m_app = std::move(app);
    Q_EMIT changed();
}

} // namespace corvanta
