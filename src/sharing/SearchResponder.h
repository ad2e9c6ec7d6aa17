#pragma once

#include <string>

class MemStream;
class SharedFoldersManager;

// Matches another user's search against our token index and builds the
// answer: the files the user may see, at most 200 of them.
namespace SearchResponder {
// False when there is nothing to send: a malformed query, no match, or more
// than 200 matches.
bool BuildReply(SharedFoldersManager& manager, const std::string& user, unsigned int token,
                const std::string& text, MemStream& reply);
} // namespace SearchResponder
