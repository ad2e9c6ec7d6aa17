#include "server/ServerMessages.h"

#include <QByteArray>
#include <QCryptographicHash>

#include "streams/InputStream.h"
#include "streams/MemStream.h"
#include "streams/OutputStream.h"

namespace {

// Requests: the first missing or malformed field fails the whole message.
template <class... T> bool ReadStrict(InputStream& in, T&... fields)
{
    return (in.Read(fields) && ...);
}

// Server messages: every field is tried in turn, whatever happened to the
// ones before it, so a field that cannot be read just keeps its initial value.
template <class... T> bool ReadEach(InputStream& in, T&... fields)
{
    bool complete = true;
    ((complete = in.Read(fields) && complete), ...);
    return complete;
}

template <class... T> bool WriteBody(OutputStream& out, unsigned int code, const T&... fields)
{
    return out.Write(code) && (out.Write(fields) && ...);
}

} // namespace

namespace ServerMessages {
namespace ToServer {

std::string Login::Digest(const std::string& user, const std::string& password)
{
    const QByteArray text = QByteArray::fromStdString(user + password);
    return QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex().toStdString();
}

bool Login::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_user, m_password, m_version, m_digest, m_minorVersion);
}

bool Login::Read(InputStream& in)
{
    return ReadStrict(in, m_user, m_password, m_version, m_digest, m_minorVersion);
}

bool SetWaitPort::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_port, m_obfuscationType, m_obfuscatedPort);
}

bool SetWaitPort::Read(InputStream& in)
{
    return ReadStrict(in, m_port, m_obfuscationType, m_obfuscatedPort);
}

template <unsigned int C> bool UserRequest<C>::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_user);
}

template <unsigned int C> bool UserRequest<C>::Read(InputStream& in)
{
    return ReadStrict(in, m_user);
}

template struct UserRequest<3>;
template struct UserRequest<5>;
template struct UserRequest<6>;
template struct UserRequest<7>;
template struct UserRequest<36>;
template struct UserRequest<127>;

bool RoomChat::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_room, m_text);
}

bool RoomChat::Read(InputStream& in)
{
    return ReadStrict(in, m_room, m_text);
}

template <unsigned int C> bool RoomRequest<C>::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_room);
}

template <unsigned int C> bool RoomRequest<C>::Read(InputStream& in)
{
    return ReadStrict(in, m_room);
}

template struct RoomRequest<14>;
template struct RoomRequest<15>;

bool IndirectConnectionRequest::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_token, m_user, m_type);
}

bool IndirectConnectionRequest::Read(InputStream& in)
{
    return ReadStrict(in, m_token, m_user, m_type);
}

bool PrivateChat::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_user, m_text);
}

bool PrivateChat::Read(InputStream& in)
{
    return ReadStrict(in, m_user, m_text);
}

template <unsigned int C> bool NumberRequest<C>::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_value);
}

template <unsigned int C> bool NumberRequest<C>::Read(InputStream& in)
{
    return ReadStrict(in, m_value);
}

template struct NumberRequest<23>;
template struct NumberRequest<121>;
template struct NumberRequest<126>;

template <unsigned int C> bool SearchRequest<C>::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_token, m_text);
}

template <unsigned int C> bool SearchRequest<C>::Read(InputStream& in)
{
    return ReadStrict(in, m_token, m_text);
}

template struct SearchRequest<26>;
template struct SearchRequest<103>;

bool SharedFilesFolders::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_folders, m_files);
}

bool SharedFilesFolders::Read(InputStream& in)
{
    return ReadStrict(in, m_folders, m_files);
}

template <unsigned int C> bool EmptyRequest<C>::Write(OutputStream& out) const
{
    return WriteBody(out, Code);
}

template <unsigned int C> bool EmptyRequest<C>::Read(InputStream&)
{
    return true;
}

template struct EmptyRequest<64>;
template struct EmptyRequest<92>;

template <unsigned int C> bool FlagRequest<C>::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_value);
}

template <unsigned int C> bool FlagRequest<C>::Read(InputStream& in)
{
    return ReadStrict(in, m_value);
}

template struct FlagRequest<71>;
template struct FlagRequest<100>;
template struct FlagRequest<129>;

bool CantConnectToPeer::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_token, m_user);
}

bool CantConnectToPeer::Read(InputStream& in)
{
    return ReadStrict(in, m_token, m_user);
}

} // namespace ToServer

namespace FromServer {

bool LoginReply::Write(OutputStream& out) const
{
    if (!m_success)
        return WriteBody(out, Code, m_success, m_reason);
    return WriteBody(out, Code, m_success, m_unusedText, m_unusedNumber, m_unusedTrailer);
}

bool LoginReply::Read(InputStream& in)
{
    const bool complete = in.Read(m_success);
    if (!m_success)
        return ReadEach(in, m_reason) && complete;
    return ReadEach(in, m_unusedText, m_unusedNumber, m_unusedTrailer) && complete;
}

bool UserAddress::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_user, m_address, m_port, m_obfuscationType, m_obfuscatedPort);
}

bool UserAddress::Read(InputStream& in)
{
    return ReadEach(in, m_user, m_address, m_port, m_obfuscationType, m_obfuscatedPort);
}

bool AddUserReply::Write(OutputStream& out) const
{
    if (!WriteBody(out, Code, m_user, m_exists))
        return false;
    if (!m_exists)
        return true;
    if (!out.Write(m_status) || !out.Write(m_stats))
        return false;
    return m_status < 1 || out.Write(m_countryCode);
}

