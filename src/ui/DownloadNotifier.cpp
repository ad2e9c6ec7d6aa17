#include "ui/DownloadNotifier.h"

#include <QTimer>

DownloadNotifier::DownloadNotifier(QObject* parent) : QObject(parent), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setInterval(GatherMs);
    connect(m_timer, &QTimer::timeout, this, &DownloadNotifier::Flush);
}

void DownloadNotifier::Add(const QString& path, const QString& name)
{
    if (!m_announced.insert(path).second)
        return;
    m_pending << name;
    if (!m_timer->isActive())
        m_timer->start();
}

void DownloadNotifier::Flush()
{
    m_timer->stop();
    if (m_pending.isEmpty())
        return;
    const QString title = m_pending.size() == 1
                              ? QString("Download complete")
                              : QString("%1 downloads complete").arg(m_pending.size());
    QString text = m_pending.mid(0, ListedNames).join(", ");
    if (m_pending.size() > ListedNames)
        text += QString(" and %1 more").arg(m_pending.size() - ListedNames);
    m_pending.clear();
    emit Notify(title, text);
}
