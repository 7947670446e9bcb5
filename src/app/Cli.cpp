#include "app/Cli.h"

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {
    const auto usageText = uR"(Usage: corvanta [COMMAND] [OPTIONS]

Commands:
  inspect version A [B] [--json]   How A parses, and whether B is newer than A
)"_s;
} // namespace

QCoro::Task<int> Cli::run(QStringList arguments)
{
    if (arguments.isEmpty())
        co_return usage({});
    const QString command = arguments.takeFirst();
    if (command == u"inspect")
        co_return inspect(arguments);
    if (command == u"help" || command == u"--help" || command == u"-h") {
        m_out << usageText;
        co_return 0;
    }
    co_return usage(u"Unknown command \u201c%1\u201d."_s.arg(command));
}

int Cli::usage(const QString& problem)
{
    if (!problem.isEmpty())
        m_err << problem << "\n\n";
    m_err << usageText;
    m_err.flush();
    return usageError;
}

int Cli::inspect(const QStringList& arguments)
{
    QStringList rest = arguments;
    const bool json = rest.removeAll(u"--json"_s) > 0;
    if (rest.isEmpty())
        return usage(u"inspect needs a subject."_s);
    const QString subject = rest.takeFirst();
    if (subject == u"version")
        return inspectVersion(rest, json);
    return usage(u"Unknown subject \u201c%1\u201d for inspect."_s.arg(subject));
}

} // namespace corvanta
