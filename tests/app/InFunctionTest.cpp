#include <QtTest>

#include "app/InFunction.h"

class InFunctionTest : public QObject
{
    Q_OBJECT

private slots:
    void MarkLastsAsLongAsTheMarker();
    void DisposeClearsTheMarkOnce();
    void NestedMarkersWithOneNameShareOneMark();
};

void InFunctionTest::MarkLastsAsLongAsTheMarker()
{
    QVERIFY(!IsInFunction("OnSocketReadyToRead"));
    {
        InFunction marker("OnSocketReadyToRead");
        QVERIFY(IsInFunction("OnSocketReadyToRead"));
        QVERIFY(!IsInFunction("OnSocket"));
        {
            InFunction inner("Other");
            QVERIFY(IsInFunction("Other"));
            QVERIFY(IsInFunction("OnSocketReadyToRead"));
        }
        QVERIFY(!IsInFunction("Other"));
        QVERIFY(IsInFunction("OnSocketReadyToRead"));
    }
    QVERIFY(!IsInFunction("OnSocketReadyToRead"));
    QVERIFY(g_inFunctions.empty());
}

void InFunctionTest::DisposeClearsTheMarkOnce()
{
    auto* first = new InFunction("Handler");
    first->Dispose();
    QVERIFY(!IsInFunction("Handler"));

    // A later marker of the same name must survive the first one's second
    // Dispose and its destructor.
    InFunction second("Handler");
    first->Dispose();
    QVERIFY(IsInFunction("Handler"));
    delete first;
    QVERIFY(IsInFunction("Handler"));
}

void InFunctionTest::NestedMarkersWithOneNameShareOneMark()
{
    InFunction outer("Recursive");
    {
        InFunction inner("Recursive");
        QCOMPARE(g_inFunctions.count("Recursive"), std::size_t(1));
    }
    // The inner marker took the one mark with it.
    QVERIFY(!IsInFunction("Recursive"));
}

QTEST_GUILESS_MAIN(InFunctionTest)
#include "InFunctionTest.moc"
