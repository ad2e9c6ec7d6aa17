#pragma once

#include <QString>

#include "store/ItemPtr.h"

class LogSink;

// Appends one line to the diagnostics log. Level 1 is an event, 2 a detail of
// the event logged just before it, 3 a detail of that detail. Never throws.
void Log(const QString& category, int level, const QString& text, ItemPtr item = ItemPtr());

// Installs the receiver of log lines (null removes it). Without a receiver
// lines are dropped before they are even formatted.
void SetLogSink(LogSink* sink);
