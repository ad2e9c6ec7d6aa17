#include "ui/SearchForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "peers/PeerMessenger.h"
#include "search/SearchTypes.h"
#include "search/WishListSearcher.h"
#include "search/WishListTypes.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "store/Data.h"
#include "store/ObjectValue.h"
#include "transfers/TransferQueueManager.h"
#include "ui/ActionSetToolBar.h"
#include "ui/SearchFormTypes.h"
#include "ui/SearchResultListItem.h"
#include "ui/SearchResultsTab.h"
#include "ui/UserMenuOptions.h"
#include "ui/WishListView.h"

using namespace SearchTypes;
using namespace SearchFormTypes;

namespace {
constexpr const char* ResultsSet = "search_results";
constexpr const char* WishListSet = "wish_list";
constexpr const char* SearchIcon = ":/icons/search_icon";
constexpr const char* WishListIcon = ":/icons/wish_list_icon";

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

QString OnText(const char* text, bool on)
{
    return on ? QString(text) + " [on]" : QString(text);
}

QString OnOffText(const char* text, bool on)
{
    return QString(text) + (on ? " [on]" : " [off]");
}
} // namespace

SearchForm::SearchForm(QWidget* parent)
    : QWidget(parent), m_searchField(new QLineEdit(this)), m_tabs(new QTabWidget(this)),
      m_wishList(new WishListView(this))
{
    m_searchField->setObjectName("search_field");
    m_searchField->setPlaceholderText("Search the network");
    connect(m_searchField, &QLineEdit::returnPressed, this, &SearchForm::OnSearchEntered);
    auto* search = new QPushButton(QIcon(SearchIcon), "Search", this);
    search->setObjectName("search_button");
    connect(search, &QPushButton::clicked, this, &SearchForm::OnSearchEntered);

    m_tabs->setObjectName("search_tabs");
    m_tabs->setTabsClosable(true);
    m_tabs->addTab(m_wishList, QIcon(WishListIcon), "Wish List");
    // The wish list is always there; only result tabs close.
    m_tabs->tabBar()->setTabButton(0, QTabBar::RightSide, nullptr);
    m_tabs->tabBar()->setTabButton(0, QTabBar::LeftSide, nullptr);
    connect(m_tabs, &QTabWidget::tabCloseRequested, this, &SearchForm::OnTabCloseRequested);
    ActionSetToolBar::AutoFocusTabWidget(m_tabs);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel("Search:", this));
    top->addWidget(m_searchField, 1);
    top->addWidget(search);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addLayout(top);
    layout->addWidget(m_tabs);
    setFocusProxy(m_searchField);
}

SearchForm::~SearchForm() = default;

void SearchForm::Init()
{
    if (m_initialised)
        return;
    m_initialised = true;
    DeclareSchema();
    m_wishList->Init();
    RegisterActions();
    if (gp_server)
        connect(gp_server, &Server::SearchRequested, this, &SearchForm::OnSearchRequest);
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::SearchResults, this,
                &SearchForm::OnUserSearchResults);
}

void SearchForm::DeclareSchema()
{
    if (d.HasType(ResultsWidget))
        return;
    Type* widget = d.NewType(ResultsWidget, true, false, false);
    Type* expandUsers = d.NewType(ExpandUsers, false, false, true);
    Type* expandFolders = d.NewType(ExpandFolders, false, false, true);
    Type* userNode = d.NewType(UserNode, true, false, false);
    Type* folderNode = d.NewType(FolderNode, true, false, false);
    Type* resultNode = d.NewType(ResultNode, true, false, false);
    Type* wishNode = d.NewType(WishListNode, true, false, false);
    Type* wishBox = d.NewType(WishListNodeCheckbox, true, false, false);

    d.GetType(SearchRequest)->RelateToType(widget, MANY, ONE, false);
    widget->RelateToType(expandUsers, MANY, ONE, false);
    widget->RelateToType(expandFolders, MANY, ONE, false);
    widget->RelateToType(d.GetType(WishListTypes::WishListItem), ONE, ONE, false);
    // A tab owns its rows' items, so closing it takes them all.
    widget->RelateToType(userNode, ONE, MANY, true);
    userNode->RelateToType(d.GetType(ServerTypes::User), MANY, ONE, false);
    userNode->RelateToType(folderNode, ONE, MANY, true);
    folderNode->RelateToType(d.GetType(SearchResultFileFolder), MANY, ONE, false);
    folderNode->RelateToType(resultNode, ONE, MANY, true);
    resultNode->RelateToType(d.GetType(SearchResult), ONE, ONE, false);
    wishNode->RelateToType(d.GetType(WishListTypes::WishListItem), ONE, ONE, false);
    wishNode->RelateToType(wishBox, ONE, ONE, true);
}

