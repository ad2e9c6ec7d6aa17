#include <functional>

#include <QSignalSpy>
#include <QtTest>

#include "PeerTestSupport.h"
#include "peers/PeerMessages.h"
#include "search/SearchTypes.h"

using namespace PeerTypes;

namespace {

// A receiver's argument as the table writes it; collections as sizes.
QString Text(const auto& value)
{
    using T = std::decay_t<decltype(value)>;
    if constexpr (std::is_same_v<T, std::string>)
        return QString::fromStdString(value);
    else if constexpr (std::is_same_v<T, bool>)
        return value ? "true" : "false";
    else if constexpr (std::is_same_v<T, ItemPtr>)
        return QString::number(value.GetItems(SearchTypes::SearchResult).size());
    else if constexpr (std::is_arithmetic_v<T>)
        return QString::number(value);
    else
        return QString::number(value.size());
}

// Writes the body, reads it back to the same bytes, refuses it cut short.
using Check = std::function<void(const QByteArray& body, qsizetype required)>;
template <class M> Check Of(const M& message)
{
    return [message](const QByteArray& body, qsizetype required) {
        QCOMPARE(Written(message), body);
        M read;
        QVERIFY(ReadBody(body, read));
        QCOMPARE(Written(read), body);
        for (qsizetype cut = 4; cut < required; ++cut)
            QVERIFY2(!ReadBody(body.left(cut), read), qPrintable(QString::number(cut)));
    };
}

// A code, its bytes written by hand, the receiver's call it makes (none: it
// is named in the log and dropped) and, for what we write, our message.
struct Row
{
    const char* name;
    QByteArray body;
    QString received = {};
    Check ours = {};
    qsizetype required = 0; // when the body ends in an optional field
};

} // namespace

class PeerMessengerTest : public QObject, PeerHelpers
{
    Q_OBJECT

private slots:
    void initTestCase() { DeclareServerSchemas(); }
    void init()
    {
        d.RemoveAllItems();
        m_peers = std::make_unique<PeerSession>();
        QVERIFY(m_peers->LogIn());
    }
    void cleanup() { m_peers.reset(); }

    void ListeningPortsComeFromTheSettingsAndAreAnnounced();
    void DirectAttemptToAScrambledPortScramblesAllButTreeLinks();
    void UnknownAddressIsAskedForAndAttemptsAreNotDoubled();
    void BothWaysSucceedingOpenTwoConnections();
    void BrokeredRequestsAreAnsweredWithTheirToken();
    void SplitAndMergedFramesAreHandledInOrder_data();
    void SplitAndMergedFramesAreHandledInOrder();
    void FileConnectionsAreHandedOverWithTheBytesAfter();
    void EveryCodeIsLaidOutAsTheTableSaysAndReachesItsReceiver();
    void BrokenInputClosesOnlyItsConnection();
    void IntroductionsAreBoundedInSizeTimeAndNumber();
    void QueuedMessagesGoOutInOrderWithinFiveMinutes();
    void AttemptsEndOnFailureOrAfterAMinute();
    void IdleMessagingConnectionsCloseAfterTwoMinutes();
    void UnansweredBrokeredRequestTellsTheServer();

private:
    static constexpr std::uint32_t MaxFrame = 1048576;

    static QByteArray IndirectRequestSent(std::uint32_t token, const QByteArray& user,
                                          const QByteArray& type)
    {
        return Sent(Body(18).UInt32(token).String(user).String(type));
    }
    static QByteArray BrokeredRequest(const QByteArray& user, const QByteArray& type, quint16 port,
                                      std::uint32_t token, quint16 obfuscatedPort = 0)
    {
        ByteBuilder body = Body(18).String(user).String(type).UInt32(0x7f000001).Int32(port);
        body.UInt32(token).Byte(0).Int32(obfuscatedPort ? 1 : 0);
        return obfuscatedPort ? body.Int32(obfuscatedPort) : body;
    }
    static QList<int> Attempts()
    {
        return {CountOf(ConnectToPeerRequest), CountOf(ConnectToPeerRequestSocket),
                CountOf(IndirectConnectToPeerRequest)};
    }
    static std::uint32_t OnlyIndirectToken()
    {
        const ItemSet indirect = ItemsOf(IndirectConnectToPeerRequest);
        return indirect.size() == 1 ? ItemPtr(indirect.first()).AsUInt() : 0;
    }
    static QByteArray Zlib(const QByteArray& bytes) { return qCompress(bytes, 9).mid(4); }

