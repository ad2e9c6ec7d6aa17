#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>

#include <QAbstractSocket>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include "peers/Scrambler.h"
#include "peers/SocketBufferInfo.h"
#include "sharing/AttributeTranslationTable.h"
#include "sharing/FileInfoMap.h"
#include "store/DataHandler.h"
#include "store/DataLoadedEventHandler.h"
#include "store/ItemPtr.h"
#include "streams/MemStream.h"

class QIODevice;

// Every TCP connection between us and another peer: the two listening ports,
// reaching a user directly and through the server at once, identifying new
// connections by their first frame, the scrambled mode, framing, the queue of
// messages for users we have no connection to yet, and the half-minute pass
// that gives up on what did not complete. Messaging connections ("P") stay
// here; file ("F") and distributed-network ("D") connections are handed to
// their managers through signals once identified, and the receiver owns the
// socket from then on.
//
// All bookkeeping lives in the store (PeerTypes.h); a socket is found there
// by its address.
class PeerMessenger : public QObject, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    // Connection types, as requested from and announced to peers.
    static constexpr const char* MessagingConnection = "P";
    static constexpr const char* FileConnection = "F";
    static constexpr const char* DNetConnection = "D";

    static constexpr unsigned int DefaultListeningPort = 2235;
    static constexpr unsigned int DefaultObfuscatedListeningPort = 8973;
    // A longer frame is not a peer message but a broken or hostile stream.
    static constexpr std::uint32_t MaxFrameLength = 1048576;
    // The first frame of an accepted connection only names the peer and the
    // kind of connection; a longer one is refused before it is buffered.
    static constexpr std::uint32_t MaxFirstFrameLength = 4096;
    // What all connections together may hold in frames that have not come
    // whole: a frame's announced length is set aside when its header
    // arrives, so without a bound a few hundred identified peers announcing
    // the largest frames could make us hold gigabytes. The connection whose
    // frame would go beyond it is closed.
    static constexpr std::size_t DefaultFrameBudget = 64 * 1048576;
    // Accepted connections that have not identified themselves yet; more
    // are refused at once, so a flood of idle connections cannot use up
    // our file descriptors and memory.
    static constexpr std::size_t MaxUnidentifiedConnections = 1000;
    // The open files this program is built to hold: identified peers,
    // transfers and the unidentified connections above.
    static constexpr unsigned long PlannedOpenFiles = 4096;

    PeerMessenger();
    ~PeerMessenger() override;
    PeerMessenger(const PeerMessenger&) = delete;
    PeerMessenger& operator=(const PeerMessenger&) = delete;

    // Fills in the port settings and opens both listening ports.
    void DataLoaded() override;
    // (Re)opens both listening ports on all IPv4 interfaces from
    // "listening_port" and "obfuscated_listening_port". A setting of 0 picks
    // a free port, which is stored back into the setting. False when either
    // port could not be opened.
    bool Listen();

    // Starts reaching a user with a connection type, directly and through
    // the server at once; whichever way completes first wins.
    void ConnectToUser(const std::string& user, const char* type);
    void RequestDNetConnection(const std::string& user);
    void RequestFileConnectionToUser(const std::string& user);
    // The scrambled port when the user has one (setting `obfuscated`),
    // otherwise the plain port.
    unsigned int GetUserPort(ItemPtr user, bool& obfuscated);

    // Sends over the user's latest messaging connection, or queues the
    // message (a copy) and starts a connection.
    void SendMessage(const std::string& user, MemStream& message);
    // Frames, scrambles when asked, and writes one message. False when the
    // write fails; the socket is left to its error and expiry handling.
    bool SendMessage(QTcpSocket* socket, MemStream& message, bool obfuscated);
    // Sends the user's queued messages, oldest first, over its first
    // messaging connection.
    void SendUnsentMessages(const std::string& user);
    // Ends a socket and every record of it.
    void DisposeOfSocket(QTcpSocket* socket);
    // One complete frame from a socket: the first frame identifies the
    // connection, later ones are peer messages. False means the socket is to
    // be disposed of.
    bool HandleMessage(QTcpSocket* socket, MemStream message);
    // The reading step of one socket: takes what `device` has for it and
    // handles every complete frame. The device is the socket itself, except
    // for fuzzing, which feeds bytes from memory.
    void ReadSocket(QTcpSocket* socket, QIODevice& device);

    // Peer messages we send.
    void GetUserSharedFiles(const std::string& user);
    // Returns the transfer token put in the request.
    unsigned int RequestUpload(const std::string& user, const std::string& file, qint64 size);
    void AcceptTransferRequest(const std::string& user, unsigned int req, bool hasSize,
                               qint64 size);
    void DenyTransferRequest(const std::string& user, unsigned int req, const std::string& reason);
    void QueueDownload(const std::string& user, const std::string& file);
    void DenyUpload(const std::string& user, const std::string& file, const std::string& reason);

    // Bytes set aside for unfinished frames, and their bound (tests lower it).
    std::size_t FrameBytesHeld() const { return m_frameBytesHeld; }
    void SetFrameBudget(std::size_t bytes) { m_frameBudget = bytes; }

    // Where scrambling keys come from; tests set a known source.
    Scrambler& GetScrambler() { return m_scrambler; }