void SearchForm::RegisterActions()
{
    if (!actionBar)
        return;
    actionBar->AddSetActions({
        {ResultsSet, "order_by_available", "Order by Available", false, ":/icons/user_list_icon"},
        {ResultsSet, "order_by_fastest", "Order by Fastest", false, ":/icons/transfers_icon"},
        {ResultsSet, "expand_users", "Expand Users", false, ":/icons/user_list_icon"},
        {ResultsSet, "expand_folders", "Expand Folders", false, ":/icons/browse_icon"},
        {ResultsSet, "download_search_results_file", "Download File", true,
         ":/icons/download_icon"},
        {ResultsSet, "download_search_results_folder", "Download Folder", true,
         ":/icons/download_icon"},
        {ResultsSet, "add_remove_wishlist", "Add to Wishlist", false, WishListIcon},
        {WishListSet, "remove_wish_list_item", "Remove Wish List Search", true, WishListIcon},
        {WishListSet, "enable_all_wish_list_items", "Enable All Wish List Searches", false,
         WishListIcon},
        {WishListSet, "disable_all_wish_list_items", "Disable All Wish List Searches", false,
         WishListIcon},
    });
    actionBar->RegisterWidget(m_wishList, WishListSet);
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &SearchForm::OnActionBarTriggered);
}

void SearchForm::OnSearchEntered()
{
    const QString text = m_searchField->text().trimmed();
    if (text.isEmpty() || !gp_server)
        return;
    gp_server->FileSearch(text.toUtf8().toStdString(), false);
    m_searchField->clear();
}

void SearchForm::OnSearchRequest(unsigned int token, std::string text, bool wishList)
{
    if (wishList)
        return;
    SearchResultsTab* tab = CreateSearchForm(token, text, false);
    m_tabs->setCurrentWidget(tab);
}

SearchResultsTab* SearchForm::CreateSearchForm(unsigned int token, const std::string& text,
                                               bool wishList)
{
    ItemPtr request = d.GetType(SearchRequest)->HasItem(token);
    ItemPtr entry = wishList ? WishListSearcher::FindEntry(text) : ItemPtr();
    if (ItemPtr widget = entry ? entry[ResultsWidget] : ItemPtr()) {
        if (request)
            request.Connect(widget);
        return ObjectFromItem<SearchResultsTab>(widget);
    }

    auto* tab = new SearchResultsTab(Q(text), wishList, m_tabs);
    ItemPtr widget = d.GetType(ResultsWidget)->NewItem(ObjectValue(tab));
    if (request)
        request.Connect(widget);
    widget.Connect(d.GetType(ExpandUsers)->GetItem("yes"));
    widget.Connect(d.GetType(ExpandFolders)->GetItem("yes"));
    if (entry)
        widget.Connect(entry);
    tab->SetWidgetItem(widget);
    tab->SetSortColumn(SearchResultListItem::FreeColumn);
    m_tabs->addTab(tab, QIcon(wishList ? WishListIcon : SearchIcon), Q(text));

    QTreeWidget* tree = tab->Tree();
    connect(tree, &QTreeWidget::itemDoubleClicked, this, &SearchForm::OnResultDoubleClicked);
    connect(tree, &QWidget::customContextMenuRequested, this, &SearchForm::OnContextMenu);
    if (actionBar) {
        actionBar->RegisterWidget(tree, ResultsSet);
        ShowActionTexts(tab);
    }
    return tab;
}

SearchResultsTab* SearchForm::TabOfRequest(ItemPtr request)
{
    ItemPtr widget = request ? request[ResultsWidget] : ItemPtr();
    return widget ? ObjectFromItem<SearchResultsTab>(widget) : nullptr;
}

SearchResultsTab* SearchForm::TabOf(unsigned int token) const
{
    return TabOfRequest(d.GetType(SearchRequest)->HasItem(token));
}

SearchResultsTab* SearchForm::CurrentResultsTab() const
{
    return qobject_cast<SearchResultsTab*>(m_tabs->currentWidget());
}

void SearchForm::OnUserSearchResults(ItemPtr searchResults)
{
    ItemPtr request = searchResults ? searchResults[SearchRequest] : ItemPtr();
    if (!request)
        return;
    SearchResultsTab* tab = TabOfRequest(request);
    if (!tab) {
        if (!request.IsConnected(WishListSearch))
            return;
        const std::string text = request[SearchRequestText].AsString();
        if (!WishListSearcher::IsEnabled(WishListSearcher::FindEntry(text)))
            return;
        tab = CreateSearchForm(request.AsUInt(), text, true);
    }
    tab->Enqueue(searchResults);
}

void SearchForm::OnTabCloseRequested(int index)
{
    auto* tab = qobject_cast<SearchResultsTab*>(m_tabs->widget(index));
    if (!tab)
        return;
    ItemPtr widget = tab->WidgetItem();
    const ItemSet requestSet = widget.GetItems(SearchRequest);
    const std::vector<Item*> requests(requestSet.begin(), requestSet.end());
    m_tabs->removeTab(index);
    // The rows go before the results they point at.
    delete tab;
    widget.Remove();
    for (Item* request : requests) {
        const ItemSet sets = ItemPtr(request).GetItems(SearchResults);
        for (Item* set : std::vector<Item*>(sets.begin(), sets.end()))
            ItemPtr(set).Remove();
        ItemPtr(request).Remove();
    }
    d.RemoveDisconnectedItems();
}

