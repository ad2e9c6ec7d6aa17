#pragma once

#include <string>

#include "sharing/AttributeMap.h"
#include "streams/Persistent.h"

// One file as it travels in share listings, folder contents and search
// results. Sets of them are ordered by name, byte by byte.
class FileInfo : public Persistent
{
public:
    // Written before every record. A record whose marker reads 0 stops right
    // there: it counts as an entry, but an empty one.
    static constexpr unsigned char PresentMarker = 1;

    std::string m_name; // a path with "\" separators, or a bare file name
    long long m_size = 0;
    AttributeMap m_attributes;

    bool Read(InputStream& in) override;
    bool Write(OutputStream& out) const override;

    bool operator<(const FileInfo& other) const { return m_name < other.m_name; }
    bool operator==(const FileInfo& other) const;
};
