#pragma once

#include <cstdint>

#include "streams/Persistent.h"

// A user's statistics as the server reports them, in room lists, user
// look-ups and statistics replies. 20 bytes on the wire.
class UserStats : public Persistent
{
public:
    static constexpr int WireSize = 20;

    UserStats() = default;
    UserStats(int averageSpeed, std::int64_t transferCount, int sharedFiles, int sharedFolders);

    bool Read(InputStream& in) override;
    bool Write(OutputStream& out) const override;

    bool operator==(const UserStats& other) const;
    bool operator!=(const UserStats& other) const { return !(*this == other); }

    int m_averageSpeed = 0;
    // Carried through but not interpreted by the client.
    std::int64_t m_transferCount = 0;
    int m_sharedFiles = 0;
    int m_sharedFolders = 0;
};
