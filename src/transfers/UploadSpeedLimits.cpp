#include "transfers/UploadSpeedLimits.h"

#include <QMutexLocker>

void UploadSpeedLimits::Set(int total, int perUpload)
{
    QMutexLocker locker(&m_mutex);
    m_total = total;
    m_perUpload = perUpload;
    m_pool = 0;
}

int UploadSpeedLimits::Total() const
{
    QMutexLocker locker(&m_mutex);
    return m_total;
}

int UploadSpeedLimits::PerUpload() const
{
    QMutexLocker locker(&m_mutex);
    return m_perUpload;
}

qint64 UploadSpeedLimits::PayFromPool(qint64 owed)
{
    QMutexLocker locker(&m_mutex);
    if (owed < m_pool) {
        m_pool -= owed;
        return 0;
    }
    owed -= m_pool;
    m_pool = 0;
    return owed;
}

void UploadSpeedLimits::AddToPool(qint64 allowance)
{
    if (allowance <= 0)
        return;
    QMutexLocker locker(&m_mutex);
    m_pool += allowance;
}

qint64 UploadSpeedLimits::Pool() const
{
    QMutexLocker locker(&m_mutex);
    return m_pool;
}
