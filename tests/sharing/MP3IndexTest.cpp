#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "../app/StartUpTestHost.h"
#include "app/StartUp.h"
#include "search/SearchTypes.h"
#include "sharing/MP3Scanner.h"
#include "sharing/SharedFoldersManager.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"
#include "store/ItemPtr.h"

using namespace SharingTypes;

// Scan requests travel to the scanner thread and the results come back to
// the file's item, with the whole start-up sequence running headless.
class MP3IndexTest : public QObject
{
    Q_OBJECT

private slots:
    void ScanResultsReachTheFileItems();

private:
    // A shared file in `folder` as the index holds it, without a rescan.
    ItemPtr AddSharedFile(const QString& folder, const QString& name);
};

ItemPtr MP3IndexTest::AddSharedFile(const QString& folder, const QString& name)
{
    ItemPtr file = d.GetType(SharedFile)->NewItem();
    file.Connect(d.GetType(SharedFileFolder)->GetItem(folder.toStdString()));
    file.Connect(d.GetType(SharedFileName)->GetItem(name.toStdString()));
    return file;
}

void MP3IndexTest::ScanResultsReachTheFileItems()
{
    StartUpTestHost host;
    StartUp startUp(&host);
    startUp.Init();
    QVERIFY(sharedFoldersManager);
    // The start-up rescan would collect files that belong to no shared root.
    sharedFoldersManager->WaitForRescan();
    QVERIFY(sharedFoldersManager->GetMP3Scanner()->thread() != thread());

    QTemporaryDir dir;
    const QString data = QUORVALE_TEST_DATA "/mp3/";
    QVERIFY(QFile::copy(data + "cbr128_joint.mp3", dir.filePath("Song.mp3")));
    QVERIFY(QFile::copy(data + "mpeg2_22k_mono.mp3", dir.filePath("Talk.mp3")));
    QFile broken(dir.filePath("Broken.mp3"));
    QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("not audio at all\n") > 0);
    broken.close();
    ItemPtr song = AddSharedFile(dir.path(), "Song.mp3");
    ItemPtr talk = AddSharedFile(dir.path(), "Talk.mp3");
    ItemPtr brokenFile = AddSharedFile(dir.path(), "Broken.mp3");

    // Scans run in the order asked for, so once the last one is in the
    // broken file has long been tried.
    emit sharedFoldersManager->MP3ScanRequired(dir.filePath("Broken.mp3"));
    emit sharedFoldersManager->MP3ScanRequired(dir.filePath("Song.mp3"));
    emit sharedFoldersManager->MP3ScanRequired(dir.filePath("Talk.mp3"));
    QTRY_VERIFY(talk[IsScanned]);
    QVERIFY(song[IsScanned]);
    QVERIFY(!brokenFile[IsScanned]);
    QVERIFY(!brokenFile[SearchTypes::Bitrate]);

    using namespace SearchTypes;
    QCOMPARE(song[MpegVersion].AsInt(), 1);
    QCOMPARE(song[ChannelMode].AsString(), std::string("joint stereo"));
    QCOMPARE(song[AudioFrequency].AsInt(), 0);
    QCOMPARE(song[BitrateMode].AsString(), std::string("cbr"));
    QCOMPARE(song[Bitrate].AsInt(), 128);
    QCOMPARE(talk[MpegVersion].AsInt(), 2);
    QCOMPARE(talk[ChannelMode].AsString(), std::string("mono"));
    QCOMPARE(talk[Bitrate].AsInt(), 48);
    QVERIFY(talk[IsScanned] == d.GetType(IsScanned)->GetGlobalNullItem());
}

QTEST_GUILESS_MAIN(MP3IndexTest)
#include "MP3IndexTest.moc"
