#pragma once

#include <QObject>

#include "store/ItemSet.h"

class QMenu;

// The download entries of a context menu: open the finished file or its
// folder, remove the downloads, and run again the search that found them.
// Lives as long as its parent, normally the menu.
class DownloadMenuOptions : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* RerunPrefix = "Re-run Search: ";

    DownloadMenuOptions(QMenu* menu, ItemSet downloads, QObject* parent);

public slots:
    void OnOpenFile();
    void OnOpenFolder();
    void OnRerunSearch();
    void OnRemoveDownloads();

private:
    ItemSet m_downloads;
};
