#pragma once

#include <set>

#include <QObject>
#include <QString>
#include <QStringList>

class QTimer;

// Gathers finished downloads into desktop notifications: each file is
// announced once, and files finishing close together share one message
// instead of flooding the tray.
class DownloadNotifier : public QObject
{
    Q_OBJECT

public:
    // Completions within this time of the first one go into one message.
    static constexpr int GatherMs = 3000;
    // Names listed in one message before "and N more".
    static constexpr int ListedNames = 3;

    explicit DownloadNotifier(QObject* parent = nullptr);

    // `path` tells files apart; `name` is what the message shows.
    void Add(const QString& path, const QString& name);
    QTimer* Timer() const { return m_timer; }

signals:
    void Notify(const QString& title, const QString& text);

public slots:
    void Flush();

private:
    QTimer* m_timer;
    std::set<QString> m_announced;
    QStringList m_pending;
};
