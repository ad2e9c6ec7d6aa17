#include <cstring>

#include <QTest>

#include "SharingTestSupport.h"
#include "peers/PeerMessages.h"
#include "sharing/SearchResponder.h"
#include "sharing/UploadAvailability.h"

namespace {

class BusyUploads : public UploadAvailability
{
public:
    bool IsFreeToUpload() const override { return false; }
    unsigned int QueuedUploadCount() const override { return 3; }
};

} // namespace

class SearchAnswerTest : public QObject, ShareIndex
{
    Q_OBJECT

private slots:
    void initTestCase() { m_client = std::make_unique<SharingClient>(); }
    void init() { SharingClient::Clear(); }
    void cleanupTestCase() { m_client.reset(); }

    void WordsPartsAndExclusionsNarrowTheMatches()
    {
        ItemPtr beatles = Folder(PublicRoot("/music"), "/music/beatles");
        File(beatles, "help.mp3", 1);
        File(beatles, "help live.mp3", 2);
        File(beatles, "Let It Be Live.mp3", 3);
        File(Folder(PublicRoot("/other"), "/other"), "beat it.ogg", 4);

        // Exclusions and parts are substrings of the name as on disk, case and
        // all; included words are folded to the index's lower case.
        QCOMPARE(Answer("beatles -live"), QStringList({"\\music\\beatles\\Let It Be Live.mp3",
                                                       "\\music\\beatles\\help.mp3"}));
        QCOMPARE(Answer("BEATLES *elp -live"), QStringList{"\\music\\beatles\\help.mp3"});
        // Every word must be indexed; parts alone find nothing; no indexed word
        // holds a space; exclusions alone do not parse.
        for (const char* nothing :
             {"help *Live", "beatles zeppelin", "*eat", "\"help live\"", "-live", "eat"})
            QVERIFY2(Answer(nothing) == QStringList{"none"}, nothing);

        // Several words: the rarest word's files are checked against sets of
        // like size and against far larger ones, whatever order they come in.
        ItemPtr mix = Folder(PublicRoot("/mix"), "/mix");
        for (int n = 0; n < 60; ++n)
            File(mix, "a " + std::to_string(n) + ".txt", n);
        for (const char* name : {"b c.txt", "a c.txt", "a b c.txt", "b.txt", "c.txt"})
            File(mix, name, 1);
        QCOMPARE(Answer("b c"), QStringList({"\\mix\\a b c.txt", "\\mix\\b c.txt"}));
        QCOMPARE(Answer("a c"), QStringList({"\\mix\\a b c.txt", "\\mix\\a c.txt"}));
        QCOMPARE(Answer("c b a"), QStringList{"\\mix\\a b c.txt"});
    }

    void OnlyVisibleMatchesCountAndOverTwoHundredGetNoAnswer()
    {
        ItemPtr open = Folder(PublicRoot("/open"), "/open");
        for (int n = 0; n < 200; ++n)
            File(open, QString("bulk %1.txt").arg(n, 3, 10, QChar('0')).toStdString(), n);
        File(Folder(GroupRoot("/friends", "friends"), "/friends"), "bulk rare.txt", 1);
        ListedUser("carol", "friends");
        ListedUser("dave", "family");

        // A group's folder counts only for its members: 201 for carol, who gets
        // nothing, as a list cut to 200 would hide what was left out.
        const QStringList bobs = Answer("bulk");
        QVERIFY(bobs.size() == 200 && bobs.first() == "\\open\\bulk 000.txt");
        QCOMPARE(Answer("bulk", "carol"), QStringList{"none"});
        QCOMPARE(Answer("bulk *rare", "carol"), QStringList{"\\friends\\bulk rare.txt"});
        QCOMPARE(Answer("bulk *rare", "dave"), QStringList{"none"});
        // An unshared user sees nothing, public folders included.
        d.GetType(ServerTypes::User)->GetItem("dave")->NewItem(SharingTypes::Unshared);
        QCOMPARE(Answer("bulk *000", "dave"), QStringList{"none"});
        // A root gone before the next collection leaves its files in the index:
        // they count for nobody, though carol then sees every root there is.
        d.GetType(SharingTypes::SharedFolder)->HasItem("/friends")->Remove();
        QCOMPARE(Answer("bulk", "carol").size(), 200);
        d.RemoveDisconnectedItems();
        QCOMPARE(Answer("bulk", "carol").size(), 200);
        File(open, "bulk 200.txt", 200);
        QCOMPARE(Answer("bulk"), QStringList{"none"});
    }

