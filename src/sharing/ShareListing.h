#pragma once

#include <string>

#include "store/ItemSet.h"
#include "streams/MemStream.h"

// The two listings a peer can ask for, built from the index on every
// request: the whole share and the contents of one folder, both limited to
// the given visible roots.
namespace ShareListing {
MemStream SharedFilesMessage(const ItemSet& visibleRoots);
MemStream FolderContentsMessage(const ItemSet& visibleRoots, unsigned int token,
                                const std::string& folder);
} // namespace ShareListing
