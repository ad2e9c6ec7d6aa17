#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include "SharingTestSupport.h"
#include "search/SearchTypes.h"
#include "store/DataSaver.h"

using namespace SharingTypes;

// Scanning shared folders into the index and keeping it in line with the disk.
class ShareIndexTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_share.Start(); }
    void init() { m_share.Reset(); }
    void cleanupTestCase() { m_share.Stop(); }

    void WordsComeFromTheWholeLowerCasedPath()
    {
        // "Björk Été" holds the two-byte UTF-8 letters ö and É/é.
        m_share.Write("Live Sets/Bj\xc3\xb6rk \xc3\x89t\xc3\xa9/Live-2004.MP3", 10);
        m_share.Share("Live Sets");
        ItemPtr file = m_share.File("Live Sets/Bj\xc3\xb6rk \xc3\x89t\xc3\xa9/Live-2004.MP3");
        QVERIFY(file);

        const QStringList tokens = ShareFixture::Tokens(file);
        // First pass: letters and digits; second pass: whole space-separated
        // words; every byte lower-cased on its own, so É keeps its case.
        for (const QString& expected :
             {QString("live"), QString("2004"), QString("mp3"), QString("live-2004.mp3"),
              QString("sets"), QString("disk"), QString::fromUtf8("bj\xc3\xb6rk"),
              QString::fromUtf8("\xc3\x89t\xc3\xa9")})
            QVERIFY2(tokens.contains(expected), qPrintable(expected));
        for (const QString& split : {QString("bj"), QString("rk"), QString("t"), QString("Live")})
            QVERIFY2(!tokens.contains(split), qPrintable(split));

        // The manager's own tokeniser gives the same words the scan gave.
        file->Disconnect(SearchToken);
        sharedFoldersManager->TokenizeSharedFile(file);
        QCOMPARE(ShareFixture::Tokens(file), tokens);
    }

    void RescanCountsWhatChangedOnDisk()
    {
        m_share.Write("music/a/one.txt", 1);
        m_share.Write("music/a/two.txt", 2);
        m_share.Write("music/b/three.txt", 3);
        m_share.Write("music/b/c/four.txt", 4);
        m_share.Write("music/b/c/five.txt", 5);
        m_share.Write("music/.hidden/six.txt", 6);
        m_share.Write("music/.seven.txt", 7);
        m_share.Share("music");
        QCOMPARE(ShareFixture::CountOf(SharedFile), 5);
        QCOMPARE(m_share.File("music/b/c/five.txt")[SharedFileSize].AsString(), std::string("5"));
        QVERIFY(!m_share.File("music/.seven.txt"));
        ItemPtr kept = m_share.File("music/a/two.txt");
        QCOMPARE(ShareFixture::Rescan(), std::make_pair(0, 0));
        QCOMPARE(m_share.File("music/a/two.txt"), kept);

        // A rename is one removed and one added; a deleted folder counts all files.
        QVERIFY(QFile::rename(m_share.Disk("music/a/one.txt"), m_share.Disk("music/a/uno.txt")));
        QVERIFY(QDir(m_share.Disk("music/b/c")).removeRecursively());
        m_share.Write("music/d/e/six.txt", 6);
        m_share.Write("music/b/seven.txt", 7);
        QCOMPARE(ShareFixture::Rescan(), std::make_pair(3, 3));
        QCOMPARE(m_share.File("music/a/two.txt"), kept);
        QVERIFY(m_share.File("music/a/uno.txt"));
        QVERIFY(m_share.File("music/d/e/six.txt"));
        QVERIFY(!m_share.File("music/a/one.txt"));
        QVERIFY(!m_share.File("music/b/c/four.txt"));
        QVERIFY(!d.GetType(SharedFileFolder)->HasItem(m_share.Path("music/b/c")));
        QVERIFY(d.GetType(SearchToken)->HasItem("seven.txt"));
        QVERIFY(!d.GetType(SearchToken)->HasItem("four.txt"));

        // A root that is gone loses every file but stays shared.
        QVERIFY(QDir(m_share.Disk("music")).removeRecursively());
        QCOMPARE(ShareFixture::Rescan(), std::make_pair(0, 5));
        QCOMPARE(ShareFixture::CountOf(SharedFile), 0);
        QVERIFY(d.GetType(SharedFolder)->HasItem(m_share.Path("music")));
    }

    void OnlyExactMp3NamesAreSentForScanning()
    {
        for (const char* name : {"a.mp3", "B.MP3", "c.Mp3", ".mp3", "mp3"})
            m_share.Write(QString("tunes/") + name);
        QSignalSpy requested(sharedFoldersManager, &SharedFoldersManager::MP3ScanRequired);
        m_share.Share("tunes");
        QCOMPARE(ShareFixture::CountOf(SharedFile), 4); // ".mp3" is hidden
        QVERIFY(m_share.File("tunes/c.Mp3"));
        QStringList paths;
        for (const QList<QVariant>& call : requested)
            paths << call.at(0).toString();
        paths.sort();
        QCOMPARE(paths, QStringList({m_share.Disk("tunes/B.MP3"), m_share.Disk("tunes/a.mp3")}));

        // Once scanned, a file is not sent again and keeps its attributes.
        sharedFoldersManager->OnMP3Scanned(m_share.Disk("tunes/a.mp3"), 1, "joint stereo", 2, true,
                                           192);
        ItemPtr scanned = m_share.File("tunes/a.mp3");
        requested.clear();
        QCOMPARE(ShareFixture::Rescan(), std::make_pair(0, 0));
        QCOMPARE(requested.count(), 1);
        QCOMPARE(requested.at(0).at(0).toString(), m_share.Disk("tunes/B.MP3"));
        QCOMPARE(m_share.File("tunes/a.mp3"), scanned);
        QCOMPARE(scanned[SearchTypes::Bitrate].AsInt(), 192);
        QCOMPARE(scanned[SearchTypes::BitrateMode].AsString(), std::string("vbr"));
        QCOMPARE(scanned[SearchTypes::MpegVersion].AsInt(), 1);
        QCOMPARE(scanned[SearchTypes::ChannelMode].AsString(), std::string("joint stereo"));
        QVERIFY(scanned.IsConnected(IsScanned));
    }

    void IndexSurvivesTheSnapshotAndRescanRebuildsWords()
    {
        m_share.Write("keep/sub/song.mp3", 1234);
        m_share.Share("keep", ShareFixture::Visibility::UserList);
        sharedFoldersManager->OnMP3Scanned(m_share.Disk("keep/sub/song.mp3"), 1, "mono", 0, false,
                                           128);
        // A search result and a browsed file use the same attribute types; the
        // values only they hold are not ours to keep.
        using namespace SearchTypes;
        ItemPtr result = d.GetType(SearchResult)->NewItem();
        result.Connect(d.GetType(Bitrate)->GetItem(320));
        result.Connect(d.GetType(BitrateMode)->GetItem("vbr"));
        result.Connect(d.GetType(Bitrate)->GetItem(128));
        d.GetType(UserShareFile)->NewItem()->Connect(d.GetType(Bitrate)->GetItem(256));
        const QByteArray snapshot = QFile::encodeName(QDir::homePath() + "/index-snapshot");
        QVERIFY(dataSaver->Save(snapshot.constData()));

        d.RemoveAllItems();
        dataSaver->Load(snapshot.constData());
        // Loaded as saved before any scan has run: only the words are missing.
        ItemPtr file = m_share.File("keep/sub/song.mp3");
        QVERIFY(file);
        QCOMPARE(file[SharedFileSize].AsString(), std::string("1234"));
        QCOMPARE(file[SearchTypes::Bitrate].AsInt(), 128);
        QCOMPARE(file[SearchTypes::BitrateMode].AsString(), std::string("cbr"));
        QVERIFY(file.IsConnected(IsScanned));
        QVERIFY(!d.GetType(Bitrate)->HasItem(320) && !d.GetType(Bitrate)->HasItem(256));
        QVERIFY(!d.GetType(BitrateMode)->HasItem("vbr"));
        QCOMPARE(ShareFixture::CountOf(SearchResult) + ShareFixture::CountOf(UserShareFile), 0);
        QVERIFY(d.GetType(SharedFolder)->HasItem(m_share.Path("keep")).IsConnected(SharedUserlist));
        QCOMPARE(ShareFixture::CountOf(SearchToken), 0);

        QCOMPARE(ShareFixture::Rescan(), std::make_pair(0, 0));
        QCOMPARE(m_share.File("keep/sub/song.mp3"), file);
        QVERIFY(ShareFixture::Tokens(file).contains("song"));
        QVERIFY(ShareFixture::Tokens(file).contains("song.mp3"));
    }

    void RescansQueueBehindARunningScan()
    {
        for (int n = 0; n < 50; ++n)
            m_share.Write(QString("big/%1/file.txt").arg(n));
        m_share.Write("late/file.txt");
        m_share.Share("big");

        QSignalSpy done(sharedFoldersManager, &SharedFoldersManager::SharedFilesRescanned);
        QSignalSpy progress(sharedFoldersManager, &SharedFoldersManager::RescanProgress);
        sharedFoldersManager->RescanShares();
        QVERIFY(sharedFoldersManager->IsRescanning());
        // Asked again while running: one more rescan; a new root joins this one.
        sharedFoldersManager->RescanShares();
        sharedFoldersManager->RescanShares();
        d.GetType(SharedFolder)->GetItem(m_share.Path("late"));
        sharedFoldersManager->WaitForRescan();
        QVERIFY(!sharedFoldersManager->IsRescanning());
        QCOMPARE(done.count(), 2);
        QCOMPARE(done.at(0).at(0).toInt(), 1);
        QCOMPARE(done.at(1).at(0).toInt(), 0);
        QVERIFY(m_share.File("late/file.txt"));
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last().at(0).toInt(), 52);
        QCOMPARE(progress.last().at(1).toInt(), 51);
    }

    void LinkLoopsAreWalkedOnce()
    {
        m_share.Write("loop/top.txt");
        m_share.Write("loop/a/inner.txt");
        QVERIFY(QFile::link(m_share.Disk("loop"), m_share.Disk("loop/a/back")));
        QVERIFY(QFile::link(m_share.Disk("loop/top.txt"), m_share.Disk("loop/a/linked.txt")));
        m_share.Share("loop");
        // A link to a file counts as that file; one back to the root, as nothing.
        QCOMPARE(ShareFixture::CountOf(SharedFile), 3);
        QVERIFY(m_share.File("loop/a/linked.txt"));
        QVERIFY(!d.GetType(SharedFileFolder)->HasItem(m_share.Path("loop/a/back")));
    }

    void LoginAndRescansReportTheShareSize()
    {
        m_share.Write("report/x/1.txt");
        m_share.Write("report/x/2.txt");
        m_share.Write("report/3.txt");
        m_share.Share("report");

        ScriptedServer server;
        server.PointClientHere();
        Settings::Set("username", "alice");
        Settings::Set("password", "secret");
        gp_server->Connect();
        QVERIFY(server.WaitFor(LoginFrame("alice", "secret")));
        server.Send(
            ScriptedServer::Frame(Body(1).Byte(1).String("Welcome").UInt32(0x7f000001).String("")));
        // Two folders (the root and x) and three files, then our own statistics.
        QVERIFY(server.WaitFor(Sent(Body(35).UInt32(2).UInt32(3))));
        QVERIFY(server.WaitFor(Sent(Body(36).String("alice"))));
        // A rescan while online reports the new size, so others see it at once.
        m_share.Write("report/x/4.txt");
        ShareFixture::Rescan();
        QVERIFY(server.WaitFor(Sent(Body(35).UInt32(2).UInt32(4))));
        gp_server->Disconnect();
    }

private:
    ShareFixture m_share;
};

QTEST_GUILESS_MAIN(ShareIndexTest)
#include "ShareIndexTest.moc"
