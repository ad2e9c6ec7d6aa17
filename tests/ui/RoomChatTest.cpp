#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "ChatTestHost.h"
#include "LabServerProcess.h"
#include "NodeProcess.h"
#include "base/Settings.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "store/Data.h"
#include "store/ObjectValue.h"
#include "ui/AddUserDialog.h"
#include "ui/ChatForm.h"
#include "ui/ChatTypes.h"
#include "ui/ChatView.h"
#include "ui/RoomForm.h"

using namespace ServerTypes;

// The chat forms logged in to the real lab server, talking to a headless
// node as another person would.
class RoomChatTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void ChatsInARoomAndPrivatelyWithANode();
    void AddsUsersTheServerKnows();
    void ReentersTheRoomAfterReconnecting();

private:
    static QStringList Members(RoomForm* form);
    // What the main window does with a private message.
    void OnPrivateChat(std::string user, std::string text);

    LabServerProcess m_server;
    ChatTestHost* m_host = nullptr;
    QPointer<RoomForm> m_room;
};

void RoomChatTest::initTestCase()
{
    QVERIFY(m_server.Start());
    qputenv("QUORVALE_SERVER", "127.0.0.1:" + QByteArray::number(m_server.Port()));
    m_host = new ChatTestHost;
    m_host->Init();
    m_host->show();
    connect(
        gp_server, &Server::PrivateChat, this,
        [this](std::string user, std::string text, qint64, bool) { OnPrivateChat(user, text); });
    Settings::Set("username", "tester");
    Settings::Set("password", "secret");
    gp_server->Connect();
    QTRY_VERIFY(gp_server->IsConnected());
}

void RoomChatTest::cleanupTestCase()
{
    delete m_host;
}

QStringList RoomChatTest::Members(RoomForm* form)
{
    QStringList names;
    for (int i = 0; i < form->Members()->topLevelItemCount(); ++i)
        names << form->Members()->topLevelItem(i)->text(0);
    return names;
}

void RoomChatTest::OnPrivateChat(std::string user, std::string text)
{
    ItemPtr userItem = d.GetType(User)->GetItem(user);
    ItemPtr widget = userItem[ChatTypes::UserChatWidget];
    auto* form = widget ? ObjectFromItem<ChatForm>(widget) : nullptr;
    if (!form) {
        form = new ChatForm(user);
        m_host->Tabs()->addTab(form, QString::fromStdString(user));
        userItem.Connect(d.GetType(ChatTypes::UserChatWidget)->GetItem(ObjectValue(form)));
    }
    form->AddChat(text);
}

void RoomChatTest::ChatsInARoomAndPrivatelyWithANode()
{
    NodeProcess bob;
    QVERIFY(bob.Start(m_server.Port()));
    bob.Send("login bob b");
    QVERIFY(bob.WaitFor("connected"));
    bob.Send("join lobby");
    QVERIFY(bob.WaitFor("joined\tlobby\t1"));

    gp_server->EnterRoom("lobby");
    ItemPtr room = d.GetType(Room)->GetItem("lobby");
    QTRY_VERIFY(room.IsConnected(InRoom));
    m_room = new RoomForm("lobby");
    m_host->Tabs()->addTab(m_room, "lobby");
    m_room->Init();
    QTRY_COMPARE(Members(m_room), (QStringList{"bob", "tester"}));
    QVERIFY(!m_room->Members()->topLevelItem(0)->icon(0).isNull());

    bob.Send("say lobby <b>hi</b> see http://example.com/x");
    QTRY_VERIFY(m_room->View()->toPlainText().endsWith("[bob] <b>hi</b> see http://example.com/x"));
    QVERIFY(m_room->View()->toHtml().contains("href=\"http://example.com/x\""));

    // An empty line sends nothing: the next line bob hears is the real one.
    QTest::keyClick(m_room->Entry(), Qt::Key_Return);
    QTest::keyClicks(m_room->Entry(), "hello bob");
    QTest::keyClick(m_room->Entry(), Qt::Key_Return);
    QVERIFY(m_room->Entry()->text().isEmpty());
    QCOMPARE(bob.WaitForPrefix("room-chat\tlobby\ttester"),
             QString("room-chat\tlobby\ttester\thello bob"));
    QTRY_VERIFY(m_room->View()->toPlainText().endsWith("[tester] hello bob"));

    bob.Send("pm tester psst");
    ItemPtr bobItem = d.GetType(User)->GetItem("bob");
    QTRY_VERIFY(bobItem[ChatTypes::UserChatWidget]);
    auto* chat = ObjectFromItem<ChatForm>(bobItem[ChatTypes::UserChatWidget]);
    QTRY_COMPARE(chat->View()->toPlainText(), QString("[bob] psst"));
    QTest::keyClicks(chat->Entry(), "hi back");
    QTest::keyClick(chat->Entry(), Qt::Key_Return);
    QVERIFY(bob.WaitFor("pm\ttester\thi back"));
    QCOMPARE(chat->View()->toPlainText(), QString("[bob] psst\n[tester] hi back"));

    bob.Send("leave lobby");
    QTRY_COMPARE(Members(m_room), QStringList{"tester"});
    QVERIFY(bob.Quit());
}

