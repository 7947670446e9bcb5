#include "base/Error.h"
#include "install/FileTree.h"
#include "install/Updater.h"
#include "sources/Net.h"
#include "sources/Release.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include <QCoro/QCoroNetworkReply>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QUuid>

#include <openssl/evp.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// A name that stays inside its folder: the last component of whatever the
// server or the URL suggests, without control characters; none when
// nothing usable is left.
std::optional<QString> plainName(QString name)
{
    name = name.mid(std::max(name.lastIndexOf(u'/'), name.lastIndexOf(u'\\')) + 1);
    name.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    name = name.trimmed();
    if (name.isEmpty() || name == u"."_s || name == u".."_s || QFile::encodeName(name).size() > 255)
        return std::nullopt;
    return name;
}

// The value of `parameter` in a Content-Disposition header: a token or a
// quoted string with backslash escapes.
std::optional<QByteArray> dispositionParameter(const QByteArray& header, const QByteArray& parameter)
{
    qsizetype at = 0;
    while (at < header.size()) {
        const qsizetype semicolon = header.indexOf(';', at);
        if (semicolon < 0)
            return std::nullopt;
        at = semicolon + 1;
        while (at < header.size() && (header[at] == ' ' || header[at] == '\t'))
            ++at;
        const qsizetype equals = header.indexOf('=', at);
        if (equals < 0)
            return std::nullopt;
        const QByteArray name = header.mid(at, equals - at).trimmed().toLower();
        at = equals + 1;
        while (at < header.size() && (header[at] == ' ' || header[at] == '\t'))
            ++at;
        QByteArray value;
        if (at < header.size() && header[at] == '"') {
            ++at;
            while (at < header.size() && header[at] != '"') {
                if (header[at] == '\\' && at + 1 < header.size())
                    ++at;
                value += header[at++];
            }
            ++at;
        } else {
            const qsizetype end = header.indexOf(';', at);
            value = header.mid(at, end < 0 ? -1 : end - at).trimmed();
            at = end < 0 ? header.size() : end;
        }
        if (name == parameter)
            return value;
    }
    return std::nullopt;
}

// RFC 5987's charset'language'percent-encoded form of filename*.
std::optional<QString> extendedValue(const QByteArray& value)
{
    const qsizetype first = value.indexOf('\'');
    const qsizetype second = first < 0 ? -1 : value.indexOf('\'', first + 1);
    if (second < 0)
        return std::nullopt;
    const QByteArray charset = value.left(first).toLower();
    const QByteArray bytes = QByteArray::fromPercentEncoding(value.mid(second + 1));
    if (charset == "utf-8")
        return QString::fromUtf8(bytes);
    if (charset == "iso-8859-1")
        return QString::fromLatin1(bytes);
    return std::nullopt;
}

QString numberText(qint64 n)
{
    return QString::number(n);
}

struct FreeDigest {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// What the observer and the completion share for one transfer.
struct Watch {
    std::optional<QString> abort; // the refusal that stopped the transfer
    QFile file; // the body as it arrives
    // SHA-256 of exactly the bytes written, taken while they are at hand
    // (hashing on a thread of its own measured slower on a busy machine).
    std::unique_ptr<EVP_MD_CTX, FreeDigest> digest { EVP_MD_CTX_new() };
    qint64 received = 0;
    double reported = -1;
};

QString hexDigest(EVP_MD_CTX* context)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context, digest, &length) != 1)
        throw SystemError(u"SHA-256 is not available."_s, ENOSYS);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), length).toHex());
}

bool isRedirect(QNetworkReply* reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return status.isValid() && status.toInt() >= 300 && status.toInt() <= 399;
}

constexpr qint64 maxErrorPageSize = 1024 * 1024;

// An HTTP status outside 2xx and 3xx: the body is an error page, not the file.
std::optional<int> failedStatus(QNetworkReply* reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() || (status.toInt() >= 200 && status.toInt() <= 399))
        return std::nullopt;
    return status.toInt();
}

// The length the response's header announces; -1 without one.
qint64 announcedLength(QNetworkReply* reply)
{
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    return length.isValid() ? length.toLongLong() : -1;
}

