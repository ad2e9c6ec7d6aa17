#pragma once

#include <map>
#include <utility>

#include <QObject>
#include <QString>

class QTimer;

// Coalesces repeated requests for one slot on one object into a single
// delayed call: while a call is pending, further requests for the same pair
// are dropped and the first request's deadline stands.
class DelayedInvoker : public QObject
{
    Q_OBJECT

public:
    DelayedInvoker();
    ~DelayedInvoker() override;

    // `slot` is a slot signature in Qt's encoded form, as SLOT() produces it
    // ("1Sort()"). The call always comes from the event loop, never from here.
    void Invoke(QObject* target, const QString& slot, int delay);

private slots:
    void OnTimeout();
    void OnTargetDestroyed(QObject* target);

private:
    using Request = std::pair<QObject*, QString>;

    void Forget(QTimer* timer);

    std::map<Request, QTimer*> m_pending;
    std::map<QTimer*, Request> m_reverse;
};

extern DelayedInvoker* delayedInvoker;
