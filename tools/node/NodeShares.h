#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include "store/DataHandler.h"

struct ConnectionInfo;

// The node's words for sharing: our own shared folders and their scans, the
// user list they may be restricted to, and the listings other users send
// us. Commands take their arguments as typed; events are printed as they
// happen, like every other node event.
class NodeShares : public QObject, public DataHandler
{
    Q_OBJECT

public:
    explicit NodeShares(QObject* parent = nullptr);
    ~NodeShares() override;

    // Wires the sharing manager's signals and the listing handler; the
    // managers exist but the snapshot is not loaded yet, so the start-up
    // rescan is reported too.
    void ManagersCreated();

    // "PATH VISIBILITY": the visibility is the last word, so the path may
    // hold spaces.
    void Share(const QString& pathAndVisibility);
    void Unshare(const QString& path);
    void Rescan();
    // "USER [GROUP]": puts the user on our list, in the group when given.
    void AddUser(const QString& userAndGroup);
    void Browse(const QString& user);
    void List(const QString& user, const QString& folder);

private slots:
    void OnRescanned(int added, int removed);
    void OnRescanProgress(int folders, int files);
    void OnMP3Scanned(QString path, int version, QString channelMode, int frequencyIndex, bool vbr,
                      int bitrate);

private:
    void OnShareLoaded(ConnectionInfo& info);

    // How long the running scan has gone unreported; restarted whenever a
    // command starts a scan, so a quick one reports only its end.
    QElapsedTimer m_progressClock;
};