    void PassAt(int seconds)
    {
        AtSeconds(seconds);
        messenger().EveryHalfMinute();
    }
    PeerSession& P() { return *m_peers; }
    ServerSession& S() { return m_peers->Server(); }
    PeerMessenger& messenger() { return *m_peers->messenger; }
    void Send(const char* user, const QByteArray& body)
    {
        MemStream message;
        message.WriteBuffer(body.constData(), static_cast<unsigned long>(body.size()));
        messenger().SendMessage(user, message);
    }

    std::unique_ptr<PeerSession> m_peers;
};

void PeerMessengerTest::ListeningPortsComeFromTheSettingsAndAreAnnounced()
{
    // The session, logging in after the messenger existed, announced them.
    QVERIFY(P().Port() != 0 && P().ObfuscatedPort() != 0 && P().Port() != P().ObfuscatedPort());
    QVERIFY(S().TakeSent().contains(
        Sent(Body(2).UInt32(P().Port()).UInt32(1).UInt32(P().ObfuscatedPort()))));
    // At load, absent ports get their defaults.
    d.GetType(SettingsTypes::Global)->GetItems().Remove();
    messenger().DataLoaded();
    QCOMPARE(Settings::Get("listening_port"), std::string("2235"));
    QCOMPARE(Settings::Get("obfuscated_listening_port"), std::string("8973"));
    // A port chosen while running replaces the plain one and is used up.
    Settings::Set("new_listening_port", 0);
    messenger().DataLoaded();
    QVERIFY(Settings::GetInt("listening_port", 0) != 2235);
    QVERIFY(!d.GetType(SettingsTypes::Global)->HasItem("new_listening_port"));
}

void PeerMessengerTest::DirectAttemptToAScrambledPortScramblesAllButTreeLinks()
{
    ScriptedPeer carol;
    ScriptedPeer carolPlain;
    QVERIFY(P().ReceiveAddress("carol", carolPlain.Port(), carol.Port()));
    messenger().ConnectToUser("carol", "P");
    const QByteArray init = ScrambleByHand(InitFrame("alice", "P"), KnownKey);
    QCOMPARE(carol.Take(init.size()), init);
    QTRY_COMPARE(Links("carol"), 1);
    Send("carol", Body(43).String("b"));
    const QByteArray message = ScrambleByHand(PeerFrame(Body(43).String("b")), KnownKey);
    QCOMPARE(carol.Take(message.size()), message);
    QCOMPARE(carolPlain.ConnectionCount(), 0);
    // Tree links go plain to the plain port: the tree reads them unscrambled.
    messenger().ConnectToUser("carol", "D");
    QCOMPARE(carolPlain.Take(18), InitFrame("alice", "D"));
    QCOMPARE(carol.ConnectionCount(), 1);
}

void PeerMessengerTest::UnknownAddressIsAskedForAndAttemptsAreNotDoubled()
{
    S().TakeSent();
    QSignalSpy accepted(&messenger(), &PeerMessenger::DNetConnectionAccepted);
    messenger().RequestDNetConnection("bob");
    messenger().RequestDNetConnection("bob");
    QCOMPARE(S().TakeSent(), IndirectRequestSent(1, "bob", "D") + Sent(Body(3).String("bob")));
    ItemPtr request = ItemsOf(ConnectToPeerRequest).first();
    QCOMPARE(request[ConnectToPeerRequestStatus].AsString(), std::string("getting_address"));
    messenger().RequestFileConnectionToUser("bob");
    QCOMPARE(S().TakeSent(), IndirectRequestSent(2, "bob", "F"));
    ScriptedPeer bob;
    QVERIFY(P().ReceiveAddress("bob", bob.Port()));
    const QByteArray inits = bob.Take(18, 0) + bob.Take(18, 1);
    QVERIFY(inits == InitFrame("alice", "D") + InitFrame("alice", "F") ||
            inits == InitFrame("alice", "F") + InitFrame("alice", "D"));
    QTRY_COMPARE(Calls(accepted), QStringList{"bob|"});
    auto* socket = accepted.at(0).at(1).value<QTcpSocket*>();
    QCOMPARE(socket->peerPort(), bob.Port());
    // The socket is the distributed network's now: no record of ours is left.
    QVERIFY(!IsRecorded(socket));
    delete socket;
}

