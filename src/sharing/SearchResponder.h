#pragma once

#include <cstddef>
#include <string>

#include "peers/PeerMessages.h"

class MemStream;
class SharedFoldersManager;

// Matches another user's search against our token index and builds the
// answer: the files the user may see, at most MaxResults of them.
namespace SearchResponder {

// A search matching more of our files than this gets no answer at all: it
// was too vague to be worth a reply of that size, and cutting the list
// would hide which files were left out.
constexpr std::size_t MaxResults = 200;

// False when there is nothing to send: a malformed query, no match, or more
// than MaxResults matches. Otherwise `reply` holds the whole compressed
// search-result message, with our own name, the searcher's token, the
// matches in path order and what our upload queue looks like right now.
bool BuildReply(SharedFoldersManager& manager, const std::string& user, unsigned int token,
                const std::string& text, MemStream& reply);

// The first half of BuildReply: the answer's fields, false as above. Its
// second half is only writing `result`, most of which is the compression
// at zlib's highest level that the message demands; the two are apart so
// that each can be timed on its own.
bool CollectReply(SharedFoldersManager& manager, const std::string& user, unsigned int token,
                  const std::string& text, PeerMessages::FileSearchResult& result);

} // namespace SearchResponder
