#include <memory>

#include <QtTest>

#include "../server/ServerTestSupport.h"
#include "base/Settings.h"
#include "search/WishListSearcher.h"
#include "search/WishListTypes.h"

// The searcher against a scripted server; the timer's slot is called directly.
class WishListSearcherTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        DeclareServerSchemas();
        WishListSearcher::DeclareSchema(*dataSaver);
    }

    void init()
    {
        d.RemoveAllItems();
        m_session = std::make_unique<ServerSession>();
        m_searcher = std::make_unique<WishListSearcher>();
        QVERIFY(m_session->LogIn());
    }

    void cleanup()
    {
        m_searcher.reset();
        m_session.reset();
    }

    void NothingIsSentUntilTheServerSetsAPeriod()
    {
        WishListSearcher::AddEntry("lighthouse");
        QVERIFY(!WishListSearcher::AddEntry(""));
        QCOMPARE(Index(), 0);
        QVERIFY(!m_searcher->SearchTimer().isActive());
        QCOMPARE(m_session->TakeSent(), QByteArray());

        LogCapture log;
        QVERIFY(m_session->Handled(Body(104).UInt32(720)));
        QVERIFY(m_searcher->SearchTimer().isActive());
        QCOMPARE(m_searcher->SearchTimer().interval(), 720);
        QCOMPARE(Settings::GetVolatile("wish_list_wait"), std::string("720"));
        QCOMPARE(log.lines, QStringList{"Wish List|Wish list wait period set to 720 milliseconds"});
        QVERIFY(m_session->Handled(Body(104).UInt32(60000)));
        QCOMPARE(m_searcher->SearchTimer().interval(), 60000);
        QCOMPARE(m_session->TakeSent(), QByteArray());
    }

    void EnabledEntriesGoOutAlphabeticallyInTurn()
    {
        for (const char* text : {"b", "a", "c", "0 off"})
            WishListSearcher::AddEntry(text);
        WishListSearcher::SetEnabled(WishListSearcher::FindEntry("0 off"), false);
        QVERIFY(!WishListSearcher::AddEntry("0 off"));
        QVERIFY(m_session->Handled(Body(104).UInt32(720)));

        LogCapture log;
        for (int i = 0; i < 4; ++i)
            m_searcher->OnSearchTimerTimeout();
        QCOMPARE(m_session->TakeSent(),
                 WishSearch(1, "a") + WishSearch(2, "b") + WishSearch(3, "c") + WishSearch(4, "a"));
        QCOMPARE(Index(), 1);
        QCOMPARE(log.lines.value(0), QString("Wish List|Sent wish list search: a"));
        QCOMPARE(log.lines.size(), 4);

        // An entry enabled now takes its alphabetical place in the rotation.
        WishListSearcher::SetEnabled(WishListSearcher::FindEntry("0 off"), true);
        m_searcher->OnSearchTimerTimeout();
        m_searcher->OnSearchTimerTimeout();
        QCOMPARE(m_session->TakeSent(), WishSearch(5, "a") + WishSearch(6, "b"));
    }

    void TheIndexWrapsWhenEntriesGoAway()
    {
        for (const char* text : {"a", "b", "c"})
            WishListSearcher::AddEntry(text);
        m_searcher->OnSearchTimerTimeout();
        m_searcher->OnSearchTimerTimeout();
        QCOMPARE(Index(), 2);
        WishListSearcher::SetEnabled(WishListSearcher::FindEntry("a"), false);
        WishListSearcher::FindEntry("c").Remove();

        // Position 2 of a list of one is that one; the index starts over.
        m_searcher->OnSearchTimerTimeout();
        QCOMPARE(Index(), 0);
        QCOMPARE(m_session->TakeSent(),
                 WishSearch(1, "a") + WishSearch(2, "b") + WishSearch(3, "b"));

        // With nothing enabled nothing goes out and the index stays.
        Settings::SetVolatile("wish_list_search_index", 5);
        WishListSearcher::SetEnabled(WishListSearcher::FindEntry("b"), false);
        m_searcher->OnSearchTimerTimeout();
        QCOMPARE(Index(), 5);
        QCOMPARE(m_session->TakeSent(), QByteArray());
    }

private:
    static QByteArray WishSearch(std::uint32_t token, const QByteArray& text)
    {
        return Sent(Body(103).UInt32(token).String(text));
    }

    static long long Index() { return Settings::GetVolatileInt("wish_list_search_index", -1); }

    std::unique_ptr<ServerSession> m_session;
    std::unique_ptr<WishListSearcher> m_searcher;
};

QTEST_GUILESS_MAIN(WishListSearcherTest)
#include "WishListSearcherTest.moc"