void PeerMessengerTest::BothWaysSucceedingOpenTwoConnections()
{
    // Bob also answers the server's request: both stay, the token is used up.
    ScriptedPeer bob;
    QVERIFY(P().ReceiveAddress("bob", bob.Port()));
    messenger().ConnectToUser("bob", "P");
    QTRY_COMPARE(Links("bob"), 1);
    const std::uint32_t token = OnlyIndirectToken();
    QVERIFY(token != 0);
    auto late = P().ConnectPeer();
    QVERIFY(late);
    late->write(IndirectFrame(token));
    QTRY_COMPARE(Links("bob"), 2);
    QVERIFY(ItemsOf(IndirectConnectToPeerRequest).empty() && ItemsOf(UninitializedSocket).empty());
    QTcpSocket* direct = bob.Connection(0);
    QVERIFY(direct && direct->state() == QAbstractSocket::ConnectedState &&
            late->state() == QAbstractSocket::ConnectedState);
    auto again = P().ConnectPeer();
    QVERIFY(again);
    again->write(IndirectFrame(token));
    QVERIFY(WaitForClosed(*again));
    QCOMPARE(Links("bob"), 2);
}

void PeerMessengerTest::BrokeredRequestsAreAnsweredWithTheirToken()
{
    ScriptedPeer bob;
    S().Receive(BrokeredRequest("bob", "P", bob.Port(), 77));
    QCOMPARE(bob.Take(9), IndirectFrame(77));
    QTRY_COMPARE(Links("bob"), 1);
    QVERIFY(ItemsOf(PeerConnectionRequest).empty() && ItemsOf(PeerConnectionRequestSocket).empty());
    ScriptedPeer carol;
    ScriptedPeer carolPlain;
    S().Receive(BrokeredRequest("carol", "P", carolPlain.Port(), 78, carol.Port()));
    const QByteArray expected = ScrambleByHand(IndirectFrame(78), KnownKey);
    QCOMPARE(carol.Take(expected.size()), expected);
    QTRY_COMPARE(Links("carol"), 1);
    QVERIFY(ItemPtr(PeerSocketsOf("carol").first()).IsConnected(IsObfuscated));
    QCOMPARE(carolPlain.ConnectionCount(), 0);
    // A tree link is handed over at once; a file connection with its token.
    QSignalSpy dnet(&messenger(), &PeerMessenger::DNetConnectionRequested);
    QSignalSpy file(&messenger(), &PeerMessenger::FileConnectionRequested);
    ScriptedPeer dave;
    S().Receive(BrokeredRequest("dave", "D", dave.Port(), 5));
    QCOMPARE(dave.Take(9), IndirectFrame(5));
    QTRY_COMPARE(Calls(dnet), QStringList{"dave|"});
    delete dnet.at(0).at(1).value<QTcpSocket*>();
    ScriptedPeer erin;
    QVERIFY(P().ReceiveAddress("erin", erin.Port()));
    AddBrokeredRequest(6, "F", "erin");
    QTcpSocket* ours = SocketOf(ItemsOf(PeerConnectionRequestSocket).first());
    QVERIFY(ours);
    QSignalSpy arrived(ours, &QTcpSocket::readyRead);
    QCOMPARE(erin.Take(9), IndirectFrame(6));
    erin.Connection(0)->write(QByteArray::fromHex("0102"));
    QTRY_VERIFY(arrived.count() > 0);
    QCOMPARE(file.count(), 0);
    erin.Connection(0)->write(QByteArray::fromHex("0304"));
    QTRY_COMPARE(Calls(file), QStringList{"erin||67305985"});
    QCOMPARE(file.at(0).at(1).value<QTcpSocket*>(), ours);
    QVERIFY(!IsRecorded(ours) && Links("erin") == 0);
    delete ours;
}

