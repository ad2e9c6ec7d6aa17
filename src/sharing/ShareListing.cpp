#include "sharing/ShareListing.h"

namespace ShareListing {

MemStream SharedFilesMessage(const ItemSet&)
{
    return MemStream();
}

MemStream FolderContentsMessage(const ItemSet&, unsigned int, const std::string&)
{
    return MemStream();
}

} // namespace ShareListing
