// Feeds arbitrary bytes to the readers of the distributed network's
// messages and to the manager that handles them. Byte 0 picks the target:
// 0 to 3 read one message of codes 3, 4, 5 and 7 from the rest; anything
// else splits the rest into messages (a length byte, then that many bytes,
// starting with the code) and hands each to the manager as the server would
// embed it. Whatever a reader accepts must write and read back to the same
// message; whatever the manager is given, its state must stay sound.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzCheck.h"
#include "base/Settings.h"
#include "dnet/DNetManager.h"
#include "dnet/DNetMessages.h"
#include "dnet/DNetTypes.h"
#include "peers/PeerSchema.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "streams/MemStream.h"

namespace {

std::string Written(const auto& message)
{
    MemStream out;
    FUZZ_CHECK(message.Write(out));
    return std::string(out.GetBuffer(), static_cast<std::size_t>(out.GetBufferLength()));
}

template <class Message> void CheckRead(const std::uint8_t* bytes, std::size_t size)
{
    MemStream in;
    in.WriteBuffer(bytes, size);
    Message message;
    if (!message.Read(in))
        return;
    const std::string body = Written(message);
    FUZZ_CHECK(!body.empty() && static_cast<unsigned char>(body[0]) == Message::Code);
    MemStream again;
    again.WriteBuffer(body.data() + 1, body.size() - 1);
    Message back;
    FUZZ_CHECK(back.Read(again));
    FUZZ_CHECK(again.GetPendingReadLength() == 0);
    FUZZ_CHECK(Written(back) == body);
}

DNetManager& Manager()
{
    // The program's schemas, declared once, as at start-up; no server, no
    // peer messenger, no sockets.
    static DNetManager* manager = [] {
        dataSaver = new DataSaver();
        Settings::DeclareSchema(*dataSaver);
        Server::CreateData();
        PeerSchema::DeclareSchema();
        return new DNetManager();
    }();
    return *manager;
}

std::string StateOf(const char* name)
{
    ItemPtr variable = d.GetType(DNetTypes::DNetGlobal)->HasItem(name);
    return variable ? variable[DNetTypes::DNetValue].AsString() : std::string();
}

void CheckManager(const std::uint8_t* bytes, std::size_t size)
{
    DNetManager& manager = Manager();
    d.RemoveAllItems();
    std::size_t offset = 0;
    while (offset < size) {
        const std::size_t length = std::min<std::size_t>(bytes[offset], size - offset - 1);
        MemStream body;
        body.WriteBuffer(bytes + offset + 1, length);
        manager.OnDNetMessage(body);
        offset += 1 + length;
    }
    // Only a candidate connection can become a parent, and a level is
    // either unknown or one more than a parent's.
    FUZZ_CHECK(StateOf(DNetTypes::State::ParentUser).empty());
    const std::string level = StateOf(DNetTypes::State::Level);
    FUZZ_CHECK(level.empty() || std::atoi(level.c_str()) >= -1);
    FUZZ_CHECK(level != "0");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t* rest = bytes + 1;
    const std::size_t restSize = size - 1;
    switch (bytes[0]) {
    case 0:
        CheckRead<DNetMessages::SearchRequest>(rest, restSize);
        break;
    case 1:
        CheckRead<DNetMessages::Level>(rest, restSize);
        break;
    case 2:
        CheckRead<DNetMessages::GroupLeader>(rest, restSize);
        break;
    case 3:
        CheckRead<DNetMessages::ChildDepth>(rest, restSize);
        break;
    default:
        CheckManager(rest, restSize);
        break;
    }
    return 0;
}
