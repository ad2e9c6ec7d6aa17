#include "streams/UserStats.h"

#include "streams/InputStream.h"
#include "streams/OutputStream.h"

UserStats::UserStats(int averageSpeed, std::int64_t transferCount, int sharedFiles,
                     int sharedFolders)
    : m_averageSpeed(averageSpeed), m_transferCount(transferCount), m_sharedFiles(sharedFiles),
      m_sharedFolders(sharedFolders)
{}

bool UserStats::Read(InputStream& in)
{
    return in.Read(m_averageSpeed) && in.Read(m_transferCount) && in.Read(m_sharedFiles) &&
           in.Read(m_sharedFolders);
}

bool UserStats::Write(OutputStream& out) const
{
    return out.Write(m_averageSpeed) && out.Write(m_transferCount) && out.Write(m_sharedFiles) &&
           out.Write(m_sharedFolders);
}

bool UserStats::operator==(const UserStats& other) const
{
    return m_averageSpeed == other.m_averageSpeed && m_transferCount == other.m_transferCount &&
           m_sharedFiles == other.m_sharedFiles && m_sharedFolders == other.m_sharedFolders;
}
