// Feeds arbitrary bytes to what a peer can send us about a transfer: the
// transfer messages (requests, responses, queueing, place in line, failures
// and denials) as the transfer manager takes them apart, and the start of a
// file connection as our UploadThread reads it.
//
// Input: byte 0 chooses the target. 0 to 6 read the rest as the body of one
// transfer message; whatever is accepted must survive writing and reading
// back, and its paths must split into a folder and a name the way the
// manager looks entries up. 7 sends the rest, over a real loopback
// connection, as the downloader's answer to an upload of a 20000-byte file:
// the upload must send the rest of the file exactly when the first eight
// bytes name an offset inside it, and fail otherwise, with the token as
// the only bytes sent.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <QCoreApplication>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "FuzzCheck.h"
#include "base/PathUtils.h"
#include "peers/PeerMessages.h"
#include "streams/MemStream.h"
#include "transfers/FileConnectionWire.h"
#include "transfers/UploadSpeedLimits.h"
#include "transfers/UploadThread.h"

namespace {

constexpr int FileLength = 20000;
constexpr quint32 Token = 0x01020304;

std::string Written(const MemStream& stream)
{
    return std::string(stream.GetBuffer(), static_cast<std::size_t>(stream.GetBufferLength()));
}

void CheckPath(const std::string& path)
{
    const std::string name = GetFileName(path);
    const std::string folder = GetFolder(path);
    FUZZ_CHECK(name.find('\\') == std::string::npos && name.find('/') == std::string::npos);
    FUZZ_CHECK(name.size() <= path.size() && folder.size() <= path.size());
}

template <class M> void CheckMessage(MemStream& body)
{
    M message;
    if (!message.Read(body))
        return;
    CheckPath(message.m_file);
    MemStream first;
    FUZZ_CHECK(message.Write(first));
    MemStream again;
    const std::string bytes = Written(first).substr(4);
    again.WriteBuffer(bytes.data(), bytes.size());
    M back;
    FUZZ_CHECK(back.Read(again));
    MemStream second;
    FUZZ_CHECK(back.Write(second));
    FUZZ_CHECK(Written(first) == Written(second));
}

void CheckTransferResponse(MemStream& body)
{
    PeerMessages::TransferResponse response;
    if (!response.Read(body))
        return;
    // A refusal carries a reason and never a size.
    FUZZ_CHECK(response.m_allowed || !response.m_hasSize);
    MemStream first;
    FUZZ_CHECK(response.Write(first));
}

void CheckMessages(std::uint8_t selector, const std::uint8_t* data, std::size_t size)
{
    using namespace PeerMessages;
    MemStream body;
    body.WriteBuffer(data, size);
    switch (selector) {
    case 0:
        return CheckMessage<TransferRequest>(body);
    case 1:
        return CheckTransferResponse(body);
    case 2:
        return CheckMessage<QueueUpload>(body);
    case 3:
        return CheckMessage<UploadPlaceInLine>(body);
    case 4:
        return CheckMessage<UploadFailed>(body);
    case 5:
        return CheckMessage<UploadDenied>(body);
    default:
        return CheckMessage<UploadPlaceInLineRequest>(body);
    }
}

// The world of the file-connection check, set up once: a listening socket
// and the file an upload sends.
struct World
{
    World()
    {
        static int argc = 1;
        static char name[] = "fuzz_transfer_input";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QCoreApplication>(argc, argv);
        FUZZ_CHECK(m_dir.isValid() && m_server.listen(QHostAddress::LocalHost));
        m_path = m_dir.filePath("shared");
        QFile file(m_path);
        m_content.resize(FileLength);
        for (int i = 0; i < FileLength; ++i)
            m_content[i] = static_cast<char>(i * 13 + 5);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly) && file.write(m_content) == FileLength);
    }

    std::unique_ptr<QCoreApplication> m_app;
    QTemporaryDir m_dir;
    QTcpServer m_server;
    QString m_path;
    QByteArray m_content;
};

void CheckFileConnection(const std::uint8_t* data, std::size_t size)
{
    static World world;
    QTcpSocket ours;
    ours.connectToHost(QHostAddress::LocalHost, world.m_server.serverPort());
    FUZZ_CHECK(world.m_server.waitForNewConnection(5000) && ours.waitForConnected(5000));
    std::unique_ptr<QTcpSocket> peer(world.m_server.nextPendingConnection());
    peer->setParent(nullptr);
    QFile file(world.m_path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));

    const QByteArray answer(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<quint64> offset = FileConnectionWire::DecodeOffset(answer);
    const bool valid = offset && FileConnectionWire::IsValidUploadOffset(*offset, FileLength);
    const QByteArray expected =
        FileConnectionWire::EncodeToken(Token) +
        (valid ? world.m_content.mid(static_cast<qsizetype>(*offset)) : QByteArray());

    UploadSpeedLimits limits;
    UploadThread thread(&ours, &file, Token, &limits);
    thread.SetWaitMs(50);
    std::atomic<int> complete{0};
    std::atomic<int> failed{0};
    QObject::connect(&thread, &UploadThread::UploadComplete, [&] { ++complete; });
    QObject::connect(&thread, &UploadThread::UploadError, [&] { ++failed; });
    QObject::connect(&thread, &UploadThread::UploadProgress,
                     [&thread](qint64, int) { thread.ProgressHandled(); });
    ours.moveToThread(&thread);
    // The answer is on its way before the upload starts: the upload waits
    // only 50 ms for it, and a busy machine can hold this thread longer than
    // that between starting the upload and writing.
    peer->write(answer);
    FUZZ_CHECK(answer.isEmpty() || peer->waitForBytesWritten(5000));
    thread.start();

    QByteArray received;
    while (!thread.isFinished()) {
        peer->waitForReadyRead(5);
        received += peer->readAll();
        if (received.size() >= expected.size() && peer->state() == QTcpSocket::ConnectedState)
            peer->disconnectFromHost();
    }
    FUZZ_CHECK(thread.wait(10000));
    // The upload may have finished on its short wait for our hang-up while
    // its last bytes were still on their way.
    while (received.size() < expected.size() && peer->waitForReadyRead(1000))
        received += peer->readAll();
    received += peer->readAll();
    FUZZ_CHECK(complete + failed == 1);
    FUZZ_CHECK((complete == 1) == valid);
    FUZZ_CHECK(received == expected);
    FUZZ_CHECK(ours.thread() == QThread::currentThread());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t selector = data[0] % 8;
    if (selector == 7)
        CheckFileConnection(data + 1, size - 1);
    else
        CheckMessages(selector, data + 1, size - 1);
    return 0;
}
