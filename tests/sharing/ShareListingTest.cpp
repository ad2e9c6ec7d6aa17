#include <utility>

#include <QSemaphore>
#include <QTest>
#include <QThreadPool>

#include "SharingTestSupport.h"
#include "peers/PeerMessages.h"
#include "sharing/ListingCompressor.h"
#include "sharing/ShareListing.h"
#include "sharing/SharedFilesGathering.h"
#include "sharing/UserShareStore.h"
#include "streams/Compression.h"

// Holds every thread of the global pool until opened; work handed to it waits.
class PoolGate
{
public:
    PoolGate()
    {
        for (int i = 0; i < m_threads; ++i)
            QThreadPool::globalInstance()->start([this] { m_gate.acquire(); });
    }
    ~PoolGate()
    {
        Open();
        QThreadPool::globalInstance()->waitForDone();
    }

    void Open() { m_gate.release(m_threads - std::exchange(m_opened, m_threads)); }

private:
    const int m_threads = QThreadPool::globalInstance()->maxThreadCount();
    int m_opened = 0;
    QSemaphore m_gate;
};

// A listing that is gathered at once and reads as its user's name.
class NamedListing : public ListingGathering
{
public:
    explicit NamedListing(std::string user) : m_user(std::move(user)) {}
    bool Continue(const QDeadlineTimer&) override { return true; }
    QByteArray Pack() override { return QByteArray::fromStdString(m_user); }

private:
    std::string m_user;
};

class ShareListingTest : public QObject, ShareIndex
{
    Q_OBJECT

private slots:
    void initTestCase() { m_client = std::make_unique<SharingClient>(); }
    void init()
    {
        SharingClient::Clear();
        ItemPtr share = PublicRoot("/share");
        ItemPtr top = Folder(share, "/share");
        File(top, "a.txt", 10);
        File(top, "raw.mp3", 20);
        Scanned(File(top, "song.mp3", 30), 128, "cbr");
        Folder(share, "/share/empty");
        // Also a root of its own, and still listed once.
        File(Folder(PublicRoot("/share/sub"), "/share/sub"), "z.ogg", 3);
        Folder(share, "/share/sub");
        File(Folder(GroupRoot("/private", "friends"), "/private"), "secret.txt", 4);
    }

    void cleanupTestCase() { m_client.reset(); }

    void WholeShareListsWhatTheUserMaySee()
    {
        LogCapture log;
        QCOMPARE(Bytes(m_client->manager->GetSharedFilesMessage("bob")),
                 Compressed(5, PublicListing()));
        QCOMPARE(log.lines, QStringList{"Shared|Shared file list requested by user bob"});
    }

    void FolderContentsAreGivenOnlyForVisibleFolders()
    {
        QCOMPARE(ContentsFor("bob", 9, "\\share"),
                 Contents(9, "\\share", 3,
                          Record("a.txt", 10) + Record("raw.mp3", 20) + Record("song.mp3", 30)));
        // A folder the user may not see reads like one we do not have.
        QCOMPARE(ContentsFor("bob", 10, "\\private"), Contents(10, "\\private"));
        QCOMPARE(ContentsFor("bob", 11, "\\nowhere"), Contents(11, "\\nowhere"));
        ListedUser("carol", "friends");
        QCOMPARE(ContentsFor("carol", 12, "\\private"),
                 Contents(12, "\\private", 1, Record("secret.txt", 4)));
    }

    void ReceivedListingIsStoredWithParentLinks()
    {
        FileInfo song, text;
        song.m_name = "x.mp3";
        song.m_size = 5000000000LL;
        song.m_attributes.m_attributes = {{0, 192}, {1, 300}, {2, 1}, {9, 4}};
        text.m_name = "y.txt";
        text.m_size = 6;
        UserShareStore::Store("bob", {{"a\\b", {song}}, {"a\\b\\c", {text}}, {"q\\r", {}}});
        QCOMPARE(Stored("bob"), QStringList({"a\\b x.mp3 5000000000 192 300 vbr",
                                             "a\\b\\c < a\\b y.txt 6", "q\\r"}));
        UserShareStore::Store("bob", {{"a\\b\\c", {text}}});
        QCOMPARE(Stored("bob"), QStringList{"a\\b\\c y.txt 6"});
        for (const char* type :
             {SharingTypes::UserShare, SharingTypes::UserShareFolder, SharingTypes::UserShareFile})
            QCOMPARE(d.GetType(type)->ItemCount(), std::size_t(1));
    }

