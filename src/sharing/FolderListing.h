#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What the folder lister found in one directory, handed from its thread to
// the event loop. Paths and names are UTF-8.
//
// The names of a directory's files sit back to back in one buffer, each
// ended by a zero byte: a share of a million files otherwise cost a
// million allocations on the lister's thread and as many frees on the
// event loop's, which took a fifth of the walk.
struct FolderListing
{
    struct File
    {
        std::uint32_t nameAt = 0;
        std::uint32_t nameLength = 0;
        long long size = 0;
    };

    std::string directory;
    // The root whose walk reached the directory.
    std::string rootPath;
    std::vector<File> files;
    std::string names;
    // Set on the one record that closes a walk; it carries no directory.
    bool endOfWalk = false;

    void AddFile(const char* name, std::size_t length, long long size)
    {
        files.push_back(
            {static_cast<std::uint32_t>(names.size()), static_cast<std::uint32_t>(length), size});
        names.append(name, length);
        names.push_back('\0');
    }
    std::string_view Name(const File& file) const
    {
        return std::string_view(names.data() + file.nameAt, file.nameLength);
    }
    // The same, ended by a zero byte.
    const char* CName(const File& file) const { return names.data() + file.nameAt; }
};
