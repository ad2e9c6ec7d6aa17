#pragma once

#include <QDateTime>
#include <QString>

// The local date and time every age and timestamp of the program is measured
// against. Tests move it forward instead of waiting: expiry passes compare
// stored times with Now(), so an offset makes minutes pass in an instant.
class Clock
{
public:
    Clock() = delete;

    static QDateTime Now();
    // Now() as the store keeps times: the plain text date format, one-second
    // resolution, local time.
    static QString NowText();
    // A stored time read back; invalid when the text is not one.
    static QDateTime FromText(const QString& text);
    // Milliseconds from a stored time to now; negative for a time still ahead.
    static qint64 AgeMs(const QDateTime& then);

    // Shifts Now() by the given milliseconds from the real time. Tests only.
    static void SetOffsetForTesting(qint64 offsetMs);
    static qint64 OffsetForTesting();

private:
    static qint64 s_offsetMs;
};
