#include "diskimage/VolumeListing.h"

#include "platform/DiskImages.h"
#include "platform/UnpackLimits.h"

#include <algorithm>
#include <cctype>

#include <QHash>
#include <QList>
#include <QRegularExpression>
#include <QSet>

using namespace Qt::StringLiterals;

namespace corvanta::udif {

namespace {

using Kind = ListedEntry::Kind;

QString shown(const QByteArray& path)
{
    return QString::fromUtf8(path);
}

[[noreturn]] void unreadable()
{
    throw DiskImageError(
        u"The disk image's volume lists its files in a way Corvanta can't read. Refusing to open it."_s);
}

bool isKey(QByteArrayView key)
{
    if (key.isEmpty() || !std::isalpha(static_cast<unsigned char>(key.front())))
        return false;
    return std::all_of(key.begin(), key.end(),
        [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == ' '; });
}

// Relative, and nothing 7-Zip or the file system would read as anything else.
bool isSafePath(const QByteArray& path)
{
    if (path.isEmpty() || path.contains('\0'))
        return false;
    for (const QByteArray& component : path.split('/')) {
        if (component.isEmpty() || component == "." || component == "..")
            return false;
    }
    return true;
}

// Settles the entry's kind once all its lines are in; a contradiction makes
// it unreadable, since 7-Zip might extract it as either.
void settle(ListedEntry& entry, std::optional<bool> folderFlag, QByteArrayView modeType)
{
    if (!modeType.isEmpty()) {
        switch (modeType.front()) {
        case '-':
            entry.kind = Kind::file;
            break;
        case 'd':
            entry.kind = Kind::folder;
            break;
        case 'l':
            entry.kind = Kind::link;
            break;
        case 'p':
        case 'c':
        case 'b':
        case 's':
            entry.kind = Kind::special;
            break;
        default:
            entry.readable = false;
        }
        if (folderFlag && *folderFlag != (entry.kind == Kind::folder))
            entry.readable = false;
    } else if (folderFlag) {
        entry.kind = *folderFlag ? Kind::folder : Kind::file;
    }
    if (entry.kind != Kind::link && !entry.linkTarget.isEmpty())
        entry.readable = false;
    if (entry.path.contains('\0') || entry.linkTarget.contains('\0'))
        entry.readable = false;
}

int depthOf(const QByteArray& path)
{
    return int(path.count('/')) + 1;
}

} // namespace

std::optional<unsigned> parseModeText(const QByteArray& text)
{
    if (text.size() != 10)
        return std::nullopt;
    unsigned mode = 0;
    for (int i = 0; i < 9; ++i) {
        const char c = text[1 + i];
        const unsigned bit = 1u << (8 - i);
        const int column = i % 3; // read, write, execute
        if (c == '-')
            continue;
        if (column == 0 && c == 'r')
            mode |= bit;
        else if (column == 1 && c == 'w')
            mode |= bit;
        else if (column == 2 && (c == 'x' || c == 's' || c == 't'))
            mode |= bit;
        else if (column == 2 && (c == 'S' || c == 'T'))
            ; // the special bit without execute
        else
            return std::nullopt;
        if (column == 2 && (c == 's' || c == 'S'))
            mode |= i == 2 ? 04000u : 02000u;
        if (column == 2 && (c == 't' || c == 'T'))
            mode |= 01000u;
    }
    return mode;
}

std::optional<VolumeListing> parseListing(const QByteArray& output)
{
    VolumeListing listing;
    bool inItems = false;
    ListedEntry* entry = nullptr;
    std::optional<bool> folderFlag;
    QByteArray modeType;
    std::vector<QByteArray> keys; // of the current item: a repeated key means a forged line
    const auto finish = [&] {
        if (entry)
            settle(*entry, folderFlag, modeType);
        entry = nullptr;
        folderFlag.reset();
        modeType.clear();
        keys.clear();
    };

    QList<QByteArray> lines = output.split('\n');
    while (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    // 7-Zip closes with a count of warnings, such as data after the end of the
    // volume. Only the last line may be one: a name can't forge it there,
    // since the rest of its item follows the name.
    static const QRegularExpression summary(u"^(Warnings|Errors): \\d+$"_s);
    if (!lines.isEmpty() && summary.match(QString::fromLatin1(lines.back())).hasMatch())
        lines.removeLast();
    for (const QByteArray& line : lines) {
        if (!inItems) {
            if (line == "----------")
                inItems = true;
            else if (line.startsWith("Type = "))
                listing.type = QString::fromUtf8(line.mid(7)); // the innermost archive comes last
            continue;
        }
        // Items are blocks of "Key = Value" lines between empty lines, each
        // opened by its path. Names may hold line breaks, so anything else
        // is a name trying to pass for lines of its own.
        if (line.isEmpty()) {
            finish();
            continue;
        }
        const qsizetype separator = line.indexOf(" = ");
        const QByteArray key = separator < 0 ? QByteArray() : line.left(separator);
        const QByteArray value = separator < 0 ? QByteArray() : line.mid(separator + 3);
        if (!isKey(key)) {
            listing.readable = false;
            if (entry)
                entry->readable = false;
            continue;
        }
        if (!entry) {
            if (key != "Path") {
                listing.readable = false;
                continue;
            }
            listing.entries.push_back(ListedEntry { value });
            entry = &listing.entries.back();
            keys.push_back(key);
            continue;
        }
        if (std::find(keys.begin(), keys.end(), key) != keys.end()) {
            entry->readable = false;
            continue;
        }
        keys.push_back(key);
        if (key == "Folder") {
            if (value == "+" || value == "-")
                folderFlag = value == "+";
            else
                entry->readable = false;
        } else if (key == "Mode" && !value.isEmpty()) {
            modeType = value.left(1);
            entry->permissions = parseModeText(value);
            if (!entry->permissions)
                entry->readable = false;
        } else if (key == "Size" && !value.isEmpty()) {
            bool ok = false;
            entry->size = value.toLongLong(&ok);
            if (!ok || entry->size < 0)
                entry->readable = false;
        } else if (key == "Symbolic Link") {
            entry->linkTarget = value;
        } else if (key == "Hard Link") {
            entry->hardLink = value;
        } else if (key == "Alternate Stream" && value == "+") {
            entry->readable = false; // streams were asked to stay out of the listing
        }
    }
    finish();
    if (listing.type.isEmpty())
        return std::nullopt;
    return listing;
}

ListingTotals validateListing(const VolumeListing& listing, UnpackBudget& budget)
{
    if (!listing.readable)
        unreadable();
    QHash<QByteArray, Kind> kinds;
    kinds.reserve(qsizetype(listing.entries.size()));
    for (const ListedEntry& entry : listing.entries) {
        if (!entry.readable || entry.kind == Kind::unknown || (entry.kind == Kind::file && entry.size < 0))
            unreadable();
        if (!isSafePath(entry.path))
            throw DiskImageError(
                u"The disk image lists a file at an unsafe path (\"%1\"). Refusing to open it."_s.arg(
                    shown(entry.path)));
        if (entry.kind == Kind::special)
            throw DiskImageError(
                u"The disk image holds \"%1\", a device, pipe or socket, which no app needs. Refusing to open it."_s
                    .arg(shown(entry.path)));
        if (kinds.contains(entry.path))
            throw DiskImageError(
                u"The disk image lists \"%1\" twice. Refusing to open it."_s.arg(shown(entry.path)));
        kinds.insert(entry.path, entry.kind);
    }

    ListingTotals totals;
    QSet<QByteArray> implicitFolders; // created by 7-Zip for entries whose folders aren't listed
    for (const ListedEntry& entry : listing.entries) {
        for (qsizetype slash = entry.path.indexOf('/'); slash >= 0;
             slash = entry.path.indexOf('/', slash + 1)) {
            const QByteArray folder = entry.path.left(slash);
            const auto it = kinds.constFind(folder);
            if (it == kinds.cend()) {
                if (!implicitFolders.contains(folder)) {
                    implicitFolders.insert(folder);
                    budget.add(depthOf(folder), 0);
                }
            } else if (*it != Kind::folder) {
                throw DiskImageError(
                    u"The disk image lists \"%1\" inside \"%2\", which isn't a folder. Refusing to open it."_s
                        .arg(shown(entry.path), shown(folder)));
            }
        }
        if (!entry.hardLink.isEmpty()
            && (!isSafePath(entry.hardLink) || entry.hardLink == entry.path
                || kinds.value(entry.hardLink, Kind::unknown) != Kind::file))
            throw DiskImageError(
                u"The disk image holds \"%1\", a hard link to \"%2\", which isn't a file of its volume. Refusing to open it."_s
                    .arg(shown(entry.path), shown(entry.hardLink)));
        const qint64 bytes = std::max<qint64>(entry.size, 0); // a link's size is its text's
        budget.add(depthOf(entry.path), entry.kind == Kind::folder ? 0 : bytes);
        if (entry.kind == Kind::file) {
            totals.fileBytes += bytes;
            totals.largestFile = std::max(totals.largestFile, bytes);
        }
    }
    return totals;
}

QByteArray wrapperFolder(const VolumeListing& listing)
{
    if (listing.type.compare(u"HFS"_s, Qt::CaseInsensitive) != 0 || listing.entries.empty())
        return {};
    const QByteArray first = listing.entries.front().path.split('/').front();
    bool listed = false;
    for (const ListedEntry& entry : listing.entries) {
        if (entry.path == first)
            listed = entry.kind == Kind::folder;
        else if (!entry.path.startsWith(QByteArray(first + '/')))
            return {};
    }
    return listed ? first : QByteArray();
}

} // namespace corvanta::udif