// The refusals the announced length and the bytes received so far call for.
std::optional<QString> refusal(qint64 announced, qint64 received, const std::optional<qint64>& expected)
{
    if (expected && announced >= 1 && announced != *expected) {
        return u"The server is sending %1 bytes, but the source says the download is %2. Stopped."_s.arg(
            numberText(announced), numberText(*expected));
    }
    if (announced > Updater::maxDownloadSize || received > Updater::maxDownloadSize)
        return u"The download is larger than 4 GB, far bigger than any app. Stopped."_s;
    return std::nullopt;
}

struct ReplyLater {
    void operator()(QNetworkReply* reply) const
    {
        // The reply may still be inside its own signal when the task ends.
        reply->disconnect();
        reply->abort();
        reply->deleteLater();
    }
};

} // namespace

QString Updater::suggestedFileName(const QByteArray& contentDisposition, const QUrl& url)
{
    if (const auto extended = dispositionParameter(contentDisposition, "filename*")) {
        if (const auto text = extendedValue(*extended)) {
            if (auto name = plainName(*text))
                return *name;
        }
    }
    if (const auto value = dispositionParameter(contentDisposition, "filename")) {
        if (auto name = plainName(QString::fromUtf8(*value)))
            return *name;
    }
    if (auto name = plainName(url.fileName(QUrl::FullyDecoded)))
        return *name;
    return u"download"_s;
}

QString Updater::makeWorkFolder()
{
    const QString path
        = QDir::tempPath() + u"/corvanta-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    // Private: what is downloaded and unpacked is nobody else's to read or swap.
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0)
        throw SystemError::fromErrno(u"Can't create the folder "_s + path);
    return path;
}

