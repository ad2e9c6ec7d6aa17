#pragma once

#include <string>
#include <string_view>

#include "sharing/FileInfo.h"

class ItemPtr;

// How our shared files leave this machine: paths with "\" separators and, for
// MP3 files, the bitrate the scanner found.
namespace SharedFileRecord {

// A local path as peers see it: every "/" becomes "\".
std::string ToSharedPath(std::string localPath);
// A path a peer sent back to us as a local path: every "\" becomes "/".
std::string ToLocalPath(std::string sharedPath);

// The record of one "shared_file" under the given name. A file whose
// extension is "mp3" in any case is listed as "mp3" with the bitrate (code 0)
// when it has been scanned and then whether it is VBR (code 2); any other
// file has no extension and no attributes. The name is taken by value so
// that a caller done with its string hands it over instead of copying it.
FileInfo Make(ItemPtr file, std::string name);

// The path a "shared_file" goes out under: its directory, "/", its name,
// with every "/" then made a "\". Built at its final length in one
// allocation, since a search reply makes up to 200 of them.
std::string SharedPath(std::string_view folder, std::string_view name);

} // namespace SharedFileRecord
