#include "LabLog.h"

#include <cstdio>

namespace {
bool verboseEnabled = false;

void PrintLine(const QString& line)
{
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    std::fflush(stderr);
}
} // namespace

void LabLog::SetVerbose(bool verbose)
{
    verboseEnabled = verbose;
}

bool LabLog::IsVerbose()
{
    return verboseEnabled;
}

void LabLog::Frame(const QString& client, const char* direction, std::uint32_t code, int length)
{
    if (verboseEnabled)
        PrintLine(QStringLiteral("%1\t%2\tcode %3\tlength %4")
                      .arg(client, QLatin1String(direction))
                      .arg(code)
                      .arg(length));
}

void LabLog::Note(const QString& client, const QString& text)
{
    if (verboseEnabled)
        PrintLine(client + QLatin1Char('\t') + text);
}

void LabLog::Error(const QString& text)
{
    PrintLine(text);
}