void PeerMessengerTest::SplitAndMergedFramesAreHandledInOrder_data()
{
    QTest::addColumn<bool>("obfuscated");
    QTest::newRow("plain") << false;
    QTest::newRow("scrambled") << true;
}

void PeerMessengerTest::SplitAndMergedFramesAreHandledInOrder()
{
    QFETCH(bool, obfuscated);
    QSignalSpy queued(&messenger(), &PeerMessenger::QueueUploadRequested);
    MessengerLog log;
    auto bob = P().ConnectMessagingPeer("bob", obfuscated);
    QVERIFY(bob);
    QTcpSocket* ours = OurEndOf(*bob);
    QVERIFY(ours);
    std::uint32_t key = 0x7f4a7c15;
    auto write = [&](const QByteArray& frame) {
        return obfuscated ? ScrambleByHand(frame, key++ * 0x01000193u) : frame;
    };
    // A header is taken only whole: until then the bytes stay unread.
    const QByteArray first = write(PeerFrame(QueueUploadBody("one")));
    const int headerSize = obfuscated ? 8 : 4;
    QVERIFY(WriteAndWait(*bob, ours, first.left(headerSize - 1), true));
    QCOMPARE(ours->bytesAvailable(), qint64(headerSize - 1));
    QVERIFY(WriteAndWait(
        *bob, ours, first.mid(headerSize - 1) + write(PeerFrame(QueueUploadBody("two"))), true));
    QCOMPARE(Calls(queued), QStringList({"bob|one", "bob|two"}));
    const QByteArray largest = ByteBuilder().UInt32(1234).Raw(QByteArray(MaxFrame - 4, 'x'));
    bob->write(write(PeerFrame(QueueUploadBody("a"))) + write(PeerFrame(largest)) +
               write(PeerFrame(QueueUploadBody("b"))));
    QTRY_COMPARE(queued.count(), 4);
    QCOMPARE(Calls(queued), QStringList({"bob|one", "bob|two", "bob|a", "bob|b"}));
    QCOMPARE(log.Count("Received 1234 (unknown) message from user bob"), 1);
    bob->write(write(ByteBuilder().UInt32(MaxFrame + 1)));
    QVERIFY(WaitForClosed(*bob));
    QVERIFY(Links("bob") == 0);
}

void PeerMessengerTest::FileConnectionsAreHandedOverWithTheBytesAfter()
{
    QSignalSpy file(&messenger(), &PeerMessenger::FileConnectionRequested);
    // Scrambled init frame, plain token trickling in; what follows is not ours.
    auto carol = P().ConnectPeer(true);
    QVERIFY(carol);
    QTcpSocket* ours = OurEndOf(*carol);
    QVERIFY(WriteAndWait(*carol, ours, ScrambleByHand(InitFrame("carol", "F"), 0x5a5a5a5a)));
    QVERIFY(WriteAndWait(*carol, ours, QByteArray::fromHex("010203"), true));
    QCOMPARE(file.count(), 0);
    QVERIFY(WriteAndWait(*carol, ours, QByteArray::fromHex("04ff")));
    QCOMPARE(Calls(file), QStringList{"carol||67305985"});
    QCOMPARE(file.at(0).at(1).value<QTcpSocket*>(), ours);
    QCOMPARE(ours->bytesAvailable(), qint64(1));
    QVERIFY(!IsRecorded(ours));
    delete ours;
}

