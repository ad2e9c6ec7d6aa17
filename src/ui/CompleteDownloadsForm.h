#pragma once

#include <map>

#include <QWidget>

#include "store/DataHandler.h"
#include "store/DataLoadedEventHandler.h"
#include "store/ItemPtr.h"

class Item;
class QTreeWidget;
class QTreeWidgetItem;

// Every download that ever finished, newest first, from the records the
// transfer manager keeps. A window of its own, opened from the transfers
// page.
class CompleteDownloadsForm : public QWidget, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    enum Column
    {
        FileColumn = 0,
        FolderColumn,
        UserColumn,
        SizeColumn,
        TimeColumn
    };

    explicit CompleteDownloadsForm(QWidget* parent = nullptr);
    ~CompleteDownloadsForm() override;

    // Declares the row type and follows removed records.
    void Init();
    // Lists every record the store holds.
    void DataLoaded() override;
    QTreeWidget* List() const { return m_list; }

public slots:
    void OnCompleteDownloadAdded(ItemPtr record);

private:
    // The record's row, not yet in the list; null when it has one.
    class CompleteDownloadItem* NewRow(ItemPtr record);
    void OnRecordRemoved(Item* record);

    QTreeWidget* m_list;
    std::map<Item*, QTreeWidgetItem*> m_rows;
};
