#include "sharing/SearchResponder.h"

#include <cctype>
#include <map>

#include "app/Settings.h"
#include "peers/PeerMessages.h"
#include "sharing/SearchParser.h"
#include "sharing/SharedFileRecord.h"
#include "sharing/SharedFoldersManager.h"
#include "sharing/SharingTypes.h"
#include "sharing/UploadAvailability.h"
#include "store/Data.h"
#include "streams/MemStream.h"

namespace SearchResponder {

namespace {

using namespace SharingTypes;

// Matching files by their full shared path, so that they go out in path
// order and each once.
using Matches = std::map<std::string, FileInfo>;

// The index keeps its words folded to lower case byte by byte. Clients send
// their queries in lower case, but one that does not would otherwise find
// nothing at all, so included words are folded the same way before the
// look-up. Exclusions and parts are left as sent: they are compared with
// the name as it is on disk.
std::string FoldCase(std::string word)
{
    for (char& c : word)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word;
}

// The files indexed under every included word. Empty when a word is not in
// the index at all, and when there is no included word: parts of names only
// narrow what the words found.
ItemSet Candidates(const SearchParser& query)
{
    Type* tokenType = d.GetType(SearchToken);
    ItemSet tokens;
    for (const std::string& word : query.GetIncludedTokenSet()) {
        ItemPtr token = tokenType->HasItem(FoldCase(word));
        if (!token)
            return ItemSet();
        tokens.insert(token);
    }
    return tokens.empty() ? ItemSet() : d.GetItemSubset(tokens, SharedFile);
}

bool NameFits(const std::string& name, const SearchParser& query)
{
    for (const std::string& excluded : query.GetExcludedTokenSet())
        if (name.find(excluded) != std::string::npos)
            return false;
    for (const std::string& part : query.GetIncludedPartTokenSet())
        if (name.find(part) == std::string::npos)
            return false;
    return true;
}

bool IsUnderAny(ItemPtr file, const ItemSet& roots)
{
    ItemPtr folder = file[SharedFileFolder];
    if (!folder)
        return false;
    for (Item* root : folder.GetItems(SharedFolder))
        if (roots.contains(root))
            return true;
    return false;
}

// False as soon as there are more matches than we answer.
bool CollectMatches(const SearchParser& query, const ItemSet& roots, Matches& matches)
{
    for (Item* candidate : Candidates(query)) {
        ItemPtr file(candidate);
        if (!NameFits(file[SharedFileName].AsString(), query) || !IsUnderAny(file, roots))
            continue;
        const std::string path = SharedFileRecord::ToSharedPath(SharedFileRecord::LocalPath(file));
        matches.emplace(path, SharedFileRecord::Make(file, path));
        if (matches.size() > MaxResults)
            return false;
    }
    return !matches.empty();
}

} // namespace

bool BuildReply(SharedFoldersManager& manager, const std::string& user, unsigned int token,
                const std::string& text, MemStream& reply)
{
    SearchParser query;
    if (!query.SetSearchText(text))
        return false;
    const ItemSet roots = manager.GetUserSharedFolders(user);
    Matches matches;
    if (roots.empty() || !CollectMatches(query, roots, matches))
        return false;

    PeerMessages::FileSearchResult result;
    result.m_user = Settings::Get("username");
    result.m_token = token;
    for (auto& [path, file] : matches)
        result.m_files.push_back(std::move(file));
    const UploadAvailability& uploads = UploadAvailability::Current();
    result.m_freeSlot = uploads.IsFreeToUpload();
    result.m_averageSpeed = static_cast<unsigned int>(Settings::GetInt("upload_speed", 0));
    result.m_queueLength = uploads.QueuedUploadCount();
    return result.Write(reply);
}

} // namespace SearchResponder
