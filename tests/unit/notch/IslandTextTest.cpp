#include "notch/IslandState.h"

#include <gtest/gtest.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

QList<IslandRow> rows(const QList<InstallPhase>& phases)
{
    QList<IslandRow> result;
    for (const InstallPhase& phase : phases) {
        IslandRow row;
        row.id = u"/Applications/App%1.app"_s.arg(result.size());
        row.phase = phase;
        result << row;
    }
    return result;
}

QList<IslandRow> idle(int count)
{
    return rows(QList<InstallPhase>(count, InstallPhase::idle()));
}

struct TextRow {
    const char* name;
    QList<IslandRow> rows;
    QString title;
    QString subtitle;
};

TEST(IslandText, TitlesAndSubtitles)
{
    using P = InstallPhase;
    const QString found = u"Found in the background. Update now, or later from Corvanta."_s;
    const QString failed = u"Failed updates left the app untouched. Open Corvanta to see why."_s;
    const QString allDone = u"Everything's on its newest version."_s;
    const std::vector<TextRow> table {
        { "one", idle(1), u"1 update ready"_s, found },
        { "five", idle(5), u"5 updates ready"_s, found },
        { "six scroll", idle(6), u"6 updates ready"_s, u"Found in the background. Scroll to see all 6."_s },
        { "seven scroll", idle(7), u"7 updates ready"_s, u"Found in the background. Scroll to see all 7."_s },
        { "all queued", rows({ P::queued(), P::queued(), P::queued() }), u"3 left"_s, found },
        { "one running", rows({ P::done(), P::downloading(0.5), P::queued() }), u"1 updated \u00B7 2 left"_s,
            found },
        { "one failure among three", rows({ P::done(), P::failed(u"No."_s), P::done() }),
            u"2 updated \u00B7 1 failed"_s, failed },
        { "all updated", rows({ P::done(), P::done() }), u"2 updated"_s, allDone },
        { "every part", rows({ P::done(), P::failed(u"No."_s), P::installing() }),
            u"1 updated \u00B7 1 failed \u00B7 1 left"_s, found },
        { "one the run didn't reach", rows({ P::done(), P::idle() }), u"1 updated \u00B7 1 left"_s, found },
        { "blocked for permission", rows({ P::blocked(), P::done() }), u"1 updated \u00B7 1 left"_s, found },
    };
    for (const TextRow& row : table) {
        EXPECT_EQ(IslandState::title(row.rows), row.title) << row.name;
        EXPECT_EQ(IslandState::subtitle(row.rows, false), row.subtitle) << row.name;
        EXPECT_EQ(IslandState::subtitle(row.rows, true),
            u"Tour preview: this is how updates arrive. The buttons work for real ones."_s)
            << row.name;
    }
}

} // namespace
