#pragma once

#include <QStringList>

// Writes one event per line on standard output, fields separated by a single
// tab, flushed at once so a driving program sees each event as it happens.
// Tabs and line breaks inside a field become spaces: they would split it.
namespace NodeOutput {
void Print(const QStringList& fields);
} // namespace NodeOutput
