#pragma once

#include <map>
#include <string>

#include <QWidget>

#include "store/DataHandler.h"

class Item;
class QPoint;
class QTabWidget;
class ShareForm;

// The browsed shares: a tab for every listing that has arrived, titled with
// its user. A second listing of the same user takes the place of the first
// in the same tab position.
class SharesForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    explicit SharesForm(QWidget* parent = nullptr);
    ~SharesForm() override;

    // Declares the view's store types and its tool-bar sets and starts
    // following listings; needs the sharing manager's types.
    void Init();

    // The view's store types; Init declares them, as must anyone building
    // a ShareForm without the view.
    static void DeclareSchema();

    QTabWidget* Tabs() const { return m_tabs; }
    // The open tab of the user's listing, or null.
    ShareForm* FormOfUser(const std::string& user) const;

public slots:
    void OnToolBarActionTriggered(const std::string& action);
    void OnTabCloseRequested(int index);

signals:
    // A listing arrived and has its tab.
    void ShareOpened(ShareForm* form);
    // Files of the user's listing went to the download queue.
    void DownloadsQueued(const QString& user, int count);

private slots:
    void OnTabContextMenu(const QPoint& position);

private:
    void RegisterActions();
    void OnUserShare(Item* share);
    void OnUserShareRemoved(Item* share);
    void DownloadNamedFile();

    QTabWidget* m_tabs;
    std::map<Item*, ShareForm*> m_forms;
    // Where the tab of a listing that is being replaced stood.
    std::map<std::string, int> m_replacedAt;
    bool m_initialised = false;
};
