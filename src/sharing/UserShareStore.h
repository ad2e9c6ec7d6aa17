#pragma once

#include <string>

#include "sharing/FileInfoMap.h"

// Keeps a listing another user sent us in the store, where the share
// browser finds it.
namespace UserShareStore {
// Replaces whatever listing of the user was there before.
void Store(const std::string& user, const FileInfoMap& share);
// Forgets the user's listing, when there is one.
void Remove(const std::string& user);
} // namespace UserShareStore
