#include "sources/Endpoints.h"

namespace corvanta {

QUrl appendPath(const QUrl& base, const QString& path)
{
    QUrl url = base;
    QString basePath = url.path();
    if (!basePath.endsWith(u'/'))
        basePath += u'/';
    url.setPath(basePath + path);
    return url;
}

} // namespace corvanta
