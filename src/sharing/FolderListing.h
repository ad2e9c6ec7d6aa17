#pragma once

#include <string>
#include <vector>

// What the folder lister found in one directory, handed from its thread to
// the event loop. Paths and names are UTF-8.
struct FolderListing
{
    struct File
    {
        std::string name;
        long long size = 0;
    };

    std::string directory;
    // The root whose walk reached the directory.
    std::string rootPath;
    std::vector<File> files;
    // Set on the one record that closes a walk; it carries no directory.
    bool endOfWalk = false;
};
