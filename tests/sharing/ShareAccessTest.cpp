#include <QtTest>

#include "SharingTestSupport.h"
#include "sharing/SharedFileRecord.h"

using namespace SharingTypes;

class ShareAccessTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_share.Start(); }
    void init() { m_share.Reset(); }
    void cleanupTestCase() { m_share.Stop(); }

    void RootsAreSeenAsTheirFlagsSay()
    {
        for (const char* root : {"everyone", "list", "group", "both", "mine"})
            m_share.Write(QString(root) + "/f.txt");
        ItemPtr everyone = m_share.Share("everyone");
        ItemPtr list = m_share.Share("list", false, true);
        ItemPtr group = m_share.Share("group", false, false, {"friends"});
        ItemPtr both = m_share.Share("both", true, false, {"friends"});
        m_share.Share("mine", false);

        d.GetType(ServerTypes::User)->GetItem("stranger");
        ShareIndex::ListedUser("listed");
        ShareIndex::ListedUser("friend", "friends");
        ShareIndex::ListedUser("banned", "friends").NewItem(Unshared);

        QCOMPARE(sharedFoldersManager->GetUserSharedFolders("stranger"), ItemSet({everyone, both}));
        QCOMPARE(sharedFoldersManager->GetUserSharedFolders("listed"),
                 ItemSet({everyone, both, list}));
        QCOMPARE(sharedFoldersManager->GetUserSharedFolders("friend"),
                 ItemSet({everyone, both, list, group}));
        QVERIFY(sharedFoldersManager->GetUserSharedFolders("banned").empty());

        const auto sees = [this](const char* user, const char* root) {
            return sharedFoldersManager->IsFileSharedWithUser(
                m_share.File(QString(root) + "/f.txt"), user);
        };
        // A file is seen through its root, by the same rules.
        QVERIFY(sees("stranger", "both") && !sees("stranger", "group"));
        QVERIFY(sees("friend", "group") && !sees("friend", "mine") && !sees("banned", "everyone"));
    }

    void PeerPathsLeadOnlyToSharedFiles()
    {
        m_share.Write("pub/Album/Song.mp3");
        m_share.Write("pub/secret.txt");
        m_share.Write("private/secret.txt");
        m_share.Write("outside.txt");
        m_share.Share("pub/Album");
        m_share.Share("private", false);
        ItemPtr song = m_share.File("pub/Album/Song.mp3");
        QVERIFY(song);

        // Case, doubled and trailing separators still name the same file.
        const std::string songPath = Shared("pub/Album/Song.mp3");
        QCOMPARE(ForUser("peer", songPath), song);
        QCOMPARE(ForUser("peer", QString::fromStdString(songPath).toUpper().toStdString()), song);
        QString doubled = QString::fromStdString(songPath);
        QCOMPARE(ForUser("peer", doubled.replace("\\", "\\\\").toStdString() + "\\"), song);
        QCOMPARE(ForUser("peer", m_share.Path("pub/Album/Song.mp3")), song);

        // Nothing outside the roots, whatever the path holds.
        const QString album = QString::fromStdString(Shared("pub/Album"));
        const QStringList attacks = {
            album + "\\..\\secret.txt",
            album + "\\..\\..\\outside.txt",
            album + "\\.\\Song.mp3\\..\\..\\secret.txt",
            QString::fromStdString(Shared("pub/secret.txt")),
            QString::fromStdString(Shared("outside.txt")),
            "\\etc\\passwd",
            "/etc/passwd",
            "C:\\Windows\\win.ini",
            "..\\..\\..\\etc\\passwd",
            "Song.mp3",
            "\\Song.mp3",
            album,
            album + "\\",
            "",
            "\\",
            "\\\\\\",
        };
        for (const QString& attack : attacks) {
            QVERIFY2(!ForUser("peer", attack.toStdString()), qPrintable(attack));
            QVERIFY2(!sharedFoldersManager->GetSharedFileItem(
                         SharedFileRecord::ToLocalPath(attack.toStdString())),
                     qPrintable(attack));
        }

        // A private root's file exists in the index but is nobody's to fetch.
        QVERIFY(m_share.File("private/secret.txt"));
        QVERIFY(!ForUser("peer", Shared("private/secret.txt")));

        // Unsharing takes files out of reach at once, before collection.
        d.GetType(SharedFolder)->HasItem(m_share.Path("pub/Album")).Remove();
        QVERIFY(m_share.File("pub/Album/Song.mp3"));
        QVERIFY(!ForUser("peer", songPath));
    }

private:
    // The path a peer would send for one of our files.
    std::string Shared(const QString& relative) const
    {
        return SharedFileRecord::ToSharedPath(m_share.Path(relative));
    }
    ItemPtr ForUser(const std::string& user, const std::string& sharedPath)
    {
        return sharedFoldersManager->GetSharedFileForUser(user, sharedPath);
    }

    ShareFixture m_share;
};

QTEST_GUILESS_MAIN(ShareAccessTest)
#include "ShareAccessTest.moc"
