#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <variant>

#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <QUrl>
#include <QUuid>

namespace corvanta {

// The five update sources, in the order they are asked.
enum class SourceKind { appStore, sparkle, homebrew, github, electron };

inline constexpr std::array<SourceKind, 5> allSourceKinds { SourceKind::appStore, SourceKind::sparkle,
    SourceKind::homebrew, SourceKind::github, SourceKind::electron };

// The label shown everywhere: "Mac App Store", "Sparkle", "Homebrew cask", …
QString label(SourceKind kind);
std::optional<SourceKind> sourceKindFromLabel(QStringView label);
// True for the sources whose releases the installer may install.
bool canInstall(SourceKind kind);

// What to fetch for an update.
struct Download {
    QUrl url;
    std::optional<std::int64_t> size;
    std::optional<QString> sha256; // hexadecimal
    std::optional<QString> edSignature; // Base64
    std::optional<QString> package; // installer package to run from the download

    friend bool operator==(const Download&, const Download&) = default;
};

// The newest release one source found.
struct Release {
    SourceKind kind = SourceKind::sparkle;
    std::optional<QString> version;
    std::optional<QString> build;
    std::optional<QString> notes;
    std::optional<QUrl> notesURL;
    std::optional<Download> download;
    std::optional<QUrl> storeURL;
    std::optional<QString> ref; // appcast URL, cask token, or owner/repo

    // version, else build, else "?"
    QString label() const;

    friend bool operator==(const Release&, const Release&) = default;
};

// One source's try for one app.
struct Attempt {
    struct Fail {
        QString text;
        friend bool operator==(const Fail&, const Fail&) = default;
    };
    struct Skipped {
        QString text;
        friend bool operator==(const Skipped&, const Skipped&) = default;
    };
    struct Pass {
        friend bool operator==(const Pass&, const Pass&) = default;
    };
    using Outcome = std::variant<Fail, Skipped, Pass>;

    QUuid id = QUuid::createUuid();
    SourceKind kind = SourceKind::appStore;
    std::optional<QString> url;
    std::optional<QString> found;
    Outcome outcome = Pass {};

    // "pass", "fail" or "skipped".
    QString outcomeName() const;
    // What failed or why the source was skipped; none for a pass.
    std::optional<QString> outcomeText() const;
};

// The machine-readable forms the command line prints.
QJsonObject toJson(const Release& release);
QJsonObject toJson(const Attempt& attempt);

} // namespace corvanta

Q_DECLARE_METATYPE(corvanta::Release)
