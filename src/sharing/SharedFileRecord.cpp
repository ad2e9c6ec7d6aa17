#include "sharing/SharedFileRecord.h"

#include <algorithm>
#include <utility>

#include "base/PathUtils.h"
#include "search/SearchTypes.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"

namespace SharedFileRecord {

std::string ToSharedPath(std::string localPath)
{
    std::replace(localPath.begin(), localPath.end(), '/', '\\');
    return localPath;
}

std::string ToLocalPath(std::string sharedPath)
{
    std::replace(sharedPath.begin(), sharedPath.end(), '\\', '/');
    return sharedPath;
}

FileInfo Make(ItemPtr file, std::string name)
{
    FileInfo info;
    info.m_name = std::move(name);
    info.m_size = file[SharingTypes::SharedFileSize].AsInt64();
    if (GetFileExtension(info.m_name) != "mp3")
        return info;
    info.m_attributes.m_extension = "mp3";
    auto& attributes = info.m_attributes.m_attributes;
    if (ItemPtr bitrate = file[SearchTypes::Bitrate])
        attributes.emplace_back(AttributeMap::Bitrate, bitrate.AsUInt());
    if (ItemPtr mode = file[SearchTypes::BitrateMode])
        attributes.emplace_back(AttributeMap::VariableBitrate, mode.AsString() == "vbr" ? 1u : 0u);
    return info;
}

std::string SharedPath(std::string_view folder, std::string_view name)
{
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path.append(folder).append(1, '/').append(name);
    return ToSharedPath(std::move(path));
}

} // namespace SharedFileRecord
