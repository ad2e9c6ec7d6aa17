#include <QFile>
#include <QtTest>

#include "SharingTestSupport.h"
#include "search/SearchTypes.h"
#include "store/DataSaver.h"

using namespace SharingTypes;

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

    void IndexSurvivesTheSnapshotAndRescanRebuildsWords()
    {
        m_share.Write("keep/sub/song.mp3", 1234);
        m_share.Share("keep", false, true);
        sharedFoldersManager->OnMP3Scanned(m_share.Disk("keep/sub/song.mp3"), 1, "mono", 0, false,
                                           128);
        const QByteArray snapshot = QFile::encodeName(QDir::homePath() + "/index-snapshot");
        QVERIFY(dataSaver->Save(snapshot.constData()));

        d.RemoveAllItems();
        dataSaver->Load(snapshot.constData());
        // Loaded as saved, before any scan has run.
        ItemPtr file = m_share.File("keep/sub/song.mp3");
        QVERIFY(file);
        QCOMPARE(file[SharedFileSize].AsString(), std::string("1234"));
        QCOMPARE(file[SearchTypes::Bitrate].AsInt(), 128);
        QCOMPARE(file[SearchTypes::BitrateMode].AsString(), std::string("cbr"));
        QVERIFY(file.IsConnected(IsScanned));
        QVERIFY(d.GetType(SharedFolder)->HasItem(m_share.Path("keep")).IsConnected(SharedUserlist));

        QCOMPARE(ShareFixture::Rescan(), std::make_pair(0, 0));
        QCOMPARE(m_share.File("keep/sub/song.mp3"), file);
        QVERIFY(ShareFixture::Tokens(file).contains("song.mp3"));
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

private:
    ShareFixture m_share;
};

QTEST_GUILESS_MAIN(ShareIndexTest)
#include "ShareIndexTest.moc"