    void PeersGetOurListingsAndTheirsIsKept()
    {
        auto bob = m_client->peers->ConnectMessagingPeer("bob");
        QVERIFY(bob);
        // An entry cut short by its zero marker is kept as a nameless file.
        const QByteArray bobsListing =
            ByteBuilder().UInt32(1).String("d").UInt32(2).Byte(0).Raw(Record("f", 5));
        bob->write(
            PeerHelpers::PeerFrame(ByteBuilder().UInt32(36).UInt32(3).String("\\share\\sub")) +
            PeerHelpers::PeerFrame(Compressed(5, bobsListing)));

        QCOMPARE(ReadFrame(*bob), Contents(3, "\\share\\sub", 1, Record("z.ogg", 3)));
        QTRY_COMPARE(Stored("bob"), QStringList{"d 0 f 5"});
    }

    void RepeatedRequestGetsOneListingWithoutBlocking()
    {
        auto bob = m_client->peers->ConnectMessagingPeer("bob");
        QVERIFY(bob);
        QSignalSpy requests(peerMessenger, &PeerMessenger::SharedFileListRequested);
        LogCapture log;
        {
            PoolGate gate;
            bob->write(PeerHelpers::PeerFrame(ByteBuilder().UInt32(4)) +
                       PeerHelpers::PeerFrame(ByteBuilder().UInt32(4)));
            QTRY_COMPARE(requests.count(), 2);
            QCOMPARE(ListingsSent(log), 0); // waiting for a worker, not for us
        }
        FinishPoolWork();
        QCOMPARE(ListingsSent(log), 1);
        QCOMPARE(ReadFrame(*bob), Compressed(5, PublicListing()));
    }

    void CrowdOfBrowsersWaitsByName()
    {
        QStringList built;
        ListingCompressor compressor([&built](const std::string& user) {
            built << QString::fromStdString(user);
            return std::make_unique<NamedListing>(user);
        });
        QSignalSpy ready(&compressor, &ListingCompressor::ListingReady);
        {
            PoolGate gate;
            for (const char* user : {"bob", "carol", "dave", "carol"})
                compressor.Request(user);
            // Only as many bodies as workers may run exist at once.
            QCOMPARE(built, QStringList({"bob", "carol"}));
            QVERIFY(compressor.IsPreparing("dave"));
        }
        FinishPoolWork();
        FinishPoolWork();
        QCOMPARE(built, QStringList({"bob", "carol", "dave"}));
        QCOMPARE(ready.count(), 3);
        QVERIFY(!compressor.IsPreparing("dave"));
    }

