#pragma once

#include <QStringList>

#include "base/Log.h"
#include "base/LogSink.h"

// Collects the text of the "Port Forwarding" log lines while it lives;
// lines of other categories are left out, so a line logged under the wrong
// one goes missing.
class PortForwardingLog : public LogSink
{
public:
    PortForwardingLog() { SetLogSink(this); }
    ~PortForwardingLog() override { SetLogSink(nullptr); }
    PortForwardingLog(const PortForwardingLog&) = delete;
    PortForwardingLog& operator=(const PortForwardingLog&) = delete;

    void Append(const QString& category, const QString& line, ItemPtr) override
    {
        if (category == QLatin1String("Port Forwarding"))
            lines << line.section("] ", 1);
    }

    QStringList lines;
};
