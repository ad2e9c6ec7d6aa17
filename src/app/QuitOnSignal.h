#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP into an orderly QCoreApplication::quit(),
// so that a logout or Ctrl+C still runs the shutdown save instead of losing
// everything changed since the last periodic save.
class QuitOnSignal : public QObject
{
    Q_OBJECT

public:
    explicit QuitOnSignal(QObject* parent = nullptr);
    ~QuitOnSignal() override;

private slots:
    void OnSignal();

private:
    static void Handler(int signal);

    QSocketNotifier* m_notifier = nullptr;
};
