#include "sharing/UserShareStore.h"

namespace UserShareStore {

void Store(const std::string&, const FileInfoMap&) {}

} // namespace UserShareStore
