#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "LabServerProcess.h"
#include "NodeProcess.h"
#include "base/Settings.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "store/Data.h"
#include "ui/ActionSetToolBar.h"
#include "ui/AddUserDialog.h"
#include "ui/ChatTypes.h"
#include "ui/ChatView.h"
#include "ui/EventToolBar.h"
#include "ui/LoginDialog.h"
#include "ui/MainWindow.h"
#include "ui/RoomForm.h"

// The window logged in to the real lab server, with a headless node as the
// person on the other side.
class MainWindowOnlineTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void LogsInSeesRoomsAndEntersOne();
    void PrivateMessagesFromOneUserShareATab();
    void AddsUsersTheServerKnows();
    void RefusesUserChangeOnlineAndReportsWrongPassword();

private:
    QTabWidget* Pages() const { return qobject_cast<QTabWidget*>(m_window->centralWidget()); }
    QTabWidget* ChatTabs() const;
    void Press(QWidget* focus, const char* id);
    QAction* MenuAction(const char* name) const { return m_window->findChild<QAction*>(name); }
    static QStringList Members(RoomForm* form);

    LabServerProcess m_server;
    NodeProcess m_bob;
    MainWindow* m_window = nullptr;
    QTimer m_closer;
    QStringList m_boxes;
    int m_loginDialogs = 0;
};

void MainWindowOnlineTest::initTestCase()
{
    QVERIFY(m_server.Start({"--privileged", "alice"}));
    QVERIFY(m_bob.StartAndLogIn(m_server.Port(), "bob"));
    m_bob.Send("join lobby");
    QVERIFY(m_bob.WaitForPrefix("joined\tlobby").size() > 0);
    qputenv("QUORVALE_SERVER", QByteArray("127.0.0.1:") + QByteArray::number(m_server.Port()));

    // Every box is answered and remembered; the first-start login is filled in.
    connect(&m_closer, &QTimer::timeout, [this] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            m_boxes << box->windowTitle() + ": " + box->text();
            box->button(QMessageBox::Ok)->click();
        } else if (auto* login = qobject_cast<LoginDialog*>(modal)) {
            ++m_loginDialogs;
            const auto fields = login->findChildren<QLineEdit*>();
            QCOMPARE(fields.size(), 2);
            fields[0]->setText("alice");
            fields[1]->setText("right");
            login->accept();
        }
    });
    m_closer.start(10);

    m_window = new MainWindow;
    m_window->show();
    m_window->Init();
    QCOMPARE(m_loginDialogs, 1);
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    // The rooms page showed from the start without a change of page; after
    // the login it still has the focus and the tool bar its actions.
    auto* rooms = m_window->findChild<QTreeWidget*>("room_list");
    QVERIFY(rooms);
    QTRY_VERIFY(rooms->hasFocus());
    QVERIFY(actionBar->findChild<QAction*>("refresh_room_list"));
    QVERIFY(MenuAction("connect") && MenuAction("disconnect"));
}

void MainWindowOnlineTest::cleanupTestCase()
{
    delete m_window;
    m_bob.Quit();
    QVERIFY(m_server.Stop());
}

QTabWidget* MainWindowOnlineTest::ChatTabs() const
{
    return m_window->findChild<QTabWidget*>("chat_tabs");
}

void MainWindowOnlineTest::Press(QWidget* focus, const char* id)
{
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    focus->setFocus();
    QTRY_VERIFY(focus->hasFocus());
    QAction* button = actionBar->findChild<QAction*>(id);
    QVERIFY2(button, id);
    button->trigger();
}

QStringList MainWindowOnlineTest::Members(RoomForm* form)
{
    QStringList names;
    for (int i = 0; i < form->Members()->topLevelItemCount(); ++i)
        names << form->Members()->topLevelItem(i)->text(0);
    return names;
}

