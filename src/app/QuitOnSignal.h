#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP into an orderly end of the event loop,
// so that a logout or Ctrl+C still runs the shutdown save instead of losing
// everything changed since the last periodic save. A signal may come at any
// moment, also before the main loop runs (during start-up dialogs): the
// request is remembered, and QuitRequested lets the window close its modal
// dialogs, whose nested loops would otherwise carry on.
class QuitOnSignal : public QObject
{
    Q_OBJECT

public:
    explicit QuitOnSignal(QObject* parent = nullptr);
    ~QuitOnSignal() override;

    // A signal came; main must not start its loop any more.
    static bool IsQuitRequested();

signals:
    void QuitRequested();

private slots:
    void OnSignal();

private:
    static void Handler(int signal);

    QSocketNotifier* m_notifier = nullptr;
};