void RoomChatTest::AddsUsersTheServerKnows()
{
    // carol has an account but is not logged in any more.
    NodeProcess carol;
    QVERIFY(carol.Start(m_server.Port()));
    carol.Send("login carol c");
    QVERIFY(carol.WaitFor("connected"));
    QVERIFY(carol.Quit());

    AddUserDialog dialog;
    const auto add = [&](const QString& name) {
        dialog.Name()->setText(name);
        dialog.AddButton()->click();
    };
    add("  carol ");
    QCOMPARE(dialog.Status(), QString("Adding user..."));
    QVERIFY(dialog.Name()->isReadOnly());
    QVERIFY(!dialog.AddButton()->isEnabled());
    QTRY_COMPARE(dialog.Status(), QString("User added to list."));
    QVERIFY(d.GetType(User)->GetItem("carol")->IsConnected(InUserList));
    QVERIFY(dialog.AddButton()->isEnabled());

    add("carol");
    QCOMPARE(dialog.Status(), QString("User already in list."));
    add("nobody-here");
    QTRY_COMPARE(dialog.Status(), QString("User name does not exist."));
    QVERIFY(!d.GetType(User)->GetItem("nobody-here")->IsConnected(InUserList));
    add("   ");
    QCOMPARE(dialog.Status(), QString("User name must not be empty."));

    gp_server->Disconnect();
    add("dora");
    QCOMPARE(dialog.Status(), QString("Must be online to add a user to your list."));
    QVERIFY(!dialog.Name()->isReadOnly());
    gp_server->Connect();
    QTRY_VERIFY(gp_server->IsConnected());
}

void RoomChatTest::ReentersTheRoomAfterReconnecting()
{
    QVERIFY(m_room);
    // Someone the restarted server will not know about is still listed.
    NodeProcess erin;
    QVERIFY(erin.Start(m_server.Port()));
    erin.Send("login erin e");
    QVERIFY(erin.WaitFor("connected"));
    erin.Send("join lobby");
    QVERIFY(erin.WaitFor("joined\tlobby\t2"));
    QTRY_COMPARE(Members(m_room), (QStringList{"erin", "tester"}));

    const quint16 port = m_server.Port();
    QVERIFY(m_server.Stop());
    QTRY_VERIFY(m_room->View()->toPlainText().endsWith("* Disconnected."));
    QVERIFY(m_server.Start({}, port));
    gp_server->AttemptReconnect();
    QTRY_VERIFY(m_room->View()->toPlainText().endsWith("* Disconnected.\n* Reconnected."));
    // The room was entered again: the new server's member list replaced the old.
    QTRY_COMPARE(Members(m_room), QStringList{"tester"});

    gp_server->LeaveRoom("lobby");
    QTRY_VERIFY(!m_room);
    erin.Send("quit");
}

QTEST_MAIN(RoomChatTest)
#include "RoomChatTest.moc"