bool AddUserReply::Read(InputStream& in)
{
    bool complete = ReadEach(in, m_user, m_exists);
    if (!m_exists)
        return complete;
    complete = ReadEach(in, m_status, m_stats) && complete;
    if (m_status >= 1)
        complete = in.Read(m_countryCode) && complete;
    return complete;
}

bool UserStatus::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_user, m_status, m_privileged);
}

bool UserStatus::Read(InputStream& in)
{
    return ReadEach(in, m_user, m_status, m_privileged);
}

bool RoomChat::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_room, m_user, m_text);
}

bool RoomChat::Read(InputStream& in)
{
    return ReadEach(in, m_room, m_user, m_text);
}

bool RoomEntered::Write(OutputStream& out) const
{
    if (!WriteBody(out, Code, m_room, m_users, m_unusedNumbers1, m_stats, m_unusedNumbers2,
                   m_countryCodes))
        return false;
    return !m_hasOwner || (out.Write(m_owner) && out.Write(m_operators));
}

bool RoomEntered::Read(InputStream& in)
{
    const bool complete =
        ReadEach(in, m_room, m_users, m_unusedNumbers1, m_stats, m_unusedNumbers2, m_countryCodes);
    // The owner part is optional: it counts as present exactly when its
    // first field can be read.
    m_hasOwner = in.Read(m_owner);
    if (m_hasOwner)
        return in.Read(m_operators) && complete;
    return complete;
}

bool RoomLeft::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_room);
}

bool RoomLeft::Read(InputStream& in)
{
    return ReadEach(in, m_room);
}

bool UserJoinedRoom::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_room, m_user, m_unusedNumber1, m_stats, m_unusedNumber2,
                     m_countryCode);
}

bool UserJoinedRoom::Read(InputStream& in)
{
    return ReadEach(in, m_room, m_user, m_unusedNumber1, m_stats, m_unusedNumber2, m_countryCode);
}

bool UserLeftRoom::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_room, m_user);
}

bool UserLeftRoom::Read(InputStream& in)
{
    return ReadEach(in, m_room, m_user);
}

bool PeerConnectionRequest::Write(OutputStream& out) const
{
    if (!WriteBody(out, Code, m_user, m_type, m_address, m_port, m_token, m_privileged,
                   m_obfuscationType))
        return false;
    return m_obfuscationType != UserAddress::ObfuscationTypeWithPort || out.Write(m_obfuscatedPort);
}

bool PeerConnectionRequest::Read(InputStream& in)
{
    const bool complete =
        ReadEach(in, m_user, m_type, m_address, m_port, m_token, m_privileged, m_obfuscationType);
    if (m_obfuscationType == UserAddress::ObfuscationTypeWithPort)
        return in.Read(m_obfuscatedPort) && complete;
    return complete;
}

bool PrivateChat::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_id, m_time, m_user, m_text, m_flag);
}

bool PrivateChat::Read(InputStream& in)
{
    return ReadEach(in, m_id, m_time, m_user, m_text, m_flag);
}

bool UserStatsReply::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_user, m_stats);
}

bool UserStatsReply::Read(InputStream& in)
{
    return ReadEach(in, m_user, m_stats);
}

bool RoomList::Write(OutputStream& out) const
{
    if (!out.Write(Code))
        return false;
    for (int group = 0; group < Groups; ++group)
        if (!out.Write(m_names[group]) || !out.Write(m_counts[group]))
            return false;
    return out.Write(m_unusedNames) && out.Write(m_unusedCounts);
}

bool RoomList::Read(InputStream& in)
{
    bool complete = true;
    for (int group = 0; group < Groups; ++group)
        complete = ReadEach(in, m_names[group], m_counts[group]) && complete;
    return ReadEach(in, m_unusedNames, m_unusedCounts) && complete;
}

bool PrivilegedUsers::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_users);
}

bool PrivilegedUsers::Read(InputStream& in)
{
    return ReadEach(in, m_users);
}

template <unsigned int C> bool SignedMessage<C>::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_value);
}

template <unsigned int C> bool SignedMessage<C>::Read(InputStream& in)
{
    return ReadEach(in, m_value);
}

template struct SignedMessage<83>;
template struct SignedMessage<84>;
template struct SignedMessage<92>;
template struct SignedMessage<128>;

template <unsigned int C> bool UnsignedMessage<C>::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_value);
}

template <unsigned int C> bool UnsignedMessage<C>::Read(InputStream& in)
{
    return ReadEach(in, m_value);
}

template struct UnsignedMessage<104>;
template struct UnsignedMessage<1001>;

bool DNetMessage::Write(OutputStream& out) const
{
    return out.Write(Code) && out.WriteBuffer(m_embedded.data(), m_embedded.size());
}

bool DNetMessage::Read(MemStream& in)
{
    m_embedded.resize(static_cast<std::size_t>(in.GetPendingReadLength()));
    return in.ReadBuffer(m_embedded.data(), m_embedded.size());
}

bool PossibleParents::Write(OutputStream& out) const
{
    return WriteBody(out, Code, m_parents);
}

bool PossibleParents::Read(InputStream& in)
{
    // A count above the container limit reads as no parents at all; an entry
    // that breaks off ends the list with the entries before it.
    return ReadEach(in, m_parents);
}

bool DNetReset::Write(OutputStream& out) const
{
    return WriteBody(out, Code);
}

bool DNetReset::Read(InputStream&)
{
    return true;
}

} // namespace FromServer

} // namespace ServerMessages
