#include "ScreenshotRun.h"

#include <cstdio>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPixmap>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTreeWidget>

#include "peers/PeerMessenger.h"
#include "search/WishListSearcher.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "sharing/SharedFoldersManager.h"
#include "store/Data.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferTypes.h"
#include "ui/ActionSetToolBar.h"
#include "ui/CompleteDownloadsForm.h"
#include "ui/DataDialog.h"
#include "ui/MainWindow.h"
#include "ui/SearchForm.h"
#include "ui/SearchResultsTab.h"
#include "ui/ShareForm.h"
#include "ui/SharesForm.h"
#include "ui/WishListView.h"

namespace {

void Say(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

void Complain(const QString& line)
{
    std::fprintf(stderr, "quorvale-screenshots: %s\n", qPrintable(line));
}

// "&Chat Rooms" -> "chat-rooms"
QString Slug(QString text)
{
    text.remove('&');
    text = text.toLower();
    text.replace(QRegularExpression("[^a-z0-9]+"), "-");
    while (text.startsWith('-'))
        text.remove(0, 1);
    while (text.endsWith('-'))
        text.chop(1);
    return text.isEmpty() ? "page" : text;
}

bool IsNestedTabWidget(const QTabWidget* tabs, const QWidget* window)
{
    for (QWidget* up = tabs->parentWidget(); up && up != window; up = up->parentWidget())
        if (qobject_cast<QTabWidget*>(up))
            return true;
    return false;
}

} // namespace

ScreenshotRun::ScreenshotRun(ScreenshotOptions options) : m_options(std::move(options))
{
    // The window asks its questions in modal dialogs; answer them as the
    // user would: log in with the given name, acknowledge messages.
    m_dialogAnswerer.setInterval(20);
    connect(&m_dialogAnswerer, &QTimer::timeout, this, &ScreenshotRun::AnswerModalDialog);
}

int ScreenshotRun::Run()
{
    MainWindow window;
    window.resize(1200, 760);
    window.show();
    // Pages that follow the keyboard focus (the action tool bar does) need
    // an active window, which nothing else makes offscreen.
    window.activateWindow();
    m_dialogAnswerer.start();
    window.Init();

    connect(gp_server, &Server::Connected, this, [this] { m_connected = true; });
    connect(gp_server, &Server::ConnectionFailed, this, [](const std::string& reason) {
        Complain("login failed: " + QString::fromStdString(reason));
    });
    connect(gp_server, &Server::RoomChat, this,
            [this](const std::string& room, const std::string& user, const std::string&) {
                if (QString::fromStdString(room) == m_options.room &&
                    QString::fromStdString(user) != m_options.user)
                    ++m_roomLines;
            });
    connect(gp_server, &Server::PrivateChat, this, [this] { ++m_privateLines; });
    connect(sharedFoldersManager, &SharedFoldersManager::ScanningFinished, this,
            [this] { ++m_rescans; });
    connect(transferQueueManager, &TransferQueueManager::CompleteDownloadAdded, this,
            [this] { ++m_completeDownloads; });
    connect(transferQueueManager, &TransferQueueManager::DownloadProgressed, this,
            [this](ItemPtr download) {
                if (download[TransferTypes::DownloadEntryStatus].AsString() ==
                    TransferTypes::Download::Downloading)
                    m_downloadRunning = true;
            });
    connect(transferQueueManager, &TransferQueueManager::DownloadStatusChanged, this,
            [this](ItemPtr download) {
                if (download[TransferTypes::DownloadEntryStatus].AsString() ==
                    TransferTypes::Download::Denied)
                    m_downloadDenied = true;
            });
    connect(transferQueueManager, &TransferQueueManager::UploadStatusChanged, this,
            [this](ItemPtr upload) {
                if (upload[TransferTypes::UploadEntryStatus].AsString() ==
                    TransferTypes::Upload::Complete)
                    ++m_completeUploads;
            });

    if (!WaitUntil([this] { return m_connected; })) {
        Complain("not logged in");
        return 1;
    }
    FillUserList();
    FillWishList();
    if (!m_options.shareFolder.isEmpty()) {
        const int before = m_rescans;
        sharedFoldersManager->ShareFolder(QDir(m_options.shareFolder).absolutePath().toStdString(),
                                          true, false, {});
        if (!WaitUntil([&] { return m_rescans > before; }))
            Complain("the shared folder was not scanned in time");
    }
    if (!m_options.room.isEmpty()) {
        gp_server->EnterRoom(m_options.room.toStdString());
        if (!WaitUntil([this] { return IsInRoom(); }))
            Complain("not in room " + m_options.room);
    }
    // The room list is asked for once here rather than trusted to come on
    // its own, so the rooms page always shows it.
    gp_server->GetRoomList();
    if (!WaitUntil([this] { return HasRoomList(); }))
        Complain("no room list");
    StartDownloads();
    BrowseShare();
    Say("ready");
    if (!WaitUntil([this] {
            return m_roomLines >= m_options.roomLines && m_privateLines >= m_options.privateLines &&
                   m_completeDownloads >= m_options.completeDownloads &&
                   (m_downloadRunning || !m_options.runningDownload) &&
                   (m_downloadDenied || !m_options.deniedDownload) &&
                   m_completeUploads >= m_options.completeUploads;
        }))
        Complain(QString("only %1 room lines, %2 private messages, %3 downloads and %4 uploads "
                         "arrived")
                     .arg(m_roomLines)
                     .arg(m_privateLines)
                     .arg(m_completeDownloads)
                     .arg(m_completeUploads));
    Search(window);
    Settle(800);
    CloseStrayDialogs(window);
    SavePages(window);
    SaveWishList(window);
    SaveCompleteDownloads(window);
    SaveStoreViewer(window);
    m_dialogAnswerer.stop();
    return m_failures == 0 && !m_savedNames.isEmpty() ? 0 : 1;
}

void ScreenshotRun::AnswerModalDialog()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        Complain("message: " + box->windowTitle() + ": " + box->text());
        box->accept();
        return;
    }
    auto* dialog = qobject_cast<QDialog*>(modal);
    if (!dialog)
        return;
    const QList<QLineEdit*> fields = dialog->findChildren<QLineEdit*>();
    if (fields.size() >= 2) {
        fields[0]->setText(m_options.user);
        fields[1]->setText(m_options.password);
        dialog->accept();
    } else {
        dialog->reject();
    }
}

