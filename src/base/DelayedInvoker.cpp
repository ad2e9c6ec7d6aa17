#include "DelayedInvoker.h"

#include <vector>

#include <QTimer>

DelayedInvoker* delayedInvoker = nullptr;

DelayedInvoker::DelayedInvoker()
{
    delayedInvoker = this;
}

DelayedInvoker::~DelayedInvoker()
{
    if (delayedInvoker == this)
        delayedInvoker = nullptr;
}

void DelayedInvoker::Invoke(QObject* target, const QString& slot, int delay)
{
    if (!target)
        return;
    const Request request(target, slot);
    if (m_pending.count(request))
        return;

    auto* timer = new QTimer(this);
    // OnTimeout must run before the target's slot so that the bookkeeping is
    // already gone when the target asks for itself again.
    connect(timer, &QTimer::timeout, this, &DelayedInvoker::OnTimeout);
    connect(timer, SIGNAL(timeout()), target, slot.toLatin1().constData());
    // A pending entry must not outlive its target: a new object at the same
    // address would otherwise find its requests swallowed.
    connect(target, &QObject::destroyed, this, &DelayedInvoker::OnTargetDestroyed,
            Qt::UniqueConnection);
    timer->setInterval(delay);
    timer->setSingleShot(true);
    m_pending[request] = timer;
    m_reverse[timer] = request;
    timer->start();
}

void DelayedInvoker::OnTimeout()
{
    auto* timer = qobject_cast<QTimer*>(sender());
    if (!timer || !m_reverse.count(timer))
        return;
    Forget(timer);
}

void DelayedInvoker::OnTargetDestroyed(QObject* target)
{
    std::vector<QTimer*> doomed;
    for (const auto& [request, timer] : m_pending) {
        if (request.first == target)
            doomed.push_back(timer);
    }
    for (QTimer* timer : doomed) {
        timer->stop();
        Forget(timer);
    }
}

void DelayedInvoker::Forget(QTimer* timer)
{
    auto entry = m_reverse.find(timer);
    m_pending.erase(entry->second);
    m_reverse.erase(entry);
    // The timer may be in the middle of emitting timeout(); it goes on the
    // next pass of the event loop.
    timer->deleteLater();
}
