#pragma once

#include <list>
#include <set>
#include <string>
#include <utility>

#include "server/TCPAddress.h"
#include "streams/UserStats.h"

class InputStream;
class MemStream;
class OutputStream;

// Every message exchanged with the server, laid out once. The client and the
// lab server both build and parse them here, so the two can never disagree on
// a field.
//
// Write(out) writes the whole body: the u32 code, then the fields. Read(in)
// reads the fields that follow the code, because the receiver reads the code
// first to pick the message.
//
// Reads differ by direction:
// - ToServer (requests, parsed by the lab server) are strict: false on any
//   short or malformed input.
// - FromServer (parsed by the client) are lenient, as the client has always
//   been towards its server: every field is tried in turn, a field that cannot
//   be read keeps its initial value, and the client goes on with what it has.
//   A list whose count is above 131072 reads as empty; a string above 131072
//   bytes ends the list it is in, keeping the elements before it. Read still
//   returns whether every field was there, for whoever cares.
namespace ServerMessages {

// The version numbers the client logs in with.
constexpr unsigned int LoginVersion = 157;
constexpr unsigned int LoginMinorVersion = 100;
// What SetWaitPort sends between the two ports.
constexpr unsigned int WaitPortObfuscationType = 1;

namespace ToServer {

struct Login
{
    static constexpr unsigned int Code = 1;
    // The lowercase hexadecimal MD5 of the user name followed by the password.
    static std::string Digest(const std::string& user, const std::string& password);

    std::string m_user;
    std::string m_password;
    unsigned int m_version = LoginVersion;
    std::string m_digest;
    unsigned int m_minorVersion = LoginMinorVersion;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

struct SetWaitPort
{
    static constexpr unsigned int Code = 2;
    unsigned int m_port = 0;
    unsigned int m_obfuscationType = WaitPortObfuscationType;
    unsigned int m_obfuscatedPort = 0;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

// The requests that carry nothing but a user name.
template <unsigned int C> struct UserRequest
{
    static constexpr unsigned int Code = C;
    std::string m_user;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};
using GetUserAddress = UserRequest<3>;
using AddUser = UserRequest<5>;
using UntrackUser = UserRequest<6>;
using GetUserStatus = UserRequest<7>;
using GetUserStats = UserRequest<36>;
using DNetGroupLeader = UserRequest<127>;

struct RoomChat
{
    static constexpr unsigned int Code = 13;
    std::string m_room;
    std::string m_text;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

// The requests that carry nothing but a room name.
template <unsigned int C> struct RoomRequest
{
    static constexpr unsigned int Code = C;
    std::string m_room;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};
using EnterRoom = RoomRequest<14>;
using LeaveRoom = RoomRequest<15>;

struct IndirectConnectionRequest
{
    static constexpr unsigned int Code = 18;
    unsigned int m_token = 0;
    std::string m_user;
    std::string m_type;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

struct PrivateChat
{
    static constexpr unsigned int Code = 22;
    std::string m_user;
    std::string m_text;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

// The requests that carry one u32.
template <unsigned int C> struct NumberRequest
{
    static constexpr unsigned int Code = C;
    unsigned int m_value = 0;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};
using AcknowledgePrivateChat = NumberRequest<23>;
using UploadSpeed = NumberRequest<121>;
using DNetLevel = NumberRequest<126>;

// A search under a token: code 26 for the user's own, 103 for the wish list's.
template <unsigned int C> struct SearchRequest
{
    static constexpr unsigned int Code = C;
    unsigned int m_token = 0;
    std::string m_text;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};
using FileSearch = SearchRequest<26>;
using WishListSearch = SearchRequest<103>;

struct SharedFilesFolders
{
    static constexpr unsigned int Code = 35;
    unsigned int m_folders = 0;
    unsigned int m_files = 0;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

// The requests that are their code alone.
template <unsigned int C> struct EmptyRequest
{
    static constexpr unsigned int Code = C;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};
using GetRoomList = EmptyRequest<64>;
using GetOwnPrivilegesStatus = EmptyRequest<92>;

// The requests that carry one u8 truth value.
template <unsigned int C> struct FlagRequest
{
    static constexpr unsigned int Code = C;
    bool m_value = false;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};
using DNetHasParent = FlagRequest<71>;
using DNetCanParent = FlagRequest<100>;
using ChildDepth = FlagRequest<129>;

struct CantConnectToPeer
{
    static constexpr unsigned int Code = 1001;
    unsigned int m_token = 0;
    std::string m_user;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

} // namespace ToServer

namespace FromServer {

struct LoginReply
{
    static constexpr unsigned int Code = 1;
    bool m_success = false;
    // Only on failure.
    std::string m_reason;
    // Only on success; the client reads them and has no use for them.
    std::string m_unusedText;
    unsigned int m_unusedNumber = 0;
    std::string m_unusedTrailer;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

struct UserAddress
{
    static constexpr unsigned int Code = 3;
    // The one obfuscation type whose port the client uses.
    static constexpr int ObfuscationTypeWithPort = 1;