public slots:
    // Every half minute: expires queued messages, attempts and idle
    // messaging connections.
    void EveryHalfMinute();

signals:
    void FileConnectionRequested(std::string user, QTcpSocket* socket, unsigned int token);
    void FileConnectionAccepted(std::string user, QTcpSocket* socket);
    void DNetConnectionRequested(std::string user, QTcpSocket* socket);
    void DNetConnectionAccepted(std::string user, QTcpSocket* socket);

    void SearchResults(ItemPtr searchResults);
    // Connect directly: the arguments are references into the message.
    void UserShare(std::string userName, FileInfoMap& share,
                   AttributeTranslationTable& translationTable);
    // Answered by whoever keeps our share, which this layer knows nothing of.
    void SharedFileListRequested(std::string user);
    void SharedFilesInFolderRequested(std::string user, quint32 req, std::string folder);
    void FileTransferRequested(std::string user, int direction, unsigned int req, std::string file,
                               qint64 fileSize);
    void FileTransferResponse(std::string user, unsigned int req, bool accepted,
                              bool receivedFileSize, qint64 fileSize, std::string denialReason);
    void QueueUploadRequested(std::string user, std::string file);
    void DownloadPlaceInLine(std::string user, std::string file, int place);
    void UploadFailed(std::string user, std::string file);
    void UploadDenied(std::string user, std::string file, std::string reason);

private slots:
    void OnNewConnection();
    void OnNewObfuscatedConnection();
    void OnConnectedToServer();
    void OnIndirectPeerConnectionFailure(unsigned int token);
    void OnConnectToPeerSocketConnected();
    void OnConnectToPeerSocketError(QAbstractSocket::SocketError error);
    void OnIndirectResponseSocketConnected();
    void ProcessReadySockets();
    void ResumeAccepting();
    void DeleteDiscarded();
    void OnSocketClosed();
    void OnSocketError(QAbstractSocket::SocketError error);