    void ListingIsGatheredInSlicesAsTheStoreChanges()
    {
        using namespace SharingTypes;
        // A local name with a backslash is listed once with the subfolder.
        ItemPtr share = PublicRoot("/share");
        File(Folder(share, "/share\\sub"), "w.txt", 1);
        SharedFilesGathering gathering(m_client->manager->GetUserSharedFolders("bob"));
        const QDeadlineTimer expired(0);
        for (int slice = 0; slice < 3; ++slice)
            QVERIFY(!gathering.Continue(expired));

        // Between slices: a file is added, a folder and another's file go.
        File(Folder(share, "/share"), "late.txt", 1);
        d.GetType(SharedFileFolder)->HasItem("/share/empty").Remove();
        d.GetType(SharedFileName)->HasItem("z.ogg").GetItems(SharedFile).Remove();
        int slices = 3;
        while (!gathering.Continue(expired))
            QVERIFY(++slices < 10);

        // The count written first stays true: a folder gone is listed empty.
        QCOMPARE(gathering.Pack(), Compressed(5, PublicListing(Record("w.txt", 1))));

        // Compressed a folder at a time, as one compression of it whole.
        for (int n = 0; n < 600; ++n) {
            ItemPtr folder = Folder(share, "/share/f" + std::to_string(n));
            for (int f = 0; f < 20; ++f)
                File(folder,
                     "track " + std::to_string(n * 7 % 13) + "-" + std::to_string(f) + ".ogg",
                     n * 1000 + f);
        }
        SharedFilesGathering many(m_client->manager->GetUserSharedFolders("bob"));
        while (!many.Continue(expired))
            ;
        const QByteArray message = many.Pack();
        MemStream packed;
        packed.WriteBuffer(message.constData() + 4, static_cast<unsigned long>(message.size() - 4));
        const QByteArray body = Bytes(DecompressStream(packed));
        QCOMPARE(qFromLittleEndian<quint32>(body.constData()), 602u);
        QVERIFY(body.size() > 300'000);
        QCOMPARE(message, Compressed(5, body));
    }

    // Last: it takes the manager away.
    void ManagerCanGoWhileAListingIsPrepared()
    {
        auto bob = m_client->peers->ConnectMessagingPeer("bob");
        QVERIFY(bob);
        QSignalSpy requests(peerMessenger, &PeerMessenger::SharedFileListRequested);
        LogCapture log;
        {
            PoolGate gate;
            bob->write(PeerHelpers::PeerFrame(ByteBuilder().UInt32(4)));
            QTRY_COMPARE(requests.count(), 1);
            m_client->manager.reset();
        }
        FinishPoolWork();
        QCOMPARE(ListingsSent(log), 0);
    }

private:
    // What bob, not on our user list, may see.
    static QByteArray PublicListing(const QByteArray& sub = Record("z.ogg", 3))
    {
        return ByteBuilder().UInt32(3).String("\\share").UInt32(3).Data() + Record("a.txt", 10) +
               Record("raw.mp3", 20, "mp3") + Record("song.mp3", 30, "mp3", {{0, 128}, {2, 0}}) +
               ByteBuilder().String("\\share\\empty").UInt32(0).String("\\share\\sub").UInt32(1) +
               sub + ByteBuilder().UInt32(0);
    }

    static QByteArray Contents(std::uint32_t token, const QByteArray& folder, int count = 0,
                               const QByteArray& records = {})
    {
        return Compressed(37, ByteBuilder().UInt32(token).String(folder).UInt32(1).String(folder) +
                                  ByteBuilder().UInt32(count).Raw(records).UInt32(0));
    }

    QByteArray ContentsFor(const char* user, std::uint32_t token, const std::string& folder)
    {
        const ItemSet roots = m_client->manager->GetUserSharedFolders(user);
        return Bytes(ShareListing::FolderContentsMessage(roots, token, folder));
    }

    // The stored listing, a line per folder: name, "< parent", its files.
    static QStringList Stored(const char* user)
    {
        using namespace SharingTypes;
        ItemPtr share = PeerHelpers::UserItem(user)[UserShare];
        QStringList lines;
        if (!share || !share.IsConnected(UserShareLoaded))
            return lines;
        for (Item* item : share.GetItems(UserShareFolder)) {
            ItemPtr folder(item);
            QString line = QString::fromStdString(folder[UserShareFolderName].AsString());
            if (ItemPtr up = folder[UserShareFolderParent])
                line +=
                    " < " +
                    QString::fromStdString(
                        up[UserShareFolderChild][UserShareFolder][UserShareFolderName].AsString());
            QStringList files;
            for (Item* file : folder.GetItems(UserShareFile)) {
                QString entry;
                for (const char* part : {UserShareFileName, UserShareFileSize, SearchTypes::Bitrate,
                                         SearchTypes::LengthSeconds, SearchTypes::BitrateMode})
                    entry += " " + QString::fromStdString(ItemPtr(file)[part].AsString());
                files << entry.trimmed();
            }
            files.sort();
            lines << (line + " " + files.join(' ')).trimmed();
        }
        lines.sort();
        return lines;
    }

    static void FinishPoolWork()
    {
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::sendPostedEvents();
    }

    static int ListingsSent(const LogCapture& log)
    {
        return int(log.lines.count("Peer Messenger|Send PM_SHARED_FILE_LIST message to user bob"));
    }

    std::unique_ptr<SharingClient> m_client;
};

QTEST_GUILESS_MAIN(ShareListingTest)
#include "ShareListingTest.moc"