    std::string m_user;
    unsigned int m_address = 0;
    int m_port = 0;
    int m_obfuscationType = 0;
    int m_obfuscatedPort = 0;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

struct AddUserReply
{
    static constexpr unsigned int Code = 5;
    std::string m_user;
    bool m_exists = false;
    // The rest only when the user exists; the country only when online.
    int m_status = 0;
    UserStats m_stats;
    std::string m_countryCode;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

struct UserStatus
{
    static constexpr unsigned int Code = 7;
    std::string m_user;
    int m_status = 0;
    bool m_privileged = false;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

struct RoomChat
{
    static constexpr unsigned int Code = 13;
    std::string m_room;
    std::string m_user;
    std::string m_text;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

struct RoomEntered
{
    static constexpr unsigned int Code = 14;
    std::string m_room;
    std::list<std::string> m_users;
    std::list<int> m_unusedNumbers1; // not used by the client
    std::list<UserStats> m_stats;
    std::list<int> m_unusedNumbers2; // not used by the client
    std::list<std::string> m_countryCodes;
    // Older servers stop before the owner; only then is m_hasOwner false.
    bool m_hasOwner = false;
    std::string m_owner;
    std::set<std::string> m_operators;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

struct RoomLeft
{
    static constexpr unsigned int Code = 15;
    std::string m_room;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

struct UserJoinedRoom
{
    static constexpr unsigned int Code = 16;
    std::string m_room;
    std::string m_user;
    int m_unusedNumber1 = 0; // not used by the client
    UserStats m_stats;
    int m_unusedNumber2 = 0; // not used by the client
    std::string m_countryCode;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

struct UserLeftRoom
{
    static constexpr unsigned int Code = 17;
    std::string m_room;
    std::string m_user;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

struct PeerConnectionRequest
{
    static constexpr unsigned int Code = 18;
    std::string m_user;
    std::string m_type;
    unsigned int m_address = 0;
    int m_port = 0;
    unsigned int m_token = 0;
    bool m_privileged = false;
    int m_obfuscationType = 0;
    // Present only when m_obfuscationType is UserAddress::ObfuscationTypeWithPort.
    int m_obfuscatedPort = 0;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

struct PrivateChat
{
    static constexpr unsigned int Code = 22;
    unsigned int m_id = 0;
    unsigned int m_time = 0;
    std::string m_user;
    std::string m_text;
    bool m_flag = false;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

struct UserStatsReply
{
    static constexpr unsigned int Code = 36;
    std::string m_user;
    UserStats m_stats;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

struct RoomList
{
    static constexpr unsigned int Code = 64;
    static constexpr int Groups = 3;
    // Three lists of room names, each with its list of user counts.
    std::list<std::string> m_names[Groups];
    std::list<int> m_counts[Groups];
    // Read and not used.
    std::set<std::string> m_unusedNames;
    std::list<int> m_unusedCounts;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

struct PrivilegedUsers
{
    static constexpr unsigned int Code = 69;
    std::set<std::string> m_users;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

// The messages that carry one i32.
template <unsigned int C> struct SignedMessage
{
    static constexpr unsigned int Code = C;
    int m_value = 0;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};
using DNetParentMinSpeed = SignedMessage<83>;
using DNetParentSpeedConnectionRatio = SignedMessage<84>;
using OwnPrivilegesStatus = SignedMessage<92>;
using DNetDeliveryReport = SignedMessage<128>;

// The messages that carry one u32.
template <unsigned int C> struct UnsignedMessage
{
    static constexpr unsigned int Code = C;
    unsigned int m_value = 0;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};
using WishListWait = UnsignedMessage<104>;
// The token of an indirect connection request the peer could not answer.
using IndirectConnectionFailure = UnsignedMessage<1001>;

// A message of the distributed network, passed down by the server as if it
// came from a parent.
struct DNetMessage
{
    static constexpr unsigned int Code = 93;
    // The embedded message from its one-byte code on, laid out as the
    // distributed network lays it out (dnet/DNetMessages.h).
    std::string m_embedded;

    bool Write(OutputStream& out) const;
    // Takes every byte left after the code.
    bool Read(MemStream& in);
};

struct PossibleParents
{
    static constexpr unsigned int Code = 102;
    std::list<std::pair<std::string, TCPAddress>> m_parents;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

struct DNetReset
{
    static constexpr unsigned int Code = 130;

    bool Write(OutputStream& out) const;
    bool Read(InputStream& in);
};

} // namespace FromServer

} // namespace ServerMessages