void PeerMessengerTest::EveryCodeIsLaidOutAsTheTableSaysAndReachesItsReceiver()
{
    using namespace PeerMessages;
    QStringList got;
    const auto record = [this, &got](auto signal, const char* name) {
        connect(&messenger(), signal, this, [&got, name](const auto&... arguments) {
            got << (QStringList{name} << ... << Text(arguments)).join('|');
        });
    };
    record(&PeerMessenger::SharedFileListRequested, "list");
    record(&PeerMessenger::UserShare, "share");
    record(&PeerMessenger::SearchResults, "results");
    record(&PeerMessenger::SharedFilesInFolderRequested, "folder");
    record(&PeerMessenger::FileTransferRequested, "request");
    record(&PeerMessenger::FileTransferResponse, "response");
    record(&PeerMessenger::QueueUploadRequested, "queue");
    record(&PeerMessenger::DownloadPlaceInLine, "place");
    record(&PeerMessenger::UploadFailed, "failed");
    record(&PeerMessenger::UploadDenied, "denied");
    d.GetType(SearchTypes::SearchRequest)->NewItem(55);
    MessengerLog log;
    auto bob = P().ConnectMessagingPeer("bob");
    QVERIFY(bob);

    ByteBuilder result = ByteBuilder().String("bob").UInt32(55).UInt32(1).Byte(1).String("a");
    result.UInt32(100).UInt32(0).String("").UInt32(0).Byte(1).UInt32(10).UInt32(0).UInt32(0);
    const QByteArray junk = QByteArray::fromHex("010203");
    const Row rows[] = {
        {"PM_GET_SHARED_FILE_LIST", Body(4), "list|bob", Of(GetSharedFileList())},
        {"PM_SHARED_FILE_LIST", Body(5).Raw(Zlib(ByteBuilder().UInt32(0).UInt32(0))),
         "share|bob|0|0", Of(SharedFileList())},
        {"PM_FILE_SEARCH_RESULT", Body(9).Raw(Zlib(result)), "results|1"},
        {"PM_GET_SHARED_FILES_IN_FOLDER", Body(36).UInt32(7).String("M\\R"), "folder|bob|7|M\\R",
         Of(GetSharedFilesInFolder{.m_token = 7, .m_folder = "M\\R"})},
        {"PM_TRANSFER_REQUEST", Body(40).UInt32(1).UInt32(9).String("a").UInt32(5).UInt32(1),
         "request|bob|1|9|a|4294967301",
         Of(TransferRequest{.m_token = 9, .m_file = "a", .m_size = 0x100000005LL})},
        // A download request carries no size.
        {"PM_TRANSFER_REQUEST", Body(40).UInt32(0).UInt32(5).String("a"), "request|bob|0|5|a|0",
         Of(TransferRequest{.m_direction = 0, .m_token = 5, .m_file = "a", .m_size = 99})},
        // An acceptance may stop after the allowed byte (any non-zero
        // value), also when only part of the size came.
        {"PM_TRANSFER_RESPONSE", Body(41).UInt32(12).Byte(1).UInt32(123).UInt32(0),
         "response|bob|12|true|true|123|",
         Of(TransferResponse{.m_token = 12, .m_allowed = true, .m_hasSize = true, .m_size = 123}),
         9},
        {"PM_TRANSFER_RESPONSE", Body(41).UInt32(6).Byte(1), "response|bob|6|true|false|0|",
         Of(TransferResponse{.m_token = 6, .m_allowed = true, .m_size = 8})},
        {"PM_TRANSFER_RESPONSE", Body(41).UInt32(6).Byte(7).UInt32(5),
         "response|bob|6|true|false|0|"},
        {"PM_TRANSFER_RESPONSE", Body(41).UInt32(13).Byte(0).String("Queued"),
         "response|bob|13|false|false|0|Queued",
         Of(TransferResponse{.m_token = 13, .m_reason = "Queued"})},
        {"PM_QUEUE_UPLOAD", Body(43).String("f"), "queue|bob|f", Of(QueueUpload{.m_file = "f"})},
        {"PM_UPLOAD_PLACE_IN_LINE", Body(44).String("f").UInt32(3), "place|bob|f|3",
         Of(UploadPlaceInLine{.m_file = "f", .m_place = 3})},
        {"PM_UPLOAD_FAILED", Body(46).String("f"), "failed|bob|f", Of(UploadFailed{.m_file = "f"})},
        {"PM_UPLOAD_DENIED", Body(50).String("f").String("No"), "denied|bob|f|No",
         Of(UploadDenied{.m_file = "f", .m_reason = "No"})},
        {"PM_UPLOAD_PLACE_IN_LINE_REQUEST", Body(51).String("f"), "",
         Of(UploadPlaceInLineRequest{.m_file = "f"})},
        {"PM_SAY", Body(1).Raw(junk)},
        {"PM_FILE_SEARCH_REQUEST", Body(8).Raw(junk)},
        {"PM_INVITE_USER_TO_ROOM", Body(10).Raw(junk)},
        {"PM_CANCELLED_QUEUED_TRANSFER", Body(14).Raw(junk)},
        {"PM_USER_INFO_REQUEST", Body(15).Raw(junk)},
        {"PM_USER_INFO_REPLY", Body(16).Raw(junk)},
        {"PM_SEND_CONNECT_TOKEN", Body(33).Raw(junk)},
        {"PM_MOVE_DOWNLOAD_TO_TOP", Body(34).Raw(junk)},
        {"PM_SHARED_FILES_IN_FOLDER", Body(37).Raw(junk)},
        {"PM_PLACEHOLD_UPLOAD", Body(42).Raw(junk)},
        {"PM_EXACT_FILE_SEARCH_REQUEST", Body(47).Raw(junk)},
        {"PM_QUEUED_DOWNLOADS", Body(48).Raw(junk)},
        {"PM_INDIRECT_FILE_SEARCH_REQUEST", Body(49).Raw(junk)},
        {"PM_NOTHING", Body(52).Raw(junk)},
    };
    QByteArray frames;
    QStringList expected;
    for (const Row& row : rows) {
        frames += PeerFrame(row.body);
        expected << row.received;
        if (row.ours)
            row.ours(row.body, row.required ? row.required : row.body.size());
    }
    expected.removeAll("");
    bob->write(frames + PeerFrame(QueueUploadBody("last")));
    QTRY_VERIFY(got.contains("queue|bob|last"));
    QCOMPARE(got, expected << "queue|bob|last");
    for (const Row& row : rows)
        if (row.received.isEmpty())
            QCOMPARE(log.Count(QString("Received %1 message from user bob").arg(row.name)), 1);
    QCOMPARE(Links("bob"), 1);
}

