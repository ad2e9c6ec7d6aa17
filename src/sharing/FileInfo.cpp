#include "sharing/FileInfo.h"

#include "streams/InputStream.h"
#include "streams/OutputStream.h"

bool FileInfo::Read(InputStream& in)
{
    *this = FileInfo();
    unsigned char marker = 0;
    if (!in.Read(marker))
        return false;
    if (marker == 0)
        return true;
    return in.Read(m_name) && in.Read(m_size) && in.Read(m_attributes);
}

bool FileInfo::Write(OutputStream& out) const
{
    return out.Write(PresentMarker) && out.Write(m_name) && out.Write(m_size) &&
           out.Write(m_attributes);
}

bool FileInfo::operator==(const FileInfo& other) const
{
    return m_name == other.m_name && m_size == other.m_size && m_attributes == other.m_attributes;
}
