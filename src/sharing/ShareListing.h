#pragma once

#include <string>

#include <QByteArray>

#include "store/ItemSet.h"
#include "streams/MemStream.h"

// The two listings a peer can ask for, built from the index on every
// request: the whole share and the contents of one folder, both limited to
// the given visible roots.
namespace ShareListing {
MemStream SharedFilesMessage(const ItemSet& visibleRoots);
// The same message in two steps for serving it off the event loop: the
// uncompressed body, which reads the store, and the message made of it,
// which touches nothing else and may run on any thread. Bytes travel as
// QByteArray because its sharing, unlike a MemStream's, is thread-safe.
QByteArray SharedFilesBody(const ItemSet& visibleRoots);
// Both empty when the listing cannot be written.
QByteArray PackSharedFiles(const QByteArray& body);
MemStream FolderContentsMessage(const ItemSet& visibleRoots, unsigned int token,
                                const std::string& folder);
} // namespace ShareListing
