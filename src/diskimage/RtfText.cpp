#include "diskimage/RtfText.h"

#include <cctype>
#include <vector>

#include <QSet>

namespace corvanta::udif {

namespace {

// Groups whose content is not text to show.
const QSet<QByteArray>& skippedDestinations()
{
    static const QSet<QByteArray> names { "fonttbl", "colortbl", "stylesheet", "info", "pict", "header",
        "footer", "headerl", "headerr", "footerl", "footerr", "listtable", "listoverridetable", "rsidtbl",
        "generator", "xmlnstbl", "themedata", "colorschememapping", "latentstyles", "datastore", "object",
        "fldinst", "expandedcolortbl" };
    return names;
}

// The Windows-1252 characters that differ from Latin-1, for \'hh escapes.
QChar ansiChar(int byte)
{
    static constexpr char16_t high[32] = { 0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C,
        0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178 };
    return byte >= 0x80 && byte < 0xA0 ? QChar(high[byte - 0x80]) : QChar(byte);
}

struct GroupState {
    bool skip = false;
    int unicodeSkip = 1;
};

} // namespace

QString rtfToText(const QByteArray& rtf)
{
    QString text;
    std::vector<GroupState> stack { GroupState {} };
    int pendingSkip = 0; // fallback characters still to drop after a \u
    const qsizetype size = rtf.size();
    qsizetype i = 0;
    const auto put = [&](QChar c) {
        if (pendingSkip > 0) {
            --pendingSkip;
            return;
        }
        if (!stack.back().skip)
            text.append(c);
    };
    while (i < size) {
        const char c = rtf[i];
        if (c == '{') {
            stack.push_back(stack.back());
            ++i;
            continue;
        }
        if (c == '}') {
            if (stack.size() > 1)
                stack.pop_back();
            pendingSkip = 0;
            ++i;
            continue;
        }
        if (c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        if (c != '\\') {
            put(QChar::fromLatin1(c));
            ++i;
            continue;
        }
        // A control symbol or word.
        ++i;
        if (i >= size)
            break;
        const char next = rtf[i];
        if (next == '\\' || next == '{' || next == '}') {
            put(QChar::fromLatin1(next));
            ++i;
            continue;
        }
        if (next == '\'') {
            const bool ok = i + 2 < size;
            const int byte = ok ? rtf.mid(i + 1, 2).toInt(nullptr, 16) : 0;
            put(ansiChar(byte));
            i += 3;
            continue;
        }
        if (next == '*') {
            stack.back().skip = true;
            ++i;
            continue;
        }
        if (next == '~') {
            put(QChar(0x00A0));
            ++i;
            continue;
        }
        if (next == '_') {
            put(QChar(0x2011));
            ++i;
            continue;
        }
        if (next == '\r' || next == '\n') {
            put(QChar(u'\n'));
            ++i;
            continue;
        }
        if (!std::isalpha(static_cast<unsigned char>(next))) {
            ++i; // \- and other symbols carry no text
            continue;
        }
        const qsizetype wordStart = i;
        while (i < size && std::isalpha(static_cast<unsigned char>(rtf[i])))
            ++i;
        const QByteArray word = rtf.mid(wordStart, i - wordStart);
        const qsizetype numberStart = i;
        if (i < size && rtf[i] == '-')
            ++i;
        while (i < size && std::isdigit(static_cast<unsigned char>(rtf[i])))
            ++i;
        const bool hasNumber = i > numberStart && !(i == numberStart + 1 && rtf[numberStart] == '-');
        const int number = hasNumber ? rtf.mid(numberStart, i - numberStart).toInt() : 0;
        if (i < size && rtf[i] == ' ')
            ++i;

        if (skippedDestinations().contains(word)) {
            stack.back().skip = true;
        } else if (word == "par" || word == "line" || word == "sect" || word == "page") {
            put(QChar(u'\n'));
        } else if (word == "tab") {
            put(QChar(u'\t'));
        } else if (word == "uc") {
            stack.back().unicodeSkip = number;
        } else if (word == "u") {
            put(QChar(char16_t(number < 0 ? number + 65536 : number)));
            pendingSkip = stack.back().unicodeSkip;
        } else if (word == "emdash") {
            put(QChar(0x2014));
        } else if (word == "endash") {
            put(QChar(0x2013));
        } else if (word == "lquote") {
            put(QChar(0x2018));
        } else if (word == "rquote") {
            put(QChar(0x2019));
        } else if (word == "ldblquote") {
            put(QChar(0x201C));
        } else if (word == "rdblquote") {
            put(QChar(0x201D));
        } else if (word == "bullet") {
            put(QChar(0x2022));
        }
    }
    return text;
}

} // namespace corvanta::udif
