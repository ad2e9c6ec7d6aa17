// quorvale-screenshots --out FOLDER --user NAME --password PASSWORD
//     [--room ROOM] [--share FOLDER] [--room-lines N] [--private-lines N]
//     [--list-user NAME[:GROUP]]... [--download USER<TAB>FOLDER<TAB>FILE<TAB>SIZE]...
//     [--complete-downloads N] [--running-download] [--denied-download]
//     [--complete-uploads N] [--browse USER<TAB>FOLDER]
//
// Draws the window against the server named by QUORVALE_SERVER and saves its
// pages as PNG files. Meant for QT_QPA_PLATFORM=offscreen and a throw-away HOME.

#include <cstdio>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>

#include "ScreenshotRun.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setStyle("Fusion");

    QCommandLineParser parser;
    const QCommandLineOption out("out", "Folder for the PNG files.", "folder");
    const QCommandLineOption user("user", "User name to log in with.", "name");
    const QCommandLineOption password("password", "Password to log in with.", "password");
    const QCommandLineOption room("room", "Room to enter.", "room");
    const QCommandLineOption share("share", "Folder to share with everybody.", "folder");
    const QCommandLineOption roomLines("room-lines", "Room lines to wait for.", "n", "0");
    const QCommandLineOption privateLines("private-lines", "Private messages to wait for.", "n",
                                          "0");
    const QCommandLineOption listUser("list-user", "User to put on the user list, in a group.",
                                      "name[:group]");
    const QCommandLineOption download("download", "File to download, tab separated.",
                                      "user folder file size");
    const QCommandLineOption completeDownloads("complete-downloads",
                                               "Complete downloads to wait for.", "n", "0");
    const QCommandLineOption runningDownload("running-download",
                                             "Wait for a download to show progress.");
    const QCommandLineOption deniedDownload("denied-download", "Wait for a download to be denied.");
    const QCommandLineOption completeUploads("complete-uploads", "Complete uploads to wait for.",
                                             "n", "0");
    const QCommandLineOption search("search", "Text to search for before drawing.", "text");
    const QCommandLineOption filter("filter", "Filter for the search's results.", "text");
    const QCommandLineOption wish("wish", "Wish-list entry to add, enabled.", "text");
    const QCommandLineOption wishOff("wish-off", "Wish-list entry to add, disabled.", "text");
    const QCommandLineOption browse(
        "browse", "Listing to browse and folder to show, tab separated.", "user folder");
    parser.addOptions({out, user, password, room, share, roomLines, privateLines, listUser,
                       download, completeDownloads, runningDownload, deniedDownload,
                       completeUploads, search, filter, wish, wishOff, browse});
    parser.process(application);
    if (!parser.isSet(out) || !parser.isSet(user) || !parser.isSet(password)) {
        std::fprintf(stderr, "%s", qPrintable(parser.helpText()));
        return 2;
    }

    ScreenshotOptions options;
    options.outputFolder = parser.value(out);
    options.user = parser.value(user);
    options.password = parser.value(password);
    options.room = parser.value(room);
    options.shareFolder = parser.value(share);
    options.listUsers = parser.values(listUser);
    options.downloads = parser.values(download);
    options.completeDownloads = parser.value(completeDownloads).toInt();
    options.runningDownload = parser.isSet(runningDownload);
    options.deniedDownload = parser.isSet(deniedDownload);
    options.completeUploads = parser.value(completeUploads).toInt();
    options.browse = parser.value(browse);
    options.roomLines = parser.value(roomLines).toInt();
    options.privateLines = parser.value(privateLines).toInt();
    options.search = parser.value(search);
    options.filter = parser.value(filter);
    options.wishes = parser.values(wish);
    options.disabledWishes = parser.values(wishOff);
    QDir().mkpath(options.outputFolder);
    ScreenshotRun run(options);
    return run.Run();
}
