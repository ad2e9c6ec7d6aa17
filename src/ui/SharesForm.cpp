#include "ui/SharesForm.h"

#include <QMenu>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "server/ServerTypes.h"
#include "sharing/SharingTypes.h"
#include "sharing/UserShareStore.h"
#include "store/Data.h"
#include "transfers/TransferQueueManager.h"
#include "ui/ActionSetToolBar.h"
#include "ui/ShareForm.h"
#include "ui/ShareViewTypes.h"
#include "ui/UserMenuOptions.h"

using namespace SharingTypes;

SharesForm::SharesForm(QWidget* parent) : QWidget(parent), m_tabs(new QTabWidget(this))
{
    m_tabs->setObjectName("share_tabs");
    m_tabs->setTabsClosable(true);
    m_tabs->setDocumentMode(true);
    m_tabs->tabBar()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_tabs, &QTabWidget::tabCloseRequested, this, &SharesForm::OnTabCloseRequested);
    connect(m_tabs->tabBar(), &QWidget::customContextMenuRequested, this,
            &SharesForm::OnTabContextMenu);
    ActionSetToolBar::AutoFocusTabWidget(m_tabs);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tabs);
}

SharesForm::~SharesForm()
{
    RemoveDataHandlers();
}

void SharesForm::DeclareSchema()
{
    using namespace ShareViewTypes;
    auto declare = [](const char* name) {
        if (Type* type = d.HasType(name))
            return type;
        return d.NewType(name, false, false, true);
    };
    auto relate = [](Type* a, Type* b, OneOrMany aEnd, OneOrMany bEnd) {
        if (!a->IsRelated(b))
            a->RelateToType(b, aEnd, bEnd, false);
    };
    Type* tab = declare(UserShareTab);
    Type* folderNode = declare(UserShareFolderNode);
    Type* fileNode = declare(UserShareFileNode);

    relate(d.GetType(UserShare), tab, ONE, ONE);
    relate(d.GetType(UserShareFolder), folderNode, ONE, ONE);
    relate(d.GetType(UserShareFile), fileNode, ONE, ONE);
}

void SharesForm::Init()
{
    if (m_initialised)
        return;
    m_initialised = true;
    DeclareSchema();
    // A listing is shown once it is complete, never half stored.
    auto* loaded = new PathNode(&d, UserShare);
    new PathNode(loaded, UserShareLoaded, PathConnectedTrigger);
    d.AddPathEventHandler(loaded, MakeHandler(this, &SharesForm::OnUserShare));
    AddItemRemovedHandler(this, UserShare, &SharesForm::OnUserShareRemoved);
    RegisterActions();
}

void SharesForm::RegisterActions()
{
    if (!actionBar)
        return;
    actionBar->AddSetActions({
        {"user_share_folders", "download_share_folder", "Download Folder", true,
         ":/icons/download_icon"},
        {"user_share_folders", "expand_all", "Expand All", false, ":/icons/share_folder_icon"},
        {"user_share_folders", "collapse_all", "Collapse All", false, ":/icons/share_folder_icon"},
        {"user_share_folders", "expand_level", ShareForm::ExpandLevelText, false,
         ":/icons/share_folder_icon"},
        {"user_share_folders", "browse_user", "Refresh Listing", false, ":/icons/browse_icon"},
        {"user_share_folders", "message_user", "Message User", false, ":/icons/chat_icon"},
        {"user_share_files", "download_share_file", "Download Files", true,
         ":/icons/download_icon"},
        {"user_share_files", "message_user", "Message User", false, ":/icons/chat_icon"},
    });
    // "browse_user" and "message_user" are the window's, with the tab's user
    // as their "user" key.
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this,
            &SharesForm::OnToolBarActionTriggered);
}

ShareForm* SharesForm::FormOfUser(const std::string& user) const
{
    for (const auto& [share, form] : m_forms)
        if (form->User() == user)
            return form;
    return nullptr;
}

void SharesForm::OnUserShare(Item* share)
{
    if (m_forms.count(share))
        return;
    auto* form = new ShareForm(share, m_tabs);
    m_forms[share] = form;
    connect(form, &ShareForm::DownloadsQueued, this, [this, form](int count) {
        emit DownloadsQueued(QString::fromStdString(form->User()), count);
    });
    const QString title = QString::fromStdString(form->User());
    const auto replaced = m_replacedAt.find(form->User());
    int index = -1;
    if (replaced != m_replacedAt.end()) {
        index = m_tabs->insertTab(replaced->second, form, QIcon(":/icons/browse_icon"), title);
        m_replacedAt.erase(replaced);
    } else {
        index = m_tabs->addTab(form, QIcon(":/icons/browse_icon"), title);
    }
    m_tabs->setCurrentIndex(index);
    emit ShareOpened(form);
}

void SharesForm::OnUserShareRemoved(Item* share)
{
    // The listing goes (a new one of the user replaces it): its rows point
    // into it, so the form goes at once, and the new one takes its place.
    const auto found = m_forms.find(share);
    if (found == m_forms.end())
        return;
    ShareForm* form = found->second;
    m_forms.erase(found);
    const int index = m_tabs->indexOf(form);
    if (index >= 0) {
        m_replacedAt[form->User()] = index;
        m_tabs->removeTab(index);
    }
    delete form;
}

void SharesForm::OnTabCloseRequested(int index)
{
    auto* form = qobject_cast<ShareForm*>(m_tabs->widget(index));
    if (!form)
        return;
    const std::string user = form->User();
    m_forms.erase(form->Share());
    m_tabs->removeTab(index);
    delete form;
    // A listing can be large and is fetched anew on the next browse; nobody
    // looks at a closed one.
    UserShareStore::Remove(user);
}

void SharesForm::OnToolBarActionTriggered(const std::string& action)
{
    // The bar tells every owner of a set about every press; only presses in
    // this view are ours.
    QWidget* shown = actionBar ? actionBar->CurrentWidget() : nullptr;
    if (!shown || !isAncestorOf(shown))
        return;
    if (action == "download_file") {
        DownloadNamedFile();
        return;
    }
    for (const auto& [share, form] : m_forms)
        if (form->isAncestorOf(shown))
            form->OnActionBarTriggered(action);
}

void SharesForm::DownloadNamedFile()
{
    const std::string user = actionBar->GetKey("user").toStdString();
    const std::string file = actionBar->GetKey("file").toStdString();
    if (user.empty() || file.empty() || !transferQueueManager)
        return;
    transferQueueManager->AddDownload(user, file, actionBar->GetKey("folder").toStdString(),
                                      actionBar->GetKey("file_size").toLongLong(), 0);
}

void SharesForm::OnTabContextMenu(const QPoint& position)
{
    const int index = m_tabs->tabBar()->tabAt(position);
    auto* form = qobject_cast<ShareForm*>(m_tabs->widget(index));
    if (!form)
        return;
    QMenu menu(this);
    menu.addAction("Close", this, [this, form] { OnTabCloseRequested(m_tabs->indexOf(form)); });
    new UserMenuOptions(&menu, form->User(), &menu);
    menu.exec(m_tabs->tabBar()->mapToGlobal(position));
}
