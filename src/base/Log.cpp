#include "Log.h"

#include <QDateTime>

#include "LogSink.h"

namespace {

LogSink* g_logSink = nullptr;

QString FormatLine(int level, const QString& text)
{
    const int indentLevels = level > 1 ? level - 1 : 0;
    return QLatin1Char('[') + QDateTime::currentDateTime().toString() + QLatin1String("] ") +
           QString(indentLevels * 3, QLatin1Char(' ')) + text;
}

} // namespace

void Log(const QString& category, int level, const QString& text, ItemPtr item)
{
    if (!g_logSink)
        return;
    // Logging happens inside network handlers and store events; a failing
    // view must never unwind through them.
    try {
        g_logSink->Append(category, FormatLine(level, text), item);
    } catch (...) {
    }
}

void SetLogSink(LogSink* sink)
{
    g_logSink = sink;
}