void MainWindowOnlineTest::LogsInSeesRoomsAndEntersOne()
{
    // Online: the menu, the privileges asked for at login, the icon.
    QTRY_VERIFY(MenuAction("disconnect")->isEnabled());
    QTRY_COMPARE(actionBar->PrivilegesButton()->text(), QString("30 Days Left"));

    auto* rooms = m_window->findChild<QTreeWidget*>("room_list");
    QVERIFY(rooms);
    Press(rooms, "refresh_room_list");
    QTRY_COMPARE(rooms->topLevelItemCount(), 1);
    QCOMPARE(rooms->topLevelItem(0)->text(0), QString("lobby"));
    QCOMPARE(rooms->topLevelItem(0)->text(1), QString("1"));

    // A double click enters the room: a tab with its form, focused, so the
    // bar shows the room's commands.
    auto* roomTabs = m_window->findChild<QTabWidget*>("room_tabs");
    const QRect row = rooms->visualItemRect(rooms->topLevelItem(0));
    QTest::mouseClick(rooms->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(rooms->viewport(), Qt::LeftButton, {}, row.center());
    QTRY_COMPARE(roomTabs->count(), 1);
    QTRY_COMPARE(actionBar->CurrentSet(), QString("room"));
    QCOMPARE(actionBar->GetKey("room"), QString("lobby"));
    ItemPtr lobby = d.GetType(ServerTypes::Room)->HasItem("lobby");
    QVERIFY(lobby[ChatTypes::RoomForm]);

    // A new count updates the room's row.
    Press(rooms, "refresh_room_list");
    QTRY_COMPARE(rooms->topLevelItem(0)->text(1), QString("2"));

    // Chat both ways; an empty line sends nothing, so the next line bob
    // hears is the real one.
    auto* room = qobject_cast<RoomForm*>(roomTabs->widget(0));
    QVERIFY(room);
    QTRY_COMPARE(Members(room), (QStringList{"alice", "bob"}));
    m_bob.Send("say lobby <b>hi</b>");
    QTRY_VERIFY(room->View()->toPlainText().endsWith("[bob] <b>hi</b>"));
    room->Entry()->setFocus();
    QTRY_VERIFY(room->Entry()->hasFocus());
    QTest::keyClick(room->Entry(), Qt::Key_Return);
    QTest::keyClicks(room->Entry(), "hello bob");
    QTest::keyClick(room->Entry(), Qt::Key_Return);
    QVERIFY(room->Entry()->text().isEmpty());
    QCOMPARE(m_bob.WaitForPrefix("room-chat\tlobby\talice"),
             QString("room-chat\tlobby\talice\thello bob"));
    QTRY_VERIFY(room->View()->toPlainText().endsWith("[alice] hello bob"));

    // The server restarts: the room is entered again and the new server's
    // member list replaces the old one. Bob comes back at his next tick.
    const quint16 port = m_server.Port();
    QVERIFY(m_server.Stop());
    QTRY_VERIFY(room->View()->toPlainText().endsWith("* Disconnected."));
    QVERIFY(m_server.Start({"--privileged", "alice"}, port));
    gp_server->AttemptReconnect();
    QTRY_VERIFY(room->View()->toPlainText().endsWith("* Disconnected.\n* Reconnected."));
    QTRY_COMPARE(Members(room), QStringList{"alice"});
    m_bob.Send("tick half-minute");
    QVERIFY(m_bob.WaitFor("connected"));

    // "Leave Room" from the form's own bar: the form and its item go.
    Press(roomTabs->widget(0), "leave_room");
    QTRY_COMPARE(roomTabs->count(), 0);
    QTRY_VERIFY(!lobby[ChatTypes::RoomForm]);
}

void MainWindowOnlineTest::PrivateMessagesFromOneUserShareATab()
{
    QTabWidget* chats = ChatTabs();
    const int before = chats->count();
    m_bob.Send("pm alice hello there");
    QTRY_COMPARE(chats->count(), before + 1);
    auto* form = qobject_cast<ChatFormClass*>(chats->widget(before));
    QVERIFY(form);
    QTRY_VERIFY(form->View()->toPlainText().contains("[bob] hello there"));

    m_bob.Send("pm alice second <b>line</b>");
    QTRY_VERIFY(form->View()->toPlainText().contains("[bob] second <b>line</b>"));
    QCOMPARE(chats->count(), before + 1);
    QTest::keyClicks(form->Entry(), "hi back");
    QTest::keyClick(form->Entry(), Qt::Key_Return);
    QVERIFY(m_bob.WaitFor("pm\talice\thi back"));

    // Nobody looking: the message also goes to the desktop, cut short, and
    // the window icon blinks.
    QSignalSpy notified(m_window, &MainWindow::Notified);
    QWidget other;
    other.show();
    other.activateWindow();
    QTRY_VERIFY(!m_window->isActiveWindow());
    m_bob.Send("pm alice " + QString(100, 'x'));
    QTRY_COMPARE(notified.size(), 1);
    QCOMPARE(notified[0][0].toString(), QString("bob"));
    QCOMPARE(notified[0][1].toString(), QString(77, 'x') + "...");
    auto* events = m_window->findChild<EventToolBar*>();
    QVERIFY(events && events->IsAlerting());
    events->OnIconAlertTimeout();
    const auto image = [](const QIcon& icon) { return icon.pixmap(16, 16).toImage(); };
    QCOMPARE(image(QApplication::windowIcon()), image(QIcon(":/icons/chat_icon")));
    other.hide();
    m_window->activateWindow();
    QTRY_VERIFY(m_window->isActiveWindow());

    // Closing the tab forgets the form; the next message opens a new one.
    emit chats->tabCloseRequested(before);
    QCOMPARE(chats->count(), before);
    QVERIFY(!d.GetType(ServerTypes::User)->HasItem("bob")[ChatTypes::UserChatWidget]);
    m_bob.Send("pm alice again");
    QTRY_COMPARE(chats->count(), before + 1);
    QVERIFY(m_window->GetChatForm("bob") != form);
    QCOMPARE(notified.size(), 1); // seen in the window, not on the desktop
}

void MainWindowOnlineTest::AddsUsersTheServerKnows()
{
    // carol has an account but is not logged in any more.
    NodeProcess carol;
    QVERIFY(carol.StartAndLogIn(m_server.Port(), "carol"));
    QVERIFY(carol.Quit());

    AddUserDialog dialog;
    const auto add = [&](const QString& name) {
        dialog.Name()->setText(name);
        dialog.AddButton()->click();
    };
    add("  carol ");
    QCOMPARE(dialog.Status(), QString("Adding user..."));
    QVERIFY(!dialog.AddButton()->isEnabled());
    QTRY_COMPARE(dialog.Status(), QString("User added to list."));
    QVERIFY(d.GetType(ServerTypes::User)->GetItem("carol")->IsConnected(ServerTypes::InUserList));

    add("carol");
    QCOMPARE(dialog.Status(), QString("User already in list."));
    add("nobody-here");
    QTRY_COMPARE(dialog.Status(), QString("User name does not exist."));
    QVERIFY(!d.GetType(ServerTypes::User)
                 ->GetItem("nobody-here")
                 ->IsConnected(ServerTypes::InUserList));
    add("   ");
    QCOMPARE(dialog.Status(), QString("User name must not be empty."));

    MenuAction("disconnect")->trigger();
    QTRY_VERIFY(MenuAction("connect")->isEnabled());
    add("dora");
    QCOMPARE(dialog.Status(), QString("Must be online to add a user to your list."));
    MenuAction("connect")->trigger();
    QTRY_VERIFY(gp_server->IsConnected());
}

void MainWindowOnlineTest::RefusesUserChangeOnlineAndReportsWrongPassword()
{
    m_boxes.clear();
    const int loginsBefore = m_loginDialogs;
    QWidget* options = m_window->Page("Options");
    Pages()->setCurrentWidget(options);
    Press(options->findChild<QLineEdit*>("username"), "set_user_pass");
    QCOMPARE(m_boxes, QStringList({"Cannot change username while online: You must be "
                                   "disconnected from the Quorvale server to change your "
                                   "username."}));
    QCOMPARE(m_loginDialogs, loginsBefore);

    MenuAction("disconnect")->trigger();
    QTRY_VERIFY(MenuAction("connect")->isEnabled());
    QCOMPARE(m_boxes.size(), 1); // leaving on purpose is no failure

    Settings::Set("password", "wrong");
    MenuAction("connect")->trigger();
    QTRY_COMPARE(m_boxes.size(), 2);
    QCOMPARE(m_boxes[1], QString("Login Failure: Wrong Password: Login failed. The password you "
                                 "supplied does not match your username. Please change your "
                                 "login settings in the Options tab and try reconnecting."));
    QVERIFY(MenuAction("connect")->isEnabled());
}

QTEST_MAIN(MainWindowOnlineTest)
#include "MainWindowOnlineTest.moc"
