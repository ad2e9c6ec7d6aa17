#include "sharing/SearchResponder.h"

#include "sharing/SharedFoldersManager.h"
#include "streams/MemStream.h"

namespace SearchResponder {

bool BuildReply(SharedFoldersManager&, const std::string&, unsigned int, const std::string&,
                MemStream&)
{
    return false;
}

} // namespace SearchResponder
