#include "peers/SearchResultIntake.h"

#include "base/PathUtils.h"
#include "peers/PeerMessages.h"
#include "search/SearchTypes.h"
#include "server/ServerTypes.h"
#include "sharing/AttributeItems.h"
#include "sharing/FileInfo.h"
#include "store/Data.h"
#include "streams/Compression.h"

using namespace SearchTypes;

SearchResultIntake::Outcome SearchResultIntake::Receive(const std::string& user,
                                                        const MemStream& body)
{
    MemStream inflated = DecompressStream(body);
    PeerMessages::FileSearchResult message;
    if (!message.ReadSender(inflated) || message.m_user != user)
        return {};

    // Answers to a search that was closed, or never ours, are not an error.
    ItemPtr request = d.GetType(SearchRequest)->HasItem(message.m_token);
    if (!request)
        return {.m_acceptable = true, .m_searchResults = ItemPtr()};

    if (!message.ReadFiles(inflated))
        return {};
    message.ReadTrailer(inflated);

    // Repeats are looked for among the sets already tied to the user; this
    // set is tied to it only at the end, so a file listed twice in one
    // message is kept twice.
    const std::set<FileKey> known = KnownFiles(d.GetType(ServerTypes::User)->HasItem(user));
    ItemPtr results = d.GetType(SearchResults)->NewItem();
    for (const FileInfo& file : message.m_files) {
        const std::string name = GetFileName(file.m_name);
        const std::string folder = GetFolder(file.m_name);
        if (known.count({name, folder}) != 0)
            continue;
        results.Connect(NewResult(file, name, folder));
    }

    if (!results.IsConnected(SearchResult)) {
        results.Remove();
        return {.m_acceptable = true, .m_searchResults = ItemPtr()};
    }

    results.Connect(request);
    results.Connect(d.GetType(ServerTypes::User)->NewItem(user));
    results.Connect(
        d.GetType(SearchResultsUserAvailable)->GetItem(message.m_freeSlot ? "yes" : "no"));
    results.Connect(d.GetType(SearchResultsUserSpeed)->GetItem(message.m_averageSpeed));
    results.Connect(d.GetType(SearchResultsUploadsInQueue)->GetItem(message.m_queueLength));
    return {.m_acceptable = true, .m_searchResults = results};
}

std::set<SearchResultIntake::FileKey> SearchResultIntake::KnownFiles(ItemPtr user)
{
    std::set<FileKey> known;
    if (!user)
        return known;
    for (Item* set : user.GetItems(SearchResults)) {
        for (Item* result : ItemPtr(set).GetItems(SearchResult)) {
            ItemPtr file(result);
            known.emplace(file[SearchResultFileName].AsString(),
                          file[SearchResultFileFolder].AsString());
        }
    }
    return known;
}

ItemPtr SearchResultIntake::NewResult(const FileInfo& file, const std::string& name,
                                      const std::string& folder)
{
    ItemPtr result = d.GetType(SearchResult)->NewItem();
    AttributeItems::Connect(result, file.m_attributes);
    result.Connect(d.GetType(SearchResultFileName)->GetItem(name));
    result.Connect(d.GetType(SearchResultFileFolder)->GetItem(folder));
    result.Connect(d.GetType(SearchResultFileSize)->GetItem(file.m_size));
    return result;
}