void PeerMessengerTest::BrokenInputClosesOnlyItsConnection()
{
    QSignalSpy queued(&messenger(), &PeerMessenger::QueueUploadRequested);
    auto carol = P().ConnectMessagingPeer("carol");
    QVERIFY(carol);
    // First frames that do not parse or name nothing we know.
    const std::pair<QByteArray, QString> firstFrames[] = {
        {PeerFrame(QByteArray()) + QByteArray(1, '\1'),
         "Failed to read direction from new peer connection"},
        {PeerFrame(ByteBuilder().Byte(0).Raw("\1\2")),
         "Failed to read req from indirect peer connection"},
        {IndirectFrame(999), "Req sent on indirect peer connection not found"},
        {InitFrame("bob", "X"), "Peer connection of type X opened from user bob"},
        {PeerFrame(ByteBuilder().Byte(1).String("bob").String("P")), ""},
    };
    for (const auto& [bytes, reason] : firstFrames) {
        MessengerLog log;
        auto peer = P().ConnectPeer();
        QVERIFY(peer);
        peer->write(bytes);
        QVERIFY(WaitForClosed(*peer));
        QCOMPARE(log.Count("Failure initializing peer connection, disposing of socket"), 1);
        QVERIFY(reason.isEmpty() || log.Count(reason) == 1);
        QVERIFY(ItemsOf(UninitializedSocket).empty());
    }
    // A missing field; search results in someone else's name.
    d.GetType(SearchTypes::SearchRequest)->NewItem(56);
    auto bob = P().ConnectMessagingPeer("bob");
    auto dave = P().ConnectMessagingPeer("dave");
    QVERIFY(bob && dave);
    bob->write(PeerFrame(Body(43)));
    dave->write(PeerFrame(Body(9).Raw(Zlib(ByteBuilder().String("bob").UInt32(56).UInt32(0)))));
    QVERIFY(WaitForClosed(*bob) && WaitForClosed(*dave));
    QVERIFY(Links("bob") == 0 && Links("dave") == 0);
    QCOMPARE(queued.count(), 0);
    // An empty frame, taken up with the next byte, has no code to read.
    MessengerLog log;
    auto erin = P().ConnectMessagingPeer("erin");
    QVERIFY(erin);
    QVERIFY(WriteAndWait(*erin, OurEndOf(*erin), ByteBuilder().UInt32(0)));
    QCOMPARE(Links("erin"), 1);
    erin->write(QByteArray(1, '\0'));
    QVERIFY(WaitForClosed(*erin));
    QCOMPARE(log.Count("Could not read message code on connection to user erin, disposing of "
                       "socket"),
             1);

    carol->write(PeerFrame(QueueUploadBody("still here")));
    QTRY_COMPARE(queued.count(), 1);
    QCOMPARE(Links("carol"), 1);
}

