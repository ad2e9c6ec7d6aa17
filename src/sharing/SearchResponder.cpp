#include "sharing/SearchResponder.h"

#include <algorithm>
#include <cctype>
#include <list>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Settings.h"
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

// A file on its way out, with its full shared path built once: the path is
// both what the matches are ordered by and the name its record carries.
struct Match
{
    std::string path;
    Item* file;
};

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

// The files indexed under every included word. None when a word is not in
// the index at all, and none when there is no included word: parts of names
// only narrow what the words found. The files of the rarest word are walked
// and kept when every other word holds them too, so a common word costs no
// copy of its whole set; the walk stops as soon as `visit` says so.
template <class Visit> void ForEachCandidate(const SearchParser& query, Visit visit)
{
    Type* tokenType = d.GetType(SearchToken);
    Type* fileType = d.GetType(SharedFile);
    std::vector<const ItemSet*> sets;
    for (const std::string& word : query.GetIncludedTokenSet()) {
        ItemPtr token = tokenType->HasItem(FoldCase(word));
        const ItemSet* files = token ? token->Partners(fileType) : nullptr;
        if (!files)
            return;
        sets.push_back(files);
    }
    if (sets.empty())
        return;
    std::sort(sets.begin(), sets.end(),
              [](const ItemSet* a, const ItemSet* b) { return a->size() < b->size(); });
    // Every set is in address order, so each other set is searched from
    // where the previous candidate left it rather than from the top.
    std::vector<ItemSet::Seeker> others;
    for (std::size_t n = 1; n < sets.size(); ++n)
        others.emplace_back(*sets[n]);
    for (Item* file : *sets.front()) {
        const bool everywhere =
            std::all_of(others.begin(), others.end(),
                        [file](ItemSet::Seeker& other) { return other.Contains(file); });
        if (everywhere && !visit(file))
            return;
    }
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

bool HasNameFilters(const SearchParser& query)
{
    return !query.GetExcludedTokenSet().empty() || !query.GetIncludedPartTokenSet().empty();
}

// The types a candidate is checked against, looked up once per query
// rather than by name for each of thousands of candidates.
struct CandidateTypes
{
    Type* name = d.GetType(SharedFileName);
    Type* folder = d.GetType(SharedFileFolder);
    Type* root = d.GetType(SharedFolder);
};

bool IsUnderAny(Item* file, const ItemSet& roots, const CandidateTypes& types)
{
    Item* folder = file->HasItem(types.folder);
    const ItemSet* holders = folder ? folder->Partners(types.root) : nullptr;
    if (holders)
        for (Item* root : *holders)
            if (roots.contains(root))
                return true;
    return false;
}

bool IsVisible(Item* file, const SearchParser& query, const ItemSet& roots,
               const CandidateTypes& types)
{
    Item* name = file->HasItem(types.name);
    return name && NameFits(name->AsString(), query) && IsUnderAny(file, roots, types);
}

// The shared path of a candidate, its strings read in place.
std::string SharedPath(Item* file, const CandidateTypes& types)
{
    const Item* folder = file->HasItem(types.folder);
    const Item* name = file->HasItem(types.name);
    return SharedFileRecord::SharedPath(folder ? folder->AsString() : std::string_view(),
                                        name ? name->AsString() : std::string_view());
}

// The records in the order of their full shared paths, byte by byte, each
// path once. The order is that of the whole strings, not folder then name:
// a folder whose name another's extends ("ab c" beside "ab") sorts by the
// byte after the shorter name against the separator. The sort is stable,
// so that of two files under one path the first found goes out, as it would
// from a map keyed by the path.
void AddRecords(const std::vector<Item*>& found, const CandidateTypes& types,
                std::list<FileInfo>& records)
{
    std::vector<Match> matches;
    matches.reserve(found.size());
    for (Item* file : found)
        matches.push_back({SharedPath(file, types), file});
    std::stable_sort(matches.begin(), matches.end(),
                     [](const Match& a, const Match& b) { return a.path < b.path; });
    const auto end = std::unique(matches.begin(), matches.end(),
                                 [](const Match& a, const Match& b) { return a.path == b.path; });
    for (auto match = matches.begin(); match != end; ++match)
        records.push_back(SharedFileRecord::Make(match->file, std::move(match->path)));
}

bool LiesWithin(const std::string& path, const std::string& root)
{
    return path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
           (root.back() == '/' || path[root.size()] == '/');
}

// Whether every file the words find is one this user may see, so that
// counting them tells the answer. It takes a query of words alone, a user
// who sees every root, and every folder under exactly one root: the sizes
// of the roots' folder sets add up to all folders, and no root lies inside
// another to hold a folder twice. A folder whose root went away keeps its
// files in the index until the next collection; then the sum falls short.
bool EveryCandidateVisible(const SearchParser& query, const ItemSet& roots,
                           const CandidateTypes& types)
{
    if (HasNameFilters(query) || roots.size() != types.root->ItemCount())
        return false;
    std::size_t folders = 0;
    for (Item* root : roots) {
        if (const ItemSet* held = root->Partners(types.folder))
            folders += held->size();
        for (Item* other : roots)
            if (LiesWithin(other->AsString(), root->AsString()))
                return false;
    }
    return folders == types.folder->ItemCount();
}

// False when nothing matches or more than we answer; records are built
// only once the count is known to fit, since most common words overflow.
// Reading a candidate's name, folder and root costs a few cache misses, so
// when the count alone decides, the candidates are only counted and just
// the at most 200 that go out are read.
bool CollectMatches(const SearchParser& query, const ItemSet& roots, std::list<FileInfo>& records)
{
    const CandidateTypes types;
    const bool counted = EveryCandidateVisible(query, roots, types);
    std::vector<Item*> found;
    found.reserve(MaxResults + 1);
    ForEachCandidate(query, [&](Item* file) {
        if (counted || IsVisible(file, query, roots, types))
            found.push_back(file);
        return found.size() <= MaxResults;
    });
    if (found.size() > MaxResults)
        return false;
    if (counted)
        std::erase_if(found, [&](Item* file) { return !IsVisible(file, query, roots, types); });
    if (found.empty())
        return false;
    AddRecords(found, types, records);
    return true;
}

} // namespace

bool BuildReply(SharedFoldersManager& manager, const std::string& user, unsigned int token,
                const std::string& text, MemStream& reply)
{
    PeerMessages::FileSearchResult result;
    return CollectReply(manager, user, token, text, result) && result.Write(reply);
}

bool CollectReply(SharedFoldersManager& manager, const std::string& user, unsigned int token,
                  const std::string& text, PeerMessages::FileSearchResult& result)
{
    SearchParser query;
    if (!query.SetSearchText(text))
        return false;
    const ItemSet roots = manager.GetUserSharedFolders(user);
    std::list<FileInfo> records;
    if (roots.empty() || !CollectMatches(query, roots, records))
        return false;

    result.m_user = Settings::Get("username");
    result.m_token = token;
    result.m_files.splice(result.m_files.end(), records);
    const UploadAvailability& uploads = UploadAvailability::Current();
    result.m_freeSlot = uploads.IsFreeToUpload();
    result.m_averageSpeed = static_cast<unsigned int>(Settings::GetInt("upload_speed", 0));
    result.m_queueLength = uploads.QueuedUploadCount();
    return true;
}

} // namespace SearchResponder