QCoro::Task<Downloaded> Updater::download(QNetworkAccessManager& session, QUrl url,
    std::optional<qint64> expected, QString into, ProgressCallback progress)
{
    const QString scheme = url.scheme().toLower();
    if (scheme != u"https"_s && scheme != u"http"_s)
        throw UpdateError(u"The download link isn't a web address."_s);
    if (expected && *expected < 1)
        expected.reset();

    auto watch = std::make_shared<Watch>();
    const QString partial = into + u"/.download-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces);
    watch->file.setFileName(partial);
    if (!watch->file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        throw SystemError(
            u"Can't create %1: %2"_s.arg(partial, watch->file.errorString()), errno != 0 ? errno : EIO);
    // Nothing of a transfer that didn't finish stays in the work folder.
    struct Discard {
        std::shared_ptr<Watch> watch;
        QString path;
        bool keep = false;
        ~Discard()
        {
            watch->file.close();
            if (!keep)
                QFile::remove(path);
        }
    } discard { watch, partial };
    if (!watch->file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        throw SystemError(u"Can't make %1 private: %2"_s.arg(partial, watch->file.errorString()), EIO);
    if (!watch->digest || EVP_DigestInit_ex(watch->digest.get(), EVP_sha256(), nullptr) != 1)
        throw SystemError(u"SHA-256 is not available."_s, ENOSYS);

    QNetworkRequest request(url);
    request.setTransferTimeout(Net::requestTimeoutMs);
    // The stated size and the checksum are those of the file itself; a
    // transfer encoding Qt would undo silently would make the announced
    // length a different number.
    request.setRawHeader("Accept-Encoding", "identity");
    std::unique_ptr<QNetworkReply, ReplyLater> reply(session.get(request));
    // Bounded buffering: a slow disk slows the socket instead of growing memory.
    reply->setReadBufferSize(256 * 1024);

    QNetworkReply* raw = reply.get();
    // The first refusal stops the transfer; Qt's abort is immediate and once is enough.
    auto stop = [watch, raw](const QString& text) {
        if (watch->abort)
            return;
        watch->abort = text;
        raw->abort();
    };
    // Headers arrive before the body: a length that can't be right stops
    // the transfer before a byte of it is stored.
    QObject::connect(raw, &QNetworkReply::metaDataChanged, raw, [watch, raw, expected, stop] {
        if (isRedirect(raw) || watch->abort)
            return;
        // An error page's length says nothing about the file: the status is the news.
        if (failedStatus(raw))
            return;
        if (const auto text = refusal(announcedLength(raw), watch->received, expected))
            stop(*text);
    });
    // Stores what has arrived; past the cap nothing more is stored.
    auto consume = [watch, raw, stop] {
        if (!raw->isOpen())
            return;
        const QByteArray chunk = raw->readAll();
        if (chunk.isEmpty() || watch->abort || isRedirect(raw))
            return;
        // An error page is read to its end and dropped, unless it never ends.
        if (const auto status = failedStatus(raw)) {
            watch->received += chunk.size();
            if (watch->received > maxErrorPageSize)
                stop(u"Download failed: HTTP %1."_s.arg(*status));
            return;
        }
        if (watch->received + chunk.size() > maxDownloadSize) {
            stop(u"The download is larger than 4 GB, far bigger than any app. Stopped."_s);
            return;
        }
        watch->received += chunk.size();
        if (watch->file.write(chunk) != chunk.size()) {
            stop(u"Download failed: "_s + watch->file.errorString());
            return;
        }
        EVP_DigestUpdate(watch->digest.get(), chunk.constData(), std::size_t(chunk.size()));
    };
    QObject::connect(raw, &QNetworkReply::readyRead, raw, consume);
    QObject::connect(raw, &QNetworkReply::downloadProgress, raw,
        [watch, raw, expected, stop, progress](qint64 received, qint64 total) {
            if (isRedirect(raw))
                return;
            if (watch->abort || failedStatus(raw))
                return;
            const double fraction = total > 0 ? std::clamp(double(received) / double(total), 0.0, 1.0) : 0.0;
            // Every thousandth is plenty for a progress bar, and spares the
            // caller a call per network packet.
            if (progress
                && (fraction - watch->reported >= 0.001 || (fraction == 1.0 && watch->reported < 1.0))) {
                watch->reported = fraction;
                progress(fraction);
            }
            // The announcement is the header: at the end of a body without
            // one, Qt reports what arrived as the total.
            if (const auto text
                = refusal(announcedLength(raw), std::max(received, watch->received), expected))
                stop(*text);
        });

    co_await reply.get();
    // The last bytes may still sit in the reply's buffer.
    consume();

    if (watch->abort)
        throw UpdateError(*watch->abort);
    const QVariant statusValue = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusValue.isValid() ? statusValue.toInt() : 0;
    const bool refusedRedirect = status >= 300 && status <= 399 && raw->error() != QNetworkReply::NoError;
    if (statusValue.isValid() && (status < 200 || status > 299) && !refusedRedirect)
        throw UpdateError(u"Download failed: HTTP %1."_s.arg(status));
    if (raw->error() != QNetworkReply::NoError)
        throw UpdateError(u"Download failed: "_s + raw->errorString());
    if (!statusValue.isValid())
        throw UpdateError(u"Download failed."_s);
    // Qt sometimes ends a body cut short by the server without an error.
    if (const qint64 announced = announcedLength(raw); announced >= 0 && watch->received != announced) {
        throw UpdateError(u"Download failed: the connection closed after %1 of %2 bytes."_s.arg(
            QString::number(watch->received), QString::number(announced)));
    }

    if (!watch->file.flush())
        throw SystemError(
            u"Can't write %1: %2"_s.arg(partial, watch->file.errorString()), errno != 0 ? errno : EIO);
    watch->file.close();
    const QString digest = hexDigest(watch->digest.get());
    const QString name = suggestedFileName(raw->rawHeader("Content-Disposition"), raw->url());
    const QString saved = into + u'/' + name;
    if (std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(saved).constData()) != 0)
        throw SystemError::fromErrno(u"Can't move the download to %1"_s.arg(saved));
    discard.keep = true;
    co_return Downloaded { saved, announcedLength(raw), digest };
}

QCoro::Task<Downloaded> Updater::downloadInto(
    QString folder, Download download, std::function<void(const InstallPhase&)> report) const
{
    report(InstallPhase::downloading(0));
    std::optional<qint64> expected;
    if (download.size && *download.size >= 1)
        expected = qint64(*download.size);
    auto transfer = Updater::download(m_services.net.session(), download.url, expected, folder,
        [report](double fraction) { report(InstallPhase::downloading(fraction)); });
    co_return co_await std::move(transfer);
}

} // namespace corvanta
