#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "LabServerProcess.h"
#include "NodeProcess.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "store/Data.h"
#include "store/ObjectValue.h"
#include "ui/ChatForm.h"
#include "ui/ChatTypes.h"
#include "ui/ChatView.h"
#include "ui/EventToolBar.h"
#include "ui/LoginDialog.h"
#include "ui/MainWindow.h"
#include "ui/UserListForm.h"

// The chat forms inside the real main window, logged in to the lab server.
class MainWindowChatTest : public QObject
{
    Q_OBJECT

private slots:
    void PrivateMessageWhileAwayBlinksTheIcon();

private:
    static QImage Image(const QIcon& icon) { return icon.pixmap(16, 16).toImage(); }
};

void MainWindowChatTest::PrivateMessageWhileAwayBlinksTheIcon()
{
    LabServerProcess server;
    QVERIFY(server.Start());
    qputenv("QUORVALE_SERVER", "127.0.0.1:" + QByteArray::number(server.Port()));
    QTimer closer;
    connect(&closer, &QTimer::timeout, [] {
        if (auto* login = qobject_cast<LoginDialog*>(QApplication::activeModalWidget())) {
            const auto fields = login->findChildren<QLineEdit*>();
            fields[0]->setText("tester");
            fields[1]->setText("secret");
            login->accept();
        }
    });
    closer.start(10);
    MainWindow window;
    window.show();
    window.Init();
    closer.stop();
    QTRY_VERIFY(gp_server->IsConnected());

    // bob, on the list from an earlier session, shows as online.
    NodeProcess bob;
    QVERIFY(bob.Start(server.Port()));
    bob.Send("login bob b");
    QVERIFY(bob.WaitFor("connected"));
    d.GetType(ServerTypes::User)->GetItem("bob")->NewItem(ServerTypes::InUserList);
    auto* users = window.findChild<UserListForm*>()->Users();
    QCOMPARE(users->topLevelItemCount(), 1);
    QTRY_COMPARE(users->topLevelItem(0)->text(UserListForm::OnlineColumn), QString("Online"));

    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
    bob.Send("pm tester psst");
    ItemPtr bobItem = d.GetType(ServerTypes::User)->GetItem("bob");
    QTRY_VERIFY(bobItem[ChatTypes::UserChatWidget]);
    auto* chat = ObjectFromItem<ChatForm>(bobItem[ChatTypes::UserChatWidget]);
    QCOMPARE(chat->View()->toPlainText(), QString("[bob] psst"));

    // The icon steps from the chat icon to the connection icon and back.
    auto* events = window.findChild<EventToolBar*>();
    QVERIFY(events->IsAlerting());
    QVERIFY(Image(QIcon(":/icons/chat_icon")) != Image(QIcon(":/icons/online_icon")));
    events->OnIconAlertTimeout();
    QCOMPARE(Image(window.windowIcon()), Image(QIcon(":/icons/chat_icon")));
    QCOMPARE(Image(QApplication::windowIcon()), Image(QIcon(":/icons/chat_icon")));
    events->OnIconAlertTimeout();
    QCOMPARE(Image(window.windowIcon()), Image(QIcon(":/icons/online_icon")));
    events->OnIconAlertTimeout();
    QCOMPARE(Image(window.windowIcon()), Image(QIcon(":/icons/chat_icon")));

    // Coming back stops it; the event stays until the chat is looked at.
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTRY_VERIFY(!events->IsAlerting());
    QCOMPARE(Image(window.windowIcon()), Image(QIcon(":/icons/online_icon")));
    QVERIFY(events->EventAction(chat));
    events->EventAction(chat)->trigger();
    QVERIFY(chat->isVisible());
    QVERIFY(!events->EventAction(chat));
    QVERIFY(bob.Quit());
    QTRY_COMPARE(users->topLevelItem(0)->text(UserListForm::OnlineColumn), QString());
}

QTEST_MAIN(MainWindowChatTest)
#include "MainWindowChatTest.moc"
