#pragma once

#include <map>
#include <set>
#include <string>

#include "sharing/FileInfo.h"

// A whole share listing: each folder path ("\" separators) with its files.
// On the wire a u32 folder count, then per folder its path, a u32 file count
// and the file records, in path order; the stream's container reads refuse
// counts above 131072 and strings above 131072 bytes.
using FileInfoMap = std::map<std::string, std::set<FileInfo>>;
