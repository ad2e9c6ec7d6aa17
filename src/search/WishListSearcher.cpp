#include "search/WishListSearcher.h"

#include <algorithm>
#include <iterator>
#include <list>

#include "base/Log.h"
#include "base/LogCategory.h"
#include "base/Settings.h"
#include "search/WishListTypes.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/DataSaver.h"

WishListSearcher* wishListSearcher = nullptr;

using namespace WishListTypes;

namespace {
constexpr const char* SearchIndex = "wish_list_search_index";
constexpr const char* WaitPeriod = "wish_list_wait";
} // namespace

WishListSearcher::WishListSearcher()
{
    wishListSearcher = this;
    Settings::SetVolatile(SearchIndex, 0);
    connect(&m_searchTimer, &QTimer::timeout, this, &WishListSearcher::OnSearchTimerTimeout);
    if (gp_server)
        connect(gp_server, &Server::WishListWait, this, &WishListSearcher::OnWishListWait);
}

WishListSearcher::~WishListSearcher()
{
    if (wishListSearcher == this)
        wishListSearcher = nullptr;
}

void WishListSearcher::DeclareSchema(DataSaver& saver)
{
    Type* entry = d.NewType(WishListItem, true, false, false);
    Type* enabled = d.NewType(WishListItemEnabled, false, true, false);

    // One shared marker; an entry is enabled while it hangs on it.
    entry->RelateToType(enabled, MANY, ONE, false);

    saver.AddSavedType(WishListItem);
    saver.AddSavedType(WishListItemEnabled);
}

ItemPtr WishListSearcher::AddEntry(const std::string& text)
{
    if (text.empty() || FindEntry(text))
        return ItemPtr();
    ItemPtr entry = d.GetType(WishListItem)->NewItem(text);
    SetEnabled(entry, true);
    return entry;
}

ItemPtr WishListSearcher::FindEntry(const std::string& text)
{
    return d.GetType(WishListItem)->HasItem(text);
}

void WishListSearcher::SetEnabled(ItemPtr entry, bool enabled)
{
    if (enabled)
        entry.NewItem(WishListItemEnabled);
    else if (entry.IsConnected(WishListItemEnabled))
        entry.Disconnect(WishListItemEnabled);
}

bool WishListSearcher::IsEnabled(ItemPtr entry)
{
    return entry && entry.IsConnected(WishListItemEnabled);
}

void WishListSearcher::OnWishListWait(unsigned int waitPeriod)
{
    Settings::SetVolatile(WaitPeriod, waitPeriod);
    m_searchTimer.stop();
    Log(LogCategory::WishList, 1,
        QString("Wish list wait period set to %1 milliseconds").arg(waitPeriod));
    m_searchTimer.setInterval(static_cast<int>(std::min(waitPeriod, 0x7fffffffu)));
    m_searchTimer.start();
}

void WishListSearcher::OnSearchTimerTimeout()
{
    const long long index = Settings::GetVolatileInt(SearchIndex, 0);
    ItemPtr marker = g(WishListItemEnabled);
    if (!marker || !gp_server)
        return;
    const std::list<Item*> entries = marker.GetItems(WishListItem).SortAlphabetic(true);
    if (entries.empty())
        return;

    const long long count = static_cast<long long>(entries.size());
    const long long position = index >= 0 ? index % count : 0;
    const std::string text = (*std::next(entries.begin(), position))->AsString();
    gp_server->FileSearch(text, true);
    Log(LogCategory::WishList, 1,
        QString("Sent wish list search: %1").arg(QString::fromStdString(text)));
    Settings::SetVolatile(SearchIndex, index + 1 < count ? index + 1 : 0);
}
