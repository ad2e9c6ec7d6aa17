// Feeds arbitrary bytes to the server connection's reading step: the frame
// reader splits them into frames, arriving a piece at a time, and every
// frame's body goes to the reader of each server message with its code, in
// both directions (the client reads what the server sends, the lab server
// what clients send). Whatever a reader accepts must write and read back to
// the same message; the frame reader never hands out more than arrived and
// stays closed once a frame was too long.
//
// Input: byte 0 is the piece size (0 means all at once); the rest is what
// the other end sends.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "PieceDevice.h"
#include "server/Server.h"
#include "server/ServerMessages.h"
#include "streams/FrameReader.h"
#include "streams/MemStream.h"

namespace {

using namespace ServerMessages;

std::string Written(const auto& message)
{
    MemStream out;
    FUZZ_CHECK(message.Write(out));
    return std::string(out.GetBuffer(), static_cast<std::size_t>(out.GetBufferLength()));
}

// `body` is what follows the code, as the receiver has it once it has read
// the code to choose the message.
template <class Message> void CheckRead(const char* body, std::size_t size)
{
    MemStream in;
    in.WriteBuffer(body, size);
    Message message;
    if (!message.Read(in))
        return;
    const std::string written = Written(message);
    MemStream again;
    again.WriteBuffer(written.data(), written.size());
    unsigned int code = 0;
    FUZZ_CHECK(again.Read(code) && code == Message::Code);
    Message back;
    FUZZ_CHECK(back.Read(again));
    FUZZ_CHECK(again.GetPendingReadLength() == 0);
    FUZZ_CHECK(Written(back) == written);
}

template <class... Messages> void ReadAs(unsigned int code, const char* body, std::size_t size)
{
    ((code == Messages::Code ? CheckRead<Messages>(body, size) : void()), ...);
}

void ReadEveryWay(unsigned int code, const char* body, std::size_t size)
{
    using namespace ToServer;
    ReadAs<Login, SetWaitPort, GetUserAddress, AddUser, UntrackUser, GetUserStatus, GetUserStats,
           DNetGroupLeader, ToServer::RoomChat, EnterRoom, LeaveRoom, IndirectConnectionRequest,
           ToServer::PrivateChat, AcknowledgePrivateChat, UploadSpeed, DNetLevel, FileSearch,
           WishListSearch, SharedFilesFolders, GetRoomList, GetOwnPrivilegesStatus, DNetHasParent,
           DNetCanParent, ChildDepth, CantConnectToPeer>(code, body, size);

    using namespace FromServer;
    ReadAs<LoginReply, UserAddress, AddUserReply, UserStatus, FromServer::RoomChat, RoomEntered,
           RoomLeft, UserJoinedRoom, UserLeftRoom, PeerConnectionRequest, FromServer::PrivateChat,
           UserStatsReply, RoomList, PrivilegedUsers, DNetParentMinSpeed,
           DNetParentSpeedConnectionRatio, OwnPrivilegesStatus, DNetDeliveryReport, WishListWait,
           IndirectConnectionFailure, DNetMessage, PossibleParents, DNetReset>(code, body, size);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    if (size < 1)
        return 0;
    const qsizetype piece = bytes[0] ? bytes[0] : static_cast<qsizetype>(size);
    const QByteArray stream(reinterpret_cast<const char*>(bytes + 1),
                            static_cast<qsizetype>(size - 1));
    PieceDevice device(stream);
    FrameReader reader(Server::MaxBodyLength);
    MemStream body;
    qsizetype framed = 0;
    bool oversized = false;
    while (!device.AllArrived()) {
        device.Arrive(piece);
        FrameReader::Result result;
        while ((result = reader.Next(device, body)) == FrameReader::Complete) {
            FUZZ_CHECK(!oversized);
            FUZZ_CHECK(body.GetPendingReadLength() == body.GetBufferLength());
            framed += 4 + body.GetBufferLength();
            FUZZ_CHECK(framed <= stream.size());
            unsigned int code = 0;
            if (body.Read(code))
                ReadEveryWay(code, body.GetReadBuffer(),
                             static_cast<std::size_t>(body.GetPendingReadLength()));
        }
        oversized = oversized || result == FrameReader::Oversized;
        FUZZ_CHECK(!oversized || result == FrameReader::Oversized);
    }
    return 0;
}
