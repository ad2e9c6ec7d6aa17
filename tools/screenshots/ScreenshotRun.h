#pragma once

#include <functional>
#include <string>

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

class MainWindow;
class QWidget;

struct ScreenshotOptions
{
    QString user;
    QString password;
    QString room;        // entered after logging in, when set
    QString shareFolder; // shared with everybody, when set
    QString outputFolder;
    // Put on the user list as "name" or "name:group" (the group is created).
    QStringList listUsers;
    // Downloaded once in the room, each "user<TAB>folder<TAB>file<TAB>size"
    // with the folder as the user's share names it.
    QStringList downloads;
    // A listing to browse, "user<TAB>folder" with the folder as the user's
    // share names it: that folder is chosen and its first file selected.
    QString browse;
    int completeDownloads = 0;    // complete downloads to wait for
    bool runningDownload = false; // wait for a download to show progress
    bool deniedDownload = false;  // wait for a download to be denied
    int completeUploads = 0;      // uploads to others to wait for
    int roomLines = 0;            // lines from others to wait for in the room
    int privateLines = 0;         // private messages to wait for
    // Searched for once downloads are under way; the results are drawn
    // with the filter applied.
    QString search;
    QString filter;
    // Wish-list entries, added switched on or off.
    QStringList wishes;
    QStringList disabledWishes;
    int timeoutMs = 30000;
};

// Runs the window against a server, logs in, enters a room, waits for the
// chat the caller arranges, then saves every page of the main window, and
// the store viewer, as "screenshot-<page>.png". Pages are found by walking the
// window's outermost tab widgets, so pages added to the window later are
// drawn without changes here. Prints "ready" once it sits in the room.
class ScreenshotRun : public QObject
{
    Q_OBJECT

public:
    explicit ScreenshotRun(ScreenshotOptions options);

    // The exit status: 0 when the window logged in and every page was saved.
    int Run();

private:
    void AnswerModalDialog();
    bool WaitUntil(const std::function<bool()>& done);
    static void Settle(int ms);
    void FillUserList() const;
    void StartDownloads();
    void BrowseShare();
    void SaveCompleteDownloads(MainWindow& window);
    bool IsInRoom() const;
    bool HasRoomList() const;
    void CloseStrayDialogs(MainWindow& window);
    void FillWishList() const;
    void Search(MainWindow& window);
    void SavePages(MainWindow& window);
    void SaveWishList(MainWindow& window);
    void SaveStoreViewer(MainWindow& window);
    bool Save(QWidget* widget, const QString& page);

    ScreenshotOptions m_options;
    QTimer m_dialogAnswerer;
    bool m_connected = false;
    int m_rescans = 0;
    int m_roomLines = 0;
    int m_privateLines = 0;
    int m_completeDownloads = 0;
    bool m_downloadRunning = false;
    bool m_downloadDenied = false;
    int m_completeUploads = 0;
    int m_failures = 0;
    QSet<QString> m_savedNames;
};