    void ReplyCarriesTheMatchesAndOurUploadState()
    {
        ItemPtr folder = Folder(PublicRoot("/m"), "/m/x");
        Scanned(File(folder, "song.MP3", 5000000000LL), 192, "vbr");
        Scanned(File(folder, "cbr song.mp3", 300), 128, "cbr");
        File(folder, "new song.mp3", 200);
        File(folder, "song.txt", 7);
        const QByteArray matches =
            ByteBuilder().String("alice").UInt32(0xfeedbeef).UInt32(4).Data() +
            Record("\\m\\x\\cbr song.mp3", 300, "mp3", {{0, 128}, {2, 0}}) +
            Record("\\m\\x\\new song.mp3", 200, "mp3") +
            Record("\\m\\x\\song.MP3", 5000000000ULL, "mp3", {{0, 192}, {2, 1}}) +
            Record("\\m\\x\\song.txt", 7);
        const auto reply = [this] {
            MemStream out;
            SearchResponder::BuildReply(*m_client->manager, "bob", 0xfeedbeef, "song", out);
            return Bytes(out);
        };
        // Until uploads exist: a free slot, nobody queued, no speed known yet.
        QCOMPARE(reply(),
                 Compressed(9, matches + ByteBuilder().Byte(1).UInt32(0).UInt32(0).UInt32(0)));

        BusyUploads busy;
        UploadAvailability::SetCurrent(&busy);
        Settings::Set("upload_speed", 1234);
        const QByteArray busyReply = reply();
        UploadAvailability::SetCurrent(nullptr);
        QCOMPARE(busyReply,
                 Compressed(9, matches + ByteBuilder().Byte(0).UInt32(1234).UInt32(3).UInt32(0)));
    }

    void RecordsGoOutInTheByteOrderOfTheirWholePaths()
    {
        // "ab" is a prefix of the other folders' names: by whole path, the
        // byte after it decides against the "\\" that follows "ab", so a
        // space and a dash sort before the shorter folder, an underscore
        // after it. Ordering by folder, then name, would put "ab" first.
        ItemPtr root = PublicRoot("/p");
        for (const char* folder : {"/p/ab_x", "/p/ab", "/p/ab-d", "/p/ab c"})
            File(Folder(root, folder), "song.ogg", std::strlen(folder));
        File(Folder(root, "/p/ab"), "song b.ogg", 9);
        MemStream reply;
        QVERIFY(SearchResponder::BuildReply(*m_client->manager, "bob", 0x01020304, "song", reply));
        QCOMPARE(
            Bytes(reply),
            Compressed(9, ByteBuilder().String("alice").UInt32(0x01020304).UInt32(5).Data() +
                              Record("\\p\\ab c\\song.ogg", 7) + Record("\\p\\ab-d\\song.ogg", 7) +
                              Record("\\p\\ab\\song b.ogg", 9) + Record("\\p\\ab\\song.ogg", 5) +
                              Record("\\p\\ab_x\\song.ogg", 7) +
                              ByteBuilder().Byte(1).UInt32(0).UInt32(0).UInt32(0)));

        // Two files under one path (a rescan racing a removal, say) are one
        // record: the peer could not ask for the two apart.
        ItemPtr twice = Folder(PublicRoot("/t"), "/t");
        File(twice, "twin.ogg", 1);
        File(twice, "twin.ogg", 2);
        QCOMPARE(Answer("twin"), QStringList{"\\t\\twin.ogg"});
    }

    void SearchFromTheTreeIsAnsweredOverAPeerConnection()
    {
        File(Folder(PublicRoot("/pub"), "/pub"), "tree song.ogg", 9);
        auto bob = m_client->peers->ConnectMessagingPeer("bob");
        QVERIFY(bob);
        LogCapture log;

        // Our own search coming back down the tree is not answered.
        emit dnetManager->DNetSearchRequest("alice", 1, "song");
        emit dnetManager->DNetSearchRequest("bob", 2, "tree song");
        QCOMPARE(ReadFrame(*bob),
                 Compressed(9, ByteBuilder().String("alice").UInt32(2).UInt32(1).Data() +
                                   Record("\\pub\\tree song.ogg", 9) +
                                   ByteBuilder().Byte(1).UInt32(0).UInt32(0).UInt32(0)));
        QCOMPARE(log.lines.filter("Sending search results").join('\n'),
                 QString("Search|Sending search results to user bob for search string tree song"));
    }

private:
    // The paths `user` would be sent, in order, or "none".
    QStringList Answer(const char* text, const char* user = "bob")
    {
        MemStream reply;
        if (!SearchResponder::BuildReply(*m_client->manager, user, 5, text, reply))
            return {"none"};
        unsigned int code = 0;
        PeerMessages::FileSearchResult result;
        QStringList paths;
        if (reply.Read(code) && result.Read(reply))
            for (const FileInfo& file : result.m_files)
                paths << QString::fromStdString(file.m_name);
        return paths;
    }

    std::unique_ptr<SharingClient> m_client;
};

QTEST_GUILESS_MAIN(SearchAnswerTest)
#include "SearchAnswerTest.moc"
