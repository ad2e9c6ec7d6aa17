#include "sharing/SharedFolderInfo.h"

#include "streams/InputStream.h"
#include "streams/OutputStream.h"

bool SharedFolderInfo::Read(InputStream& in)
{
    unsigned int unused = 0;
    return in.Read(m_files) && in.Read(unused);
}

bool SharedFolderInfo::Write(OutputStream& out) const
{
    return out.Write(m_files) && out.Write(0u);
}