void SearchForm::Download(const std::vector<Item*>& results)
{
    if (!transferQueueManager)
        return;
    for (Item* item : results) {
        ItemPtr result = item;
        ItemPtr set = result[SearchResults];
        const std::string user = set[ServerTypes::User].AsString();
        if (user.empty())
            continue;
        ItemPtr download = transferQueueManager->AddDownload(
            user, result[SearchResultFileName].AsString(),
            result[SearchResultFileFolder].AsString(), result[SearchResultFileSize].AsInt64(), 0);
        // The download remembers what found it, to search for it again.
        if (ItemPtr text = set[SearchRequest][SearchRequestText])
            download.Connect(text);
    }
}

void SearchForm::OnResultDoubleClicked(QTreeWidgetItem* row, int)
{
    auto* tab = row ? qobject_cast<SearchResultsTab*>(row->treeWidget()->parentWidget()) : nullptr;
    if (tab)
        Download(tab->ResultsUnder({row}));
}

void SearchForm::OnActionBarTriggered(const std::string& action)
{
    QWidget* shown = actionBar ? actionBar->CurrentWidget() : nullptr;
    if (!shown)
        return;
    if (shown == m_wishList) {
        if (action == "remove_wish_list_item")
            m_wishList->RemoveSelectedEntry();
        else if (action == "enable_all_wish_list_items")
            WishListView::SetAllEnabled(true);
        else if (action == "disable_all_wish_list_items")
            WishListView::SetAllEnabled(false);
        return;
    }
    for (int n = 0; n < m_tabs->count(); ++n) {
        auto* tab = qobject_cast<SearchResultsTab*>(m_tabs->widget(n));
        if (tab && tab->Tree() == shown) {
            RunTabAction(tab, action);
            return;
        }
    }
}

void SearchForm::RunTabAction(SearchResultsTab* tab, const std::string& action)
{
    using Row = SearchResultListItem;
    if (action == "order_by_available")
        tab->SetSortColumn(Row::FreeColumn);
    else if (action == "order_by_fastest")
        tab->SetSortColumn(Row::SpeedColumn);
    else if (action == "expand_users")
        tab->SetExpandUsers(!tab->ExpandUsers());
    else if (action == "expand_folders")
        tab->SetExpandFolders(!tab->ExpandFolders());
    else if (action == "add_remove_wishlist")
        ToggleWishList(tab);
    else if (action == "download_search_results_file" ||
             action == "download_search_results_folder") {
        const int kind = action == "download_search_results_file" ? Row::FileRow : Row::FolderRow;
        QList<QTreeWidgetItem*> rows;
        for (QTreeWidgetItem* row : tab->Tree()->selectedItems())
            if (row->type() == kind)
                rows << row;
        Download(tab->ResultsUnder(rows));
    } else
        return;
    ShowActionTexts(tab);
}

void SearchForm::ToggleWishList(SearchResultsTab* tab)
{
    const std::string text = tab->Text().toUtf8().toStdString();
    if (ItemPtr entry = WishListSearcher::FindEntry(text))
        entry.Remove();
    else
        WishListSearcher::AddEntry(text);
}

void SearchForm::ShowActionTexts(SearchResultsTab* tab)
{
    if (!actionBar)
        return;
    using Row = SearchResultListItem;
    QWidget* tree = tab->Tree();
    const bool byAvailability = tab->SortColumn() == Row::FreeColumn;
    const bool bySpeed = tab->SortColumn() == Row::SpeedColumn;
    const bool listed = bool(WishListSearcher::FindEntry(tab->Text().toUtf8().toStdString()));
    actionBar->SetWidgetActionText(tree, "order_by_available",
                                   OnText("Order by Available", byAvailability));
    actionBar->SetWidgetActionText(tree, "order_by_fastest", OnText("Order by Fastest", bySpeed));
    actionBar->SetWidgetActionText(tree, "expand_users",
                                   OnOffText("Expand Users", tab->ExpandUsers()));
    actionBar->SetWidgetActionText(tree, "expand_folders",
                                   OnOffText("Expand Folders", tab->ExpandFolders()));
    actionBar->SetWidgetActionText(tree, "add_remove_wishlist",
                                   listed ? "Remove from Wish List" : "Add to Wishlist");
}

void SearchForm::OnContextMenu(const QPoint& position)
{
    auto* tree = qobject_cast<QTreeWidget*>(sender());
    QTreeWidgetItem* row = tree ? tree->itemAt(position) : nullptr;
    if (!row)
        return;
    QMenu menu(this);
    new UserMenuOptions(&menu, SearchResultsTab::UserOfRow(row), &menu);
    if (!menu.isEmpty())
        menu.exec(tree->viewport()->mapToGlobal(position));
}
