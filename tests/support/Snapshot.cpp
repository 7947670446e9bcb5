#include "support/Snapshot.h"

using namespace Qt::StringLiterals;

namespace corvanta::test {

Snapshot under(const QString& prefix, const Snapshot& inner)
{
    Snapshot items;
    for (auto it = inner.begin(); it != inner.end(); ++it)
        items.insert(it.key().isEmpty() ? prefix : prefix + u'/' + it.key(), it.value());
    return items;
}

QString difference(const Snapshot& expected, const Snapshot& actual)
{
    QString text;
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        if (it.key().isEmpty())
            continue;
        if (!actual.contains(it.key()))
            text += u"missing: "_s + it.key() + u" ("_s + it.value() + u")\n"_s;
        else if (actual.value(it.key()) != it.value())
            text += u"changed: "_s + it.key() + u" ("_s + it.value() + u" became "_s + actual.value(it.key())
                + u")\n"_s;
    }
    for (auto it = actual.begin(); it != actual.end(); ++it) {
        if (!it.key().isEmpty() && !expected.contains(it.key()))
            text += u"unexpected: "_s + it.key() + u" ("_s + it.value() + u")\n"_s;
    }
    return text;
}

} // namespace corvanta::test
