#include <QAction>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "base/Settings.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "ui/ActionSetToolBar.h"

// The bar on its own, in a window of plain widgets: a room list, a room
// page with a fixed key and a page nobody registered.
class ActionSetToolBarTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void FollowsFocusAcrossPagesAndTabs();
    void ButtonsFillContextAndTakeWidgetTexts();
    void PrivilegesTextAndAccountPage();

private:
    QStringList Buttons() const;
    void Focus(QWidget* widget);
    QAction* Button(const char* id) const { return m_bar->findChild<QAction*>(id); }

    QMainWindow m_window;
    DataSaver m_saver;
    ActionSetToolBar* m_bar = nullptr;
    QTabWidget* m_tabs = nullptr;
    QTreeWidget* m_rooms = nullptr;
    QWidget* m_room = nullptr;
    QLineEdit* m_roomInput = nullptr;
    QLineEdit* m_unregistered = nullptr;
};

void ActionSetToolBarTest::initTestCase()
{
    Settings::DeclareSchema(m_saver);
    m_bar = new ActionSetToolBar(&m_window);
    m_window.addToolBar(m_bar);
    m_bar->AddSetAction("room_list", "enter_room", "Enter Room", ":/icons/room_icon", false);
    m_bar->AddSetAction("room_list", "refresh_room_list", "Refresh Room List", "", false);
    m_bar->AddSetAction("room", "leave_room", "Leave Room", ":/icons/room_icon", false);
    m_bar->AddSetAction("room", "toggle_room_autojoin", "Toggle Room Autojoin", "", false);
    m_bar->AddSetAction("room", "message_user", "Message User", "", true);

    m_tabs = new QTabWidget(&m_window);
    m_rooms = new QTreeWidget;
    m_rooms->setColumnCount(2);
    for (const char* name : {"jazz", "rock", "folk"})
        new QTreeWidgetItem(m_rooms, {name, "3"});
    m_room = new QWidget;
    m_roomInput = new QLineEdit(m_room);
    (new QVBoxLayout(m_room))->addWidget(m_roomInput);
    m_unregistered = new QLineEdit;
    m_tabs->addTab(m_rooms, "Rooms");
    m_tabs->addTab(m_room, "jazz");
    m_tabs->addTab(m_unregistered, "Other");
    m_window.setCentralWidget(m_tabs);
    ActionSetToolBar::AutoFocusTabWidget(m_tabs);

    m_bar->RegisterWidget(m_rooms, "room_list");
    m_bar->AddWidgetColumnKey(m_rooms, "room", 0);
    m_bar->RegisterWidget(m_room, "room");
    m_bar->AddWidgetKey(m_room, "room", "jazz");

    m_window.show();
    m_window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&m_window));
}

QStringList ActionSetToolBarTest::Buttons() const
{
    QStringList texts;
    for (QAction* action : m_bar->actions())
        if (!action->text().isEmpty())
            texts << action->text();
    return texts;
}

void ActionSetToolBarTest::Focus(QWidget* widget)
{
    widget->setFocus(Qt::OtherFocusReason);
    QTRY_VERIFY(widget->hasFocus());
}

void ActionSetToolBarTest::FollowsFocusAcrossPagesAndTabs()
{
    Focus(m_rooms);
    QCOMPARE(Buttons(), QStringList({"Enter Room", "Refresh Room List"}));

    // A widget inside a registered page finds the page's set.
    Focus(m_roomInput);
    QCOMPARE(Buttons(), QStringList({"Leave Room", "Toggle Room Autojoin", "Message User"}));
    QCOMPARE(m_bar->GetKey("room"), QString("jazz"));

    // Nothing registered: only the privileges button is left.
    m_tabs->setCurrentIndex(2);
    QTRY_VERIFY(m_unregistered->hasFocus());
    QCOMPARE(Buttons(), QStringList());
    QVERIFY(m_bar->PrivilegesButton()->isVisible());

    // Changing tabs by keyboard moves the focus into the new page.
    Focus(m_tabs->tabBar());
    QCOMPARE(m_bar->CurrentSet(), QString()); // the "Other" page
    m_tabs->setCurrentIndex(0);
    QTRY_COMPARE(m_bar->CurrentSet(), QString("room_list"));
    QTest::keyClick(m_tabs, Qt::Key_Tab, Qt::ControlModifier);
    QTRY_COMPARE(m_bar->CurrentSet(), QString("room"));
    QVERIFY(m_roomInput->hasFocus());
}

