#pragma once

#include <QString>

#include "store/ItemPtr.h"

// Receives every finished log line. The window layer installs its
// diagnostics view here; the core never knows how lines are shown.
class LogSink
{
public:
    virtual ~LogSink() = default;

    // `item` is the store item the line is about, possibly null.
    virtual void Append(const QString& category, const QString& line, ItemPtr item) = 0;
};