private:
    enum HeaderResult
    {
        HeaderIncomplete,
        HeaderRead,
        HeaderOversized
    };

    // Store handlers.
    void OnPeerConnectionRequest(Item* request);
    void OnUserAddress(Item* user);
    void OnPeerSocketItemAdded(Item* peerSocket);
    void OnPeerSocketItemRemoved(Item* peerSocket);
    void RegisterStoreHandlers();

    // Establishing connections.
    bool ListenOn(QTcpServer& server, const char* portSetting);
    void AcceptPending(QTcpServer& server, bool obfuscated);
    void ConnectInput(QTcpSocket* socket);
    void Discard(QTcpSocket* socket);
    void OnSocketReadyToRead(QTcpSocket* socket);
    unsigned int PortFor(ItemPtr user, const std::string& type, bool& obfuscated);
    void StartDirectAttempt(ItemPtr request);
    void CompleteDirectAttempt(QTcpSocket* socket);
    void CompleteIndirectResponse(QTcpSocket* socket);
    void InspectPeerConnectionRequest(ItemPtr request);
    void DisposeOfPeerConnectionRequest(ItemPtr request);
    void OpenMessagingConnection(QTcpSocket* socket, ItemPtr user, bool obfuscated);
    void HandOver(QTcpSocket* socket);
    bool IdentifyConnection(QTcpSocket* socket, MemStream& frame);
    bool IdentifyIndirectResponse(QTcpSocket* socket, MemStream& frame, bool obfuscated);
    bool IdentifyPeerInit(QTcpSocket* socket, MemStream& frame, bool obfuscated);
    bool FailIdentification();

    // Reading.
    SocketBufferInfo& Record(QTcpSocket* socket);
    SocketBufferInfo* FindRecord(QTcpSocket* socket);
    HeaderResult ReadHeader(QTcpSocket* socket, QIODevice& device, SocketBufferInfo& info,
                            std::uint32_t longest);
    bool ReadBody(QIODevice& device, SocketBufferInfo& info);
    bool HandleFrame(QTcpSocket* socket, MemStream& body);
    bool TakeFrameBudget(QTcpSocket* socket, std::uint32_t length);
    void EndFrame(SocketBufferInfo& info);
    void ForgetRecord(QTcpSocket* socket);
    void ReadFileToken(QTcpSocket* socket, QIODevice& device);
    bool HandlePeerMessage(QTcpSocket* socket, MemStream& message);

    // Handlers of received peer messages; false when a field is missing.
    bool HandleSharedFileList(const std::string& user, MemStream& message);
    bool HandleFileSearchResult(const std::string& user, MemStream& message);
    bool HandleGetSharedFilesInFolder(const std::string& user, MemStream& message);
    bool HandleTransferRequest(const std::string& user, MemStream& message);
    bool HandleTransferResponse(const std::string& user, MemStream& message);
    bool HandleQueueUpload(const std::string& user, MemStream& message);
    bool HandleUploadPlaceInLine(const std::string& user, MemStream& message);
    bool HandleUploadFailed(const std::string& user, MemStream& message);
    bool HandleUploadDenied(const std::string& user, MemStream& message);

    // Sending and the queue.
    template <class Message> void Send(const std::string& user, const Message& message);
    template <class Message>
    bool SendFirstFrame(QTcpSocket* socket, const Message& message, bool obfuscated);
    ItemPtr LatestMessagingConnection(const ItemSet& sockets);
    void QueueMessage(ItemPtr user, const MemStream& message);
    void FreeUnsentMessage(ItemPtr unsent);

    // The half-minute pass, one step per kind of record.
    void ExpireUnsentMessages();
    void ExpireIndirectAttempts();
    void ExpireDirectAttempts();
    void ExpireIndirectResponses();
    void ExpireMessagingConnections();
    void ExpireUnidentifiedConnections();
    void ReleaseFreedMemory();

    QTcpServer m_server;
    QTcpServer m_obfuscatedServer;
    Scrambler m_scrambler;
    std::map<QTcpSocket*, std::unique_ptr<SocketBufferInfo>> m_records;
    // Sockets with bytes waiting, read in short slices on the event loop:
    // hundreds of peers answering a search at once must not hold the loop
    // for the time it takes to take in all their messages.
    std::deque<QPointer<QTcpSocket>> m_readyQueue;
    std::set<QTcpSocket*> m_queued;
    bool m_sliceScheduled = false;
    // The objects "last_activity_time" items stand for, and the copies of
    // queued messages "unsent_message" items stand for.
    std::map<QDateTime*, std::unique_ptr<QDateTime>> m_activityTimes;
    std::map<MemStream*, std::unique_ptr<MemStream>> m_unsentMessages;
    int m_sendOrder = 0;
    int m_disposalsSincePass = 0;
    int m_acceptsThisTurn = 0;
    // Closed sockets waiting for their turn to be deleted.
    std::deque<QPointer<QTcpSocket>> m_discarded;
    std::size_t m_frameBytesHeld = 0;
    std::size_t m_frameBudget = DefaultFrameBudget;
};

extern PeerMessenger* peerMessenger;
// Set first thing by the destructor: sockets closing while the messenger goes
// away must not be disposed of through it.
extern bool g_peerMessengerDeleted;
