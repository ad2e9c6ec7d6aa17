#include "base/Clock.h"

qint64 Clock::s_offsetMs = 0;

QDateTime Clock::Now()
{
    return QDateTime::currentDateTime().addMSecs(s_offsetMs);
}

QString Clock::NowText()
{
    return Now().toString(Qt::TextDate);
}

QDateTime Clock::FromText(const QString& text)
{
    return QDateTime::fromString(text, Qt::TextDate);
}

qint64 Clock::AgeMs(const QDateTime& then)
{
    if (!then.isValid())
        return 0;
    return then.msecsTo(Now());
}

void Clock::SetOffsetForTesting(qint64 offsetMs)
{
    s_offsetMs = offsetMs;
}

qint64 Clock::OffsetForTesting()
{
    return s_offsetMs;
}
