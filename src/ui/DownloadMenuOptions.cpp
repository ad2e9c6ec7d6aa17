#include "ui/DownloadMenuOptions.h"

#include <vector>

#include <QMenu>

#include "search/SearchTypes.h"
#include "server/Server.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferTypes.h"
#include "ui/DesktopOpener.h"

using namespace TransferTypes;

DownloadMenuOptions::DownloadMenuOptions(QMenu* menu, ItemSet downloads, QObject* parent)
    : QObject(parent), m_downloads(std::move(downloads))
{
    if (m_downloads.empty())
        return;
    if (!menu->actions().isEmpty())
        menu->addSeparator();
    ItemPtr first = m_downloads.first();
    if (m_downloads.size() == 1 && first[DownloadEntryStatus].AsString() == Download::Complete)
        menu->addAction("Open File", this, &DownloadMenuOptions::OnOpenFile);
    menu->addAction("Open Folder", this, &DownloadMenuOptions::OnOpenFolder);
    menu->addSeparator();
    menu->addAction(m_downloads.size() == 1 ? "Remove download" : "Remove downloads", this,
                    &DownloadMenuOptions::OnRemoveDownloads);
    if (ItemPtr search = first[SearchTypes::SearchRequestText])
        menu->addAction(RerunPrefix + QString::fromStdString(search.AsString()), this,
                        &DownloadMenuOptions::OnRerunSearch);
}

void DownloadMenuOptions::OnOpenFile()
{
    if (ItemPtr download = m_downloads.first())
        DesktopOpener::OpenLocalPath(transferQueueManager->GetDownloadTargetPath(download, true));
}

void DownloadMenuOptions::OnOpenFolder()
{
    if (ItemPtr download = m_downloads.first())
        DesktopOpener::OpenLocalPath(transferQueueManager->GetDownloadTargetFolder(download, true));
}

void DownloadMenuOptions::OnRerunSearch()
{
    const std::string text =
        ItemPtr(m_downloads.first())[SearchTypes::SearchRequestText].AsString();
    if (!text.empty() && gp_server)
        gp_server->FileSearch(text, false);
}

void DownloadMenuOptions::OnRemoveDownloads()
{
    // The entries are gone afterwards; the menu must not offer them again.
    const std::vector<Item*> downloads(m_downloads.begin(), m_downloads.end());
    m_downloads.clear();
    for (Item* download : downloads)
        transferQueueManager->RemoveDownload(download);
}
