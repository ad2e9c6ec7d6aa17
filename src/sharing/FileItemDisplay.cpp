#include "sharing/FileItemDisplay.h"

#include "base/TextUtils.h"
#include "search/SearchTypes.h"

std::string FileItemDisplay::GetFileItemDisplayString(ItemPtr result)
{
    std::string text;
    if (ItemPtr bitrate = result[SearchTypes::Bitrate])
        text += std::to_string(bitrate.AsInt64());

    const std::string mode = result[SearchTypes::BitrateMode].AsString();
    if (mode == "vbr")
        text += " VBR";
    else if (mode == "cbr")
        text += " CBR";

    if (ItemPtr length = result[SearchTypes::LengthSeconds])
        text += ", " + FormatSeconds(static_cast<long>(length.AsInt64()));
    return text;
}
