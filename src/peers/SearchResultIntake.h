#pragma once

#include <set>
#include <string>
#include <utility>

#include "store/ItemPtr.h"

class FileInfo;
class MemStream;

// Turns a received search result (message code 9) into a "search_results"
// set in the store, one "search_result" per file not seen before.
class SearchResultIntake
{
public:
    struct Outcome
    {
        // False when the message is malformed or claims another sender; the
        // connection it came on is then closed.
        bool m_acceptable = false;
        // The new set, connected to its request and user; null when nothing
        // was stored (unknown search, or every file a repeat).
        ItemPtr m_searchResults;
    };

    // `user` is the user of the connection the message came on; `body` is
    // the compressed rest of the message after the code.
    static Outcome Receive(const std::string& user, const MemStream& body);

private:
    using FileKey = std::pair<std::string, std::string>; // file name, folder

    // Every file name and folder this user has sent results for, under any
    // search, gathered once per message so that a long message costs no
    // more than a short one per file.
    static std::set<FileKey> KnownFiles(ItemPtr user);
    static ItemPtr NewResult(const FileInfo& file, const std::string& name,
                             const std::string& folder);
};