void PeerMessengerTest::QueuedMessagesGoOutInOrderWithinFiveMinutes()
{
    S().TakeSent();
    Send("bob", QueueUploadBody("old"));
    AtSeconds(200);
    QByteArray expected;
    // More than ten, so that an order taken as text would show.
    for (int i = 0; i < 11; ++i) {
        Send("bob", QueueUploadBody("file" + QByteArray::number(i)));
        expected += PeerFrame(QueueUploadBody("file" + QByteArray::number(i)));
    }
    QCOMPARE(S().TakeSent(), IndirectRequestSent(1, "bob", "P") + Sent(Body(3).String("bob")));
    PassAt(298);
    QCOMPARE(CountOf("unsent_message"), 12);
    PassAt(300);
    QCOMPARE(CountOf("unsent_message"), 11);

    auto bob = P().ConnectMessagingPeer("bob");
    QVERIFY(bob);
    QCOMPARE(ReadAtLeast(*bob, expected.size()), expected);
    QCOMPARE(CountOf("unsent_message"), 0);
}

void PeerMessengerTest::AttemptsEndOnFailureOrAfterAMinute()
{
    // A failed direct way leaves the indirect one open until the server says.
    QVERIFY(P().ReceiveAddress("bob", ClosedPort()));
    MessengerLog log;
    messenger().ConnectToUser("bob", "P");
    QTRY_COMPARE(log.Count("Direct connection of type P to user bob failed"), 1);
    QCOMPARE(Attempts(), QList<int>({1, 0, 1}));
    S().Receive(Body(1001).UInt32(OnlyIndirectToken()));
    QVERIFY(S().Sync());
    QCOMPARE(log.Count("Indirect connection of type P to user bob failed"), 1);
    QCOMPARE(Attempts(), QList<int>({0, 0, 0}));
    // Both ways still pending (no event loop in between) end after a minute.
    messenger().ConnectToUser("bob", "P");
    QCOMPARE(Attempts(), QList<int>({1, 1, 1}));
    PassAt(58);
    QCOMPARE(Attempts(), QList<int>({1, 1, 1}));
    PassAt(60);
    QCOMPARE(log.Count("Indirect connection request of type P to bob expired, removing."), 1);
    QCOMPARE(log.Count("Direct connection attempt of type P to bob timed out, closing."), 1);
    QCOMPARE(Attempts(), QList<int>({0, 0, 0}));
}

