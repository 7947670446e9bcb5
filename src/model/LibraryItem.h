#pragma once

#include "account/LibraryApp.h"

#include <QObject>

namespace corvanta {

// One row of the cloud library, identified by its app's bundle identifier.
// The object outlives reloads of the library: a reload only replaces `app`,
// so what the row carries besides stays with it. Lives on the main thread.
class LibraryItem : public QObject {
    Q_OBJECT

public:
    explicit LibraryItem(LibraryApp app, QObject* parent = nullptr);

    const QString& id() const { return m_app.id; }
    const LibraryApp& app() const { return m_app; }
    void setApp(LibraryApp app);

Q_SIGNALS:
    void changed();

private:
    LibraryApp m_app;
};

} // namespace corvanta
