#include <QDir>
#include <QHeaderView>
#include <QSplitter>
#include <QTest>
#include <QTreeWidget>

#include "store/Data.h"
#include "store/DataSaver.h"
#include "ui/ResizableWindow.h"
#include "ui/SizeManager.h"

namespace {

// A window that only keeps numbers, standing in for the main window.
class FakeWindow : public ResizableWindow
{
public:
    FakeWindow(int x, int y, int w, int h) : m_x(x), m_y(y), m_w(w), m_h(h) {}
    int GetX() override { return m_x; }
    int GetY() override { return m_y; }
    int GetWidth() override { return m_w; }
    int GetHeight() override { return m_h; }
    void SetPosition(int x, int y) override { m_x = x, m_y = y; }
    void SetSize(int w, int h) override { m_w = w, m_h = h; }

    int m_x, m_y, m_w, m_h;
};

QTreeWidget* NewList(int columns)
{
    auto* list = new QTreeWidget;
    list->setColumnCount(columns);
    for (int c = 0; c < columns; ++c)
        list->header()->resizeSection(c, 50);
    return list;
}

QSplitter* NewSplitter()
{
    auto* splitter = new QSplitter;
    splitter->addWidget(new QWidget);
    splitter->addWidget(new QWidget);
    splitter->resize(404, 100);
    return splitter;
}

} // namespace

class SizeManagerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void ListsAndSplittersOfOneNameKeepInStep();
    void GeometryComesBackAfterRestart();

private:
    void Restart();

    DataSaver m_saver;
    SizeManager* m_sizes = nullptr;
};

void SizeManagerTest::initTestCase()
{
    m_sizes = new SizeManager(m_saver, this);
}

void SizeManagerTest::Restart()
{
    const QByteArray path = QFile::encodeName(QDir::homePath() + "/.Quorvale");
    QVERIFY(m_saver.Save(path.constData()));
    d.RemoveAllItems();
    m_saver.Load(path.constData());
}

void SizeManagerTest::ListsAndSplittersOfOneNameKeepInStep()
{
    QTreeWidget* first = NewList(3);
    m_sizes->RegisterTreeWidget("room_user_list", first);
    QTreeWidget* second = NewList(3);
    second->header()->resizeSection(0, 90);
    m_sizes->RegisterTreeWidget("room_user_list", second);
    QCOMPARE(second->header()->sectionSize(0), 50); // the name's widths win

    // The stretched last column is never touched.
    const int lastBefore = second->header()->sectionSize(2);
    first->header()->resizeSection(1, 120);
    QCOMPARE(second->header()->sectionSize(1), 120);
    first->header()->resizeSection(0, 70);
    QCOMPARE(second->header()->sectionSize(0), 70);
    first->header()->resizeSection(2, 99);
    QCOMPARE(second->header()->sectionSize(2), lastBefore);

    // With every list closed the widths are kept for the next one.
    delete first;
    delete second;
    QTreeWidget* later = NewList(3);
    m_sizes->RegisterTreeWidget("room_user_list", later);
    QCOMPARE(later->header()->sectionSize(1), 120);
    QTreeWidget* other = NewList(3);
    m_sizes->RegisterTreeWidget("user_list", other);
    QCOMPARE(other->header()->sectionSize(1), 50);
    delete later;
    delete other;

    QSplitter* left = NewSplitter();
    m_sizes->RegisterSplitter("room_splitter", left, {300, 100});
    QCOMPARE(left->sizes(), QList<int>({300, 100}));
    QSplitter* right = NewSplitter();
    m_sizes->RegisterSplitter("room_splitter", right, {10, 10});
    QCOMPARE(right->sizes(), QList<int>({300, 100}));
    left->setSizes({100, 300});
    emit left->splitterMoved(100, 1); // what a drag emits
    QCOMPARE(right->sizes(), QList<int>({100, 300}));
    delete left;
    delete right;
}

void SizeManagerTest::GeometryComesBackAfterRestart()
{
    FakeWindow window(10, 20, 640, 480);
    m_sizes->RegisterResizableWindow("main_window", &window);
    emit window.WindowMoved(33, 44);
    emit window.WindowResized(800, 500);
    QTreeWidget* list = NewList(2);
    list->header()->setStretchLastSection(false);
    m_sizes->RegisterTreeWidget("room_list", list);
    list->header()->resizeSection(1, 77);
    QSplitter* splitter = NewSplitter();
    m_sizes->RegisterSplitter("room_list_splitter", splitter);
    splitter->setSizes({150, 250});
    emit splitter->splitterMoved(150, 1);
    delete list;
    delete splitter;

    Restart();

    FakeWindow reopened(0, 0, 100, 100);
    m_sizes->RegisterResizableWindow("main_window", &reopened);
    QCOMPARE(QList<int>({reopened.m_x, reopened.m_y, reopened.m_w, reopened.m_h}),
             QList<int>({33, 44, 800, 500}));
    QTreeWidget* newList = NewList(2);
    newList->header()->setStretchLastSection(false);
    m_sizes->RegisterTreeWidget("room_list", newList);
    QCOMPARE(newList->header()->sectionSize(1), 77);
    QSplitter* newSplitter = NewSplitter();
    m_sizes->RegisterSplitter("room_list_splitter", newSplitter, {1, 1});
    QCOMPARE(newSplitter->sizes(), QList<int>({150, 250}));
    delete newList;
    delete newSplitter;
    // No value item was kept for a size nobody uses any more.
    QVERIFY(!d.GetType("sizer_width")->HasItem(640));
}

QTEST_MAIN(SizeManagerTest)
#include "SizeManagerTest.moc"
