// Feeds arbitrary bytes through the peer messenger's reading step, as if
// they arrived on one peer socket, plain or scrambled, either as a new
// connection (the first frame identifies it) or on an established messaging
// connection (every frame is a peer message). The bytes arrive in pieces of
// a size the input chooses. Whatever they are, the socket ends up handled,
// handed over or disposed of, with no record left behind; nothing crashes,
// hangs or leaks, and nothing stays set aside for its unfinished frames.
//
// Input: byte 0 chooses the mode (bit 0 scrambled, bit 1 established
// messaging connection), byte 1 the piece size (0 means all at once); the
// rest is what the peer sends.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QCoreApplication>
#include <QIODevice>
#include <QPointer>
#include <QTcpSocket>

#include "FuzzCheck.h"
#include "PieceDevice.h"
#include "base/Settings.h"
#include "peers/PeerMessenger.h"
#include "peers/PeerTypes.h"
#include "search/SearchTypes.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/ObjectValue.h"

namespace {

struct FuzzSetup
{
    int argc = 1;
    char name[16] = "fuzz_peer_input";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};

    FuzzSetup()
    {
        dataSaver = new DataSaver();
        Settings::DeclareSchema(*dataSaver);
        Server::CreateData();
        new Server();
        new PeerMessenger();
        // Whoever a connection is handed to owns the socket; here, nobody.
        auto release = [this](std::string, QTcpSocket* socket) { handedOver = socket; };
        QObject::connect(peerMessenger, &PeerMessenger::FileConnectionAccepted, release);
        QObject::connect(peerMessenger, &PeerMessenger::DNetConnectionAccepted, release);
        QObject::connect(peerMessenger, &PeerMessenger::DNetConnectionRequested, release);
        QObject::connect(
            peerMessenger, &PeerMessenger::FileConnectionRequested,
            [this](std::string, QTcpSocket* socket, unsigned int) { handedOver = socket; });
    }

    void Reset()
    {
        d.RemoveAllItems();
        Settings::Set("username", "fuzzer");
        // Results for search 1 are stored, so the intake runs all the way.
        d.GetType(SearchTypes::SearchRequest)->NewItem(1);
        // Tokens 1, 2 and 3 answer our own requests of each connection type.
        ItemPtr peer = d.GetType(ServerTypes::User)->GetItem("peer");
        unsigned int token = 1;
        for (const char* type : {"P", "F", "D"}) {
            ItemPtr indirect = d.GetType(PeerTypes::IndirectConnectToPeerRequest)->GetItem(token++);
            indirect.Connect(peer);
            indirect.Connect(d.GetType(PeerTypes::PeerConnectionType)->GetItem(type));
        }
        handedOver = nullptr;
    }

    QTcpSocket* handedOver = nullptr;
};

void Register(QTcpSocket* socket, bool obfuscated, bool established)
{
    using namespace PeerTypes;
    ItemPtr item =
        d.GetType(established ? PeerSocket : UninitializedSocket)->NewItem(ObjectValue(socket));
    if (established)
        item.Connect(d.GetType(ServerTypes::User)->GetItem("peer"));
    if (obfuscated)
        item.NewItem(IsObfuscated);
}

// Disposal queues the socket's deletion for a later turn, which then
// deletes it later still.
void DeleteDisposed()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    static FuzzSetup* setup = new FuzzSetup();
    if (size < 2)
        return 0;
    setup->Reset();
    const bool obfuscated = bytes[0] & 1;
    const bool established = bytes[0] & 2;
    const qsizetype piece = bytes[1] ? bytes[1] : static_cast<qsizetype>(size);

    // The socket is never opened: it only gives the connection its identity.
    QPointer<QTcpSocket> socket = new QTcpSocket();
    Register(socket, obfuscated, established);
    PieceDevice device(
        QByteArray(reinterpret_cast<const char*>(bytes + 2), static_cast<qsizetype>(size - 2)));
    while (!device.AllArrived()) {
        device.Arrive(piece);
        peerMessenger->ReadSocket(socket, device);
        DeleteDisposed();
        if (!socket || setup->handedOver)
            break;
    }
    if (setup->handedOver)
        delete setup->handedOver;
    else if (socket)
        peerMessenger->DisposeOfSocket(socket);
    DeleteDisposed();
    if (socket)
        std::abort(); // disposal must have scheduled its deletion
    // Whatever its frames announced was given back when it went.
    FUZZ_CHECK(peerMessenger->FrameBytesHeld() == 0);
    d.RemoveAllItems();
    return 0;
}
