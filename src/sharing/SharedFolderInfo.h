#pragma once

#include <set>

#include "sharing/FileInfo.h"
#include "streams/Persistent.h"

// The files of one folder, as a folder-contents reply carries them.
class SharedFolderInfo : public Persistent
{
public:
    std::set<FileInfo> m_files;

    // The files, then a u32 that we always write as 0 and skip on reading:
    // nothing we know of gives it a meaning, but it is part of the record.
    bool Read(InputStream& in) override;
    bool Write(OutputStream& out) const override;

    bool operator==(const SharedFolderInfo& other) const { return m_files == other.m_files; }
};
