#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// Reads standard input on the event loop, without blocking: a notifier
// wakes us when bytes are there, and every complete line is handed out.
// End of input is reported once (a last line without a newline still counts).
class StdinReader : public QObject
{
    Q_OBJECT

public:
    explicit StdinReader(QObject* parent = nullptr);
    void Start();

signals:
    void LineRead(const QString& line);
    void EndOfInput();

private slots:
    void OnReadable();

private:
    QSocketNotifier* m_notifier = nullptr;
    QByteArray m_pending;
};
