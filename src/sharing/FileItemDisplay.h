#pragma once

#include <string>

#include "store/ItemPtr.h"

// The text shown for a file's audio attributes in result and share views.
class FileItemDisplay
{
public:
    // "192 VBR, 3m25s": the bitrate when known, the bitrate mode after it and
    // the length after a comma; each part is left out when the item lacks it.
    // Works on any item related to "bitrate", "bitrate_mode" and
    // "length_seconds".
    static std::string GetFileItemDisplayString(ItemPtr result);
};