void ScreenshotRun::FillUserList() const
{
    // As the add-user and groups dialogs would store them.
    for (const QString& entry : m_options.listUsers) {
        const QString name = entry.section(':', 0, 0);
        const QString group = entry.section(':', 1);
        ItemPtr user = d.GetType(ServerTypes::User)->GetItem(name.toStdString());
        if (!user.IsConnected(ServerTypes::InUserList))
            user.NewItem(ServerTypes::InUserList);
        if (!group.isEmpty())
            user[ServerTypes::InUserList].Connect(
                d.GetType(ServerTypes::UserListGroup)->GetItem(group.toStdString()));
    }
}

void ScreenshotRun::StartDownloads()
{
    for (const QString& entry : m_options.downloads) {
        const QStringList fields = entry.split('\t');
        if (fields.size() != 4) {
            Complain("not a download: " + entry);
            continue;
        }
        transferQueueManager->AddDownload(fields[0].toStdString(), fields[2].toStdString(),
                                          fields[1].toStdString(), fields[3].toLongLong(), 0);
    }
}

void ScreenshotRun::BrowseShare()
{
    if (m_options.browse.isEmpty())
        return;
    const std::string user = m_options.browse.section('\t', 0, 0).toStdString();
    const std::string folder = m_options.browse.section('\t', 1).toStdString();
    peerMessenger->GetUserSharedFiles(user);
    ShareForm* form = nullptr;
    if (!WaitUntil([&] { return (form = mainWindow->Shares()->FormOfUser(user)) != nullptr; })) {
        Complain("no listing from " + QString::fromStdString(user));
        return;
    }
    QTreeWidgetItem* row = form->FolderRow(folder);
    if (!row) {
        Complain("no folder " + QString::fromStdString(folder));
        return;
    }
    for (QTreeWidgetItem* up = row->parent(); up; up = up->parent())
        up->setExpanded(true);
    form->Folders()->setCurrentItem(row);
    if (QTreeWidgetItem* file = form->Files()->topLevelItem(0))
        form->Files()->setCurrentItem(file);
}

