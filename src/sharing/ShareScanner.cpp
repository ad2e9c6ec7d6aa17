#include "sharing/ShareScanner.h"

#include <cctype>

#include "sharing/SharedFoldersManager.h"
#include "store/ItemPtr.h"

ShareScanner::ShareScanner(SharedFoldersManager& manager) : m_manager(manager) {}

void ShareScanner::RescanAll()
{
    emit Finished(0, 0);
}

void ShareScanner::ScanFolder(const std::string&, const std::string&) {}

bool ShareScanner::IsBusy() const
{
    return false;
}

void ShareScanner::Wait() {}

void ShareScanner::Tokenize(ItemPtr) {}

bool ShareScanner::IsSearchTokenSeparator(unsigned char c)
{
    return c < 0x80 && !std::isalnum(c);
}
