#pragma once

#include <QString>
#include <QUrl>

#include <sys/types.h>

namespace corvanta::test {

// One file served over loopback by a child process, so the server's buffers
// and its share of the CPU don't count against the process being measured.
// Make it before any QCoreApplication exists: forking a process that runs
// Qt's threads is unsafe.
class ServedFile {
public:
    ServedFile(const QString& file, const QString& path);
    ~ServedFile(); // stops the child
    ServedFile(const ServedFile&) = delete;
    ServedFile& operator=(const ServedFile&) = delete;

    const QUrl& url() const { return m_url; }

private:
    pid_t m_child = -1;
    QUrl m_url;
};

} // namespace corvanta::test
