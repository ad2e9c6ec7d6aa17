#pragma once

#include <QMutex>
#include <QtGlobal>

// The upload speed limit as the transfer manager computes it and the upload
// threads read it: the total limit, the share of one upload (0 = unlimited)
// and the allowance pool through which uploads lend each other what they did
// not use. One mutex guards all three; every operation takes it for a few
// instructions only, never while a thread sleeps or does I/O.
class UploadSpeedLimits
{
public:
    // New limits empty the pool: credit earned under the old share would
    // otherwise let the uploads burst past the new one.
    void Set(int total, int perUpload);
    int Total() const;
    int PerUpload() const;

    // Pays as much of owed as the pool holds; returns what is still owed.
    qint64 PayFromPool(qint64 owed);
    // Credits bytes an upload was allowed but did not send.
    void AddToPool(qint64 allowance);
    qint64 Pool() const;

private:
    mutable QMutex m_mutex;
    qint64 m_pool = 0;
    int m_total = 0;
    int m_perUpload = 0;
};
