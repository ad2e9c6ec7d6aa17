#include "NodeSearches.h"

#include "NodeOutput.h"
#include "peers/PeerMessenger.h"
#include "search/FilterParser.h"
#include "search/SearchTypes.h"
#include "search/WishListSearcher.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "sharing/FileItemDisplay.h"
#include "store/Data.h"

using namespace SearchTypes;

namespace {
QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}
} // namespace

NodeSearches::NodeSearches(QObject* parent) : QObject(parent) {}

void NodeSearches::ManagersCreated()
{
    connect(gp_server, &Server::SearchRequested, this, &NodeSearches::OnSearchRequested);
    connect(peerMessenger, &PeerMessenger::SearchResults, this, &NodeSearches::OnSearchResults);
}

void NodeSearches::Search(const QString& text)
{
    m_lastSearch = gp_server->FileSearch(text.toStdString(), false);
    NodeOutput::Print({"search-started", QString::number(m_lastSearch), text});
}

void NodeSearches::OnSearchRequested(unsigned int token, std::string text, bool wishList)
{
    // Typed searches announce themselves; the wish list sends on its own.
    if (wishList)
        NodeOutput::Print({"wish-search-started", QString::number(token), Q(text)});
}

void NodeSearches::Wish(const QString& actionAndText)
{
    const QString action = actionAndText.section(' ', 0, 0);
    const QString text = actionAndText.section(' ', 1).trimmed();
    const std::string entryText = text.toStdString();
    ItemPtr entry = WishListSearcher::FindEntry(entryText);
    if (text.isEmpty() || (action != "add" && !entry)) {
        NodeOutput::Print({"error", "no wish " + text});
        return;
    }
    if (action == "add") {
        if (!WishListSearcher::AddEntry(entryText)) {
            NodeOutput::Print({"error", "wish exists " + text});
            return;
        }
        NodeOutput::Print({"wish-added", text});
    } else if (action == "remove") {
        entry.Remove();
        NodeOutput::Print({"wish-removed", text});
    } else if (action == "enable" || action == "disable") {
        WishListSearcher::SetEnabled(entry, action == "enable");
        NodeOutput::Print({"wish-" + action + "d", text});
    } else {
        NodeOutput::Print({"error", "wish " + actionAndText});
    }
}

void NodeSearches::Filter(const QString& text)
{
    FilterParser filter;
    filter.Parse(text);
    ItemPtr request = d.GetType(SearchRequest)->HasItem(std::to_string(m_lastSearch));
    if (request) {
        for (Item* set : request.GetItems(SearchResults))
            for (Item* result : ItemPtr(set).GetItems(SearchResult)) {
                ItemPtr r(result);
                if (filter.IsFileShown(Q(r[SearchResultFileFolder].AsString()),
                                       Q(r[SearchResultFileName].AsString())))
                    PrintResult(set, r);
            }
    }
    NodeOutput::Print({"end"});
}

void NodeSearches::OnSearchResults(ItemPtr searchResults)
{
    for (Item* result : searchResults.GetItems(SearchResult))
        PrintResult(searchResults, result);
}

void NodeSearches::PrintResult(ItemPtr set, ItemPtr result)
{
    NodeOutput::Print(
        {"result", Q(set[SearchRequest].AsString()), Q(set[ServerTypes::User].AsString()),
         Q(result[SearchResultFileFolder].AsString()), Q(result[SearchResultFileName].AsString()),
         Q(result[SearchResultFileSize].AsString()),
         Q(FileItemDisplay::GetFileItemDisplayString(result)),
         Q(set[SearchResultsUserAvailable].AsString()), Q(set[SearchResultsUserSpeed].AsString()),
         Q(set[SearchResultsUploadsInQueue].AsString())});
}