void ActionSetToolBarTest::ButtonsFillContextAndTakeWidgetTexts()
{
    QSignalSpy triggered(m_bar, &ActionSetToolBar::ActionTriggered);

    // The room of the first selected row, as shown, not as picked.
    m_tabs->setCurrentIndex(0);
    Focus(m_rooms);
    m_rooms->topLevelItem(2)->setSelected(true);
    m_rooms->topLevelItem(1)->setSelected(true);
    Button("enter_room")->trigger();
    QCOMPARE(triggered.size(), 1);
    QCOMPARE(triggered.takeFirst().at(0).value<std::string>(), std::string("enter_room"));
    QCOMPARE(m_bar->GetKey("room"), QString("rock"));

    // Without a selection the action still runs, with the previous context.
    m_rooms->clearSelection();
    Button("refresh_room_list")->trigger();
    QCOMPARE(triggered.size(), 1);
    QCOMPARE(m_bar->GetKey("room"), QString("rock"));

    // Focusing the room form sets its fixed key.
    m_tabs->setCurrentIndex(1);
    QTRY_COMPARE(m_bar->CurrentSet(), QString("room"));
    QCOMPARE(m_bar->GetKey("room"), QString("jazz"));

    // An action that needs a row does nothing while a list without a
    // selection has the focus.
    auto* members = new QTreeWidget(m_room);
    m_room->layout()->addWidget(members);
    new QTreeWidgetItem(members, {"alice"});
    Focus(members);
    Button("message_user")->trigger();
    QCOMPARE(triggered.size(), 1);
    members->topLevelItem(0)->setSelected(true);
    Button("message_user")->trigger();
    QCOMPARE(triggered.size(), 2);
    delete members;

    // Another widget of the same set keeps the set's text.
    m_bar->SetWidgetActionText(m_room, "toggle_room_autojoin", "Auto-Join Room [off]");
    auto* other = new QLineEdit;
    m_tabs->addTab(other, "rock");
    m_bar->RegisterWidget(other, "room");
    m_tabs->setCurrentWidget(other);
    QTRY_COMPARE(m_bar->CurrentWidget(), static_cast<QWidget*>(other));
    QCOMPARE(Button("toggle_room_autojoin")->text(), QString("Toggle Room Autojoin"));
    m_tabs->setCurrentIndex(1);
    QTRY_COMPARE(Button("toggle_room_autojoin")->text(), QString("Auto-Join Room [off]"));

    // A destroyed widget leaves nothing behind for a later one at its address.
    const Value address(static_cast<QObject*>(other));
    delete other;
    QVERIFY(!d.GetType("toolbar_action_widget")->HasItem(address));
}

void ActionSetToolBarTest::PrivilegesTextAndAccountPage()
{
    QCOMPARE(ActionSetToolBar::PrivilegesText(36 * 3600), QString("2 Days Left"));
    QCOMPARE(ActionSetToolBar::PrivilegesText(35 * 3600), QString("1 Days Left"));
    QCOMPARE(ActionSetToolBar::PrivilegesText(-5), QString("Support Quorvale!"));

    QList<QUrl> opened;
    m_bar->SetUrlOpener([&](const QUrl& url) { opened << url; });
    Settings::Set("username", "big bird&co");
    QTest::mouseClick(m_bar->PrivilegesButton(), Qt::LeftButton);
    QCOMPARE(opened.size(), 1);
    QCOMPARE(opened[0].path(), QString("/qtlogin.php"));
    QCOMPARE(opened[0].query(QUrl::FullyEncoded), QString("username=big%20bird%26co"));
}

QTEST_MAIN(ActionSetToolBarTest)
#include "ActionSetToolBarTest.moc"
