#pragma once

#include <string>
#include <vector>

#include <QColor>
#include <QString>

// The texts and colours the transfer lists show, kept apart from the widgets
// so that every list (and every test) spells them the same way.
namespace TransferDisplay {

// What a collapsed user or folder row shows for the statuses below it;
// `running` is "downloading" or "uploading".
QString AggregateStatus(const std::vector<std::string>& statuses, const char* running);

// "   1h:2m:5s": hours past 3599 s, minutes past 59 s, after three spaces.
// No speed means no estimate: 0 s.
QString TimeLeftText(qint64 remainingBytes, qint64 bytesPerSecond);

// "1,024 (50.0%)"
QString ProgressText(qint64 done, qint64 total);
int ProgressPercent(qint64 done, qint64 total);

// Kilobytes per second with one decimal.
QString SpeedText(qint64 bytesPerSecond);

// One colour per group of statuses: complete, running, queued, failed;
// invalid for every other status (the list's own colour).
QColor StatusColour(const QString& status);

} // namespace TransferDisplay