void PeerMessengerTest::IntroductionsAreBoundedInSizeTimeAndNumber()
{
    // An init frame of 4096 bytes passes; a longer one's header is refused.
    const QByteArray longName(4096 - 14, 'n');
    auto longest = P().ConnectPeer();
    auto tooLong = P().ConnectPeer();
    QVERIFY(longest && tooLong);
    longest->write(InitFrame(longName, "P"));
    tooLong->write(ByteBuilder().UInt32(4097));
    QVERIFY(WaitForClosed(*tooLong));
    QTRY_COMPARE(Links(longName.constData()), 1);
    // Once identified, a connection may send the largest frames.
    QVERIFY(WriteAndWait(*longest, OurEndOf(*longest), ByteBuilder().UInt32(MaxFrame)));
    // Frames on their way share one budget; a closed connection gives back.
    messenger().SetFrameBudget(MaxFrame + 1000);
    auto modest = P().ConnectMessagingPeer("modest");
    auto greedy = P().ConnectMessagingPeer("greedy");
    QVERIFY(modest && greedy);
    QVERIFY(WriteAndWait(*modest, OurEndOf(*modest), ByteBuilder().UInt32(1000)));
    QCOMPARE(messenger().FrameBytesHeld(), std::size_t(MaxFrame + 1000));
    greedy->write(ByteBuilder().UInt32(1));
    QVERIFY(WaitForClosed(*greedy));
    modest->abort();
    QTRY_COMPARE(Links("modest"), 0);
    QCOMPARE(messenger().FrameBytesHeld(), std::size_t(MaxFrame));

    // A first frame, or a file connection's token, not whole within a minute.
    AtSeconds(0);
    auto silent = P().ConnectPeer();
    auto dripping = P().ConnectPeer();
    auto tokenless = P().ConnectPeer();
    QVERIFY(silent && dripping && tokenless);
    dripping->write(ByteBuilder().UInt32(100).Byte(1));
    QVERIFY(WriteAndWait(*tokenless, OurEndOf(*tokenless), InitFrame("bob", "F")));
    QTRY_COMPARE(CountOf(UninitializedSocket), 2);
    PassAt(58);
    QCOMPARE(CountOf(UninitializedSocket), 2);
    QCOMPARE(tokenless->state(), QAbstractSocket::ConnectedState);
    PassAt(62);
    QVERIFY(WaitForClosed(*silent) && WaitForClosed(*dripping) && WaitForClosed(*tokenless));
    QCOMPARE(CountOf(UninitializedSocket), 0);
    AtSeconds(0);

    // A thousand may wait at once; the next one is closed on arrival.
    std::vector<std::unique_ptr<QTcpSocket>> crowd;
    for (std::size_t n = 0; n < PeerMessenger::MaxUnidentifiedConnections; ++n) {
        crowd.push_back(std::make_unique<QTcpSocket>());
        crowd.back()->connectToHost(QHostAddress::LocalHost, P().Port());
    }
    QTRY_COMPARE_WITH_TIMEOUT(std::size_t(CountOf(UninitializedSocket)),
                              PeerMessenger::MaxUnidentifiedConnections, 20000);
    QTcpSocket refused;
    refused.connectToHost(QHostAddress::LocalHost, P().Port());
    QVERIFY(WaitForClosed(refused));
    QCOMPARE(std::size_t(CountOf(UninitializedSocket)), PeerMessenger::MaxUnidentifiedConnections);
    QCOMPARE(Links(longName.constData()), 1);
}

void PeerMessengerTest::IdleMessagingConnectionsCloseAfterTwoMinutes()
{
    QSignalSpy queued(&messenger(), &PeerMessenger::QueueUploadRequested);
    auto bob = P().ConnectMessagingPeer("bob");
    QVERIFY(bob);
    // What bob sends keeps the connection; what we send does not.
    AtSeconds(100);
    bob->write(PeerFrame(QueueUploadBody("x")));
    QTRY_COMPARE(queued.count(), 1);
    AtSeconds(150);
    Send("bob", QueueUploadBody("y"));
    PassAt(218);
    QCOMPARE(Links("bob"), 1);
    // A last activity ahead of the clock never expires.
    PassAt(0);
    QCOMPARE(Links("bob"), 1);

    PassAt(220);
    QVERIFY(Links("bob") == 0);
    QCOMPARE(CountOf(LastActivityTime), 0);
    QVERIFY(WaitForClosed(*bob));
}

void PeerMessengerTest::UnansweredBrokeredRequestTellsTheServer()
{
    S().TakeSent();
    MessengerLog log;
    S().Receive(BrokeredRequest("bob", "P", ClosedPort(), 41));
    QTRY_COMPARE(log.Count("Request found, removing"), 1);
    QCOMPARE(S().TakeSent(), Sent(Body(1001).UInt32(41).String("bob")));
    QCOMPARE(CountOf(PeerConnectionRequest), 0);
    QCOMPARE(CountOf(PeerConnectionRequestSocket), 0);
    // No answer within a minute (the pass runs before the socket reports).
    QVERIFY(P().ReceiveAddress("carol", ClosedPort()));
    AddBrokeredRequest(42, "P", "carol");
    QCOMPARE(CountOf(PeerConnectionRequestSocket), 1);
    PassAt(58);
    QCOMPARE(CountOf(PeerConnectionRequestSocket), 1);
    PassAt(60);
    QCOMPARE(CountOf(PeerConnectionRequest), 0);
    QCOMPARE(CountOf(PeerConnectionRequestSocket), 0);
    QCOMPARE(S().TakeSent(), Sent(Body(1001).UInt32(42).String("carol")));
}

QTEST_GUILESS_MAIN(PeerMessengerTest)
#include "PeerMessengerTest.moc"