bool ScreenshotRun::WaitUntil(const std::function<bool()>& done)
{
    QDeadlineTimer deadline(m_options.timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

void ScreenshotRun::Settle(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool ScreenshotRun::IsInRoom() const
{
    ItemSet room = i(ServerTypes::Room, m_options.room.toStdString());
    return !room.empty() && (*room.begin())->IsConnected(ServerTypes::InRoom);
}

bool ScreenshotRun::HasRoomList() const
{
    for (Item* room : g(ServerTypes::Room))
        if (room->IsConnected(ServerTypes::UserCount))
            return true;
    return false;
}

void ScreenshotRun::CloseStrayDialogs(MainWindow& window)
{
    // Notices such as the rescan summary would cover the pages.
    for (QDialog* dialog : window.findChildren<QDialog*>())
        if (dialog->isVisible())
            dialog->close();
    // Offscreen nothing gives the focus back to the window once a dialog
    // that held it is gone, and the tool bar follows the focus.
    window.activateWindow();
    Settle(100);
}

void ScreenshotRun::SavePages(MainWindow& window)
{
    for (QTabWidget* tabs : window.findChildren<QTabWidget*>()) {
        if (!tabs->isVisible() || IsNestedTabWidget(tabs, &window))
            continue;
        for (int page = 0; page < tabs->count(); ++page) {
            if (!tabs->isTabVisible(page))
                continue;
            tabs->setCurrentIndex(page);
            // The page showing from the start gets no change signal, and
            // its focus may have gone to a dialog since.
            ActionSetToolBar::FocusCurrentPage(tabs);
            // Results are what the search page is about; their commands
            // show when the list has the focus.
            if (auto* search = qobject_cast<SearchForm*>(tabs->currentWidget()))
                if (SearchResultsTab* results = search->CurrentResultsTab())
                    results->Tree()->setFocus();
            Settle(300);
            Save(&window, Slug(tabs->tabText(page)));
        }
    }
}

void ScreenshotRun::FillWishList() const
{
    for (const QString& text : m_options.wishes + m_options.disabledWishes)
        if (ItemPtr entry = WishListSearcher::AddEntry(text.toStdString()))
            WishListSearcher::SetEnabled(entry, m_options.wishes.contains(text));
}

void ScreenshotRun::Search(MainWindow& window)
{
    if (m_options.search.isEmpty())
        return;
    SearchForm* form = window.Search();
    window.ShowPage("Search");
    const unsigned int token = gp_server->FileSearch(m_options.search.toStdString(), false);
    SearchResultsTab* tab = form->TabOf(token);
    // Answers come within a moment; the last of them is waited for a little.
    if (!tab || !WaitUntil([tab] { return tab->ResultCount() > 0; })) {
        Complain("no results for " + m_options.search);
        return;
    }
    Settle(1500);
    tab->AddAllPending();
    tab->FilterField()->setText(m_options.filter);
    tab->Sort();
    form->Tabs()->setCurrentWidget(tab);
}

void ScreenshotRun::SaveWishList(MainWindow& window)
{
    SearchForm* form = window.Search();
    if (form->WishList()->List()->topLevelItemCount() == 0)
        return;
    window.ShowPage("Search");
    form->Tabs()->setCurrentWidget(form->WishList());
    form->WishList()->List()->setFocus();
    form->WishList()->List()->setCurrentItem(form->WishList()->List()->topLevelItem(0));
    Settle(300);
    Save(&window, "wish-list");
}

void ScreenshotRun::SaveCompleteDownloads(MainWindow& window)
{
    // A window of its own that the transfers page opens; drawn when there
    // is something in it.
    auto* form = window.findChild<CompleteDownloadsForm*>();
    if (!form || form->List()->topLevelItemCount() == 0)
        return;
    form->resize(900, 320);
    form->show();
    Settle(300);
    Save(form, "complete-downloads");
    form->close();
}

void ScreenshotRun::SaveStoreViewer(MainWindow& window)
{
    auto* viewer = new DataDialog(&d, &window);
    viewer->resize(1200, 700);
    viewer->show();
    // A user with its status, rooms and statistics unfolded one level.
    const QList<QTreeWidgetItem*> users =
        viewer->TypeList()->findItems(ServerTypes::User, Qt::MatchExactly);
    if (!users.isEmpty()) {
        viewer->TypeList()->setCurrentItem(users.front());
        Settle(100);
        QAbstractItemModel* items = viewer->ItemList()->model();
        for (int row = 0; row < items->rowCount(); ++row) {
            const QModelIndex index = items->index(row, 0);
            if (index.data().toString() != m_options.user) {
                viewer->ItemList()->setCurrentIndex(index);
                viewer->OnItemClicked(index);
                break;
            }
        }
        if (QTreeWidgetItem* root = viewer->ItemTree()->topLevelItem(0))
            for (int child = 0; child < root->childCount(); ++child)
                if (root->child(child)->childCount() > 0) {
                    root->child(child)->setExpanded(true);
                    break;
                }
    }
    Settle(300);
    Save(viewer, "data");
    viewer->close();
}

bool ScreenshotRun::Save(QWidget* widget, const QString& page)
{
    QString name = page;
    for (int n = 2; m_savedNames.contains(name); ++n)
        name = page + "-" + QString::number(n);
    const QString path = QDir(m_options.outputFolder).filePath("screenshot-" + name + ".png");
    if (!widget->grab().save(path)) {
        Complain("cannot write " + path);
        ++m_failures;
        return false;
    }
    m_savedNames.insert(name);
    Say("saved\t" + path);
    return true;
}
