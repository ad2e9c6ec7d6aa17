#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include "ModalAnswerer.h"
#include "base/Settings.h"
#include "server/ServerTypes.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"
#include "ui/ActionSetToolBar.h"
#include "ui/ChatForm.h"
#include "ui/ChatTypes.h"
#include "ui/ChatView.h"
#include "ui/EventToolBar.h"
#include "ui/MainWindow.h"
#include "ui/RoomForm.h"
#include "ui/UserGroupConfigDialog.h"
#include "ui/UserGroupsDialog.h"
#include "ui/UserListForm.h"
#include "ui/UserMenuOptions.h"

using namespace ServerTypes;

// The chat and user list forms in the offline window: the server is never
// reached, so everything the forms show comes from items the test puts in
// the store, as the server connection would.
class ChatFormsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void RoomMembersFollowTheStore();
    void LinesAreEscapedLinkedAndTrimmed();
    void PrivateMessagesRaiseEventsAndBlink();
    void UserListFollowsMembershipStatusAndGroups();
    void GroupDialogsWriteTheStore();
    void UserMenuActsOnTheStore();

private:
    static ItemPtr UserItem(const char* name) { return d.GetType(User)->GetItem(name); }
    static void Member(ItemPtr room, const char* name, int speed, int files, const char* code);
    static QStringList Texts(QTreeWidget* list, int column);
    // Chooses `text` from a fresh user menu for `user`.
    void Choose(const char* user, const QString& text);

    QTabWidget* ChatTabs() const { return m_window->findChild<QTabWidget*>("chat_tabs"); }

    ModalAnswerer m_answerer; // refuses the first-start login
    MainWindow* m_window = nullptr;
    QMenu m_menu;
};

void ChatFormsTest::initTestCase()
{
    qputenv("QUORVALE_SERVER", "127.0.0.1:1");
    m_window = new MainWindow;
    m_window->show();
    m_window->Init();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
}

void ChatFormsTest::cleanupTestCase()
{
    delete m_window;
}

void ChatFormsTest::Member(ItemPtr room, const char* name, int speed, int files, const char* code)
{
    ItemPtr user = UserItem(name);
    room.Connect(user);
    user.Connect(d.GetType(AverageDownloadSpeed)->GetItem(speed));
    user.Connect(d.GetType(SharedFilesCount)->GetItem(files));
    user.Connect(d.GetType(CountryCode)->GetItem(code));
}

QStringList ChatFormsTest::Texts(QTreeWidget* list, int column)
{
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(column);
    return texts;
}

void ChatFormsTest::Choose(const char* user, const QString& text)
{
    m_menu.clear();
    new UserMenuOptions(&m_menu, user, &m_menu);
    for (QAction* action : m_menu.actions())
        if (action->text() == text)
            return action->trigger();
    QFAIL(qPrintable("no menu entry " + text));
}

void ChatFormsTest::RoomMembersFollowTheStore()
{
    // Entering the room opens its form in the window.
    ItemPtr room = d.GetType(Room)->GetItem("lobby");
    room.NewItem(InRoom);
    Member(room, "zed", 2048, 12345, "DE");
    auto* form = m_window->findChild<RoomForm*>();
    QVERIFY(form);
    QTreeWidget* members = form->Members();
    QCOMPARE(Texts(members, 0), QStringList{"zed"});

    // A member is listed once the server has told its speed, files and
    // country; names sort without regard to case.
    Member(room, "Anna", 0, 0, "");
    ItemPtr bert = UserItem("bert");
    room.Connect(bert);
    QCOMPARE(Texts(members, 0), (QStringList{"Anna", "zed"}));
    Member(room, "bert", 1536, 7, "fr");
    QCOMPARE(Texts(members, 0), (QStringList{"Anna", "bert", "zed"}));
    QVERIFY(members->topLevelItem(0)->icon(0).isNull());
    QVERIFY(!members->topLevelItem(2)->icon(0).isNull());
    // The columns fit the narrow pane, numbers shown in full.
    m_window->resize(900, 500);
    QApplication::processEvents();
    QCOMPARE(members->horizontalScrollBar()->maximum(), 0);
    QVERIFY(members->header()->sectionSize(1) > members->fontMetrics().horizontalAdvance("12,345"));
    room.Disconnect(bert);
    QCOMPARE(Texts(members, 0), (QStringList{"Anna", "zed"}));

    // The autojoin button of this form tells the room's state.
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    form->Entry()->setFocus();
    QTRY_COMPARE(actionBar->CurrentWidget(), static_cast<QWidget*>(form));
    QAction* toggle = actionBar->findChild<QAction*>("toggle_room_autojoin");
    QVERIFY(toggle);
    room.NewItem(RoomAutojoin);
    QCOMPARE(toggle->text(), QString("Auto-Join Room [on]"));
    room.Disconnect(RoomAutojoin);
    QCOMPARE(toggle->text(), QString("Auto-Join Room [off]"));
    room.Disconnect(InRoom);
}

void ChatFormsTest::LinesAreEscapedLinkedAndTrimmed()
{
    QCOMPARE(ChatView::ChatLine("a<b", "x & <i>y</i>"),
             QString("[<font color=\"blue\">a&lt;b</font>] x &amp; &lt;i&gt;y&lt;/i&gt;"));
    QCOMPARE(ChatView::StatusLine("<Disconnected.>"),
             QString("* <font color=\"green\">&lt;Disconnected.&gt;</font>"));
    QVERIFY(
        ChatView::ChatLine("bob", "see http://example.com/a?b=1.")
            .endsWith("see <a href=\"http://example.com/a?b=1\">http://example.com/a?b=1</a>."));

    ItemPtr room = d.GetType(Room)->GetItem("den");
    room.NewItem(InRoom);
    RoomForm form("den");
    form.OnRoomChat("den", "bob", "<b>bold</b>");
    form.OnRoomChat("elsewhere", "bob", "not for this room");
    QCOMPARE(form.View()->toPlainText(), QString("[bob] <b>bold</b>"));

    // Past the limit the oldest lines go, cut at a line break, and the new
    // line still arrives; below it nothing is cut.
    ChatView view;
    const QString filler(200, 'x');
    int lines = 0;
    while (view.toHtml().size() <= ChatView::HistoryLimit)
        view.AddLine(ChatView::ChatLine("bob", QString("line %1 ").arg(lines++) + filler));
    const int before = view.toHtml().size();
    view.AddLineWithinLimit(ChatView::ChatLine("bob", "newest"));
    const QStringList kept = view.toPlainText().split('\n');
    QVERIFY(lines - (kept.size() - 1) >= ChatView::HistoryCut / (before / lines));
    QVERIFY(kept.first().startsWith("[bob] line ") && kept.first().endsWith(filler));
    QCOMPARE(kept.last(), QString("[bob] newest"));
    view.AddLineWithinLimit(ChatView::ChatLine("bob", "one more"));
    QCOMPARE(view.toPlainText().split('\n').size(), kept.size() + 1);
}

void ChatFormsTest::PrivateMessagesRaiseEventsAndBlink()
{
    Settings::Set("username", "me");
    m_window->ShowPage("Private Chat");
    auto* events = m_window->findChild<EventToolBar*>();
    QVERIFY(events);
    auto* other = new QWidget;
    ChatTabs()->addTab(other, "other");
    ChatForm* form = m_window->GetChatForm("bob");
    // Another window has the focus: our window is not the active one.
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
    QSignalSpy shown(events, &EventToolBar::AlertIconShown);
    QSignalSpy cleared(events, &EventToolBar::AlertIconCleared);

    form->AddChat("hello <you>");
    form->AddChat("again");
    QCOMPARE(form->View()->toPlainText(), QString("[bob] hello <you>\n[bob] again"));
    QCOMPARE(events->actions().size(), 1);
    auto* room = new QWidget;
    events->AddEvent("lobby", ":/icons/room_icon", room);

    // Each tick shows the next icon, then the connection icon, then again.
    for (int tick = 0; tick < 4; ++tick)
        events->OnIconAlertTimeout();
    QCOMPARE(shown.size(), 3);
    QCOMPARE(shown[1][0].toString(), QString(":/icons/room_icon"));
    QCOMPARE(shown[2][0].toString(), QString(ChatForm::ChatIcon));
    QCOMPARE(cleared.size(), 1);

    // Any focus change in the application ends the blinking, not the events.
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QTRY_VERIFY(!events->IsAlerting());
    events->OnIconAlertTimeout();
    QCOMPARE(shown.size(), 3);
    QVERIFY(events->EventAction(form));

    // Clicking the event brings its chat forward and drops the event.
    ChatTabs()->setCurrentWidget(other);
    events->EventAction(form)->trigger();
    QCOMPARE(ChatTabs()->currentWidget(), static_cast<QWidget*>(form));
    QVERIFY(!events->EventAction(form));
    // Showing the form drops its event too; a destroyed widget drops its own.
    ChatTabs()->setCurrentWidget(other);
    form->AddChat("third");
    QVERIFY(events->EventAction(form));
    ChatTabs()->setCurrentWidget(form);
    QVERIFY(!events->EventAction(form));
    delete room;
    QCOMPARE(events->actions().size(), 0);

    // Our own lines show under our name; an empty line sends nothing.
    QTest::keyClicks(form->Entry(), "hi there");
    QTest::keyClick(form->Entry(), Qt::Key_Return);
    QTest::keyClick(form->Entry(), Qt::Key_Return);
    QVERIFY(form->View()->toPlainText().endsWith("[bob] third\n[me] hi there"));

    delete form;
    QVERIFY(!UserItem("bob")[ChatTypes::UserChatWidget]);
    delete other;
}

void ChatFormsTest::UserListFollowsMembershipStatusAndGroups()
{
    // A user's row belongs to one list form: the window's own gives way to
    // one made after a user is listed.
    delete m_window->findChild<UserListForm*>();
    UserItem("carol").NewItem(InUserList);
    UserListForm form;
    form.Init();
    QTreeWidget* users = form.Users();
    ItemPtr alice = UserItem("alice");
    ItemPtr membership = alice.NewItem(InUserList);
    QCOMPARE(Texts(users, 0), (QStringList{"alice", "carol"}));
    QVERIFY(alice.IsConnected(IsTracked));

    membership.Connect(d.GetType(UserListGroup)->GetItem("b"));
    membership.Connect(d.GetType(UserListGroup)->GetItem("A"));
    QCOMPARE(users->topLevelItem(0)->text(UserListForm::GroupsColumn), QString("A, b"));
    membership.Disconnect(d.GetType(UserListGroup)->GetItem("b"));
    QCOMPARE(users->topLevelItem(0)->text(UserListForm::GroupsColumn), QString("A"));

    alice.NewItem(IsOnline);
    UserItem("stranger").NewItem(IsOnline);
    QCOMPARE(Texts(users, UserListForm::OnlineColumn), (QStringList{"Online", ""}));
    alice.Disconnect(IsOnline);
    QCOMPARE(Texts(users, UserListForm::OnlineColumn), (QStringList{"", ""}));

    // Unsharing adds a row below and takes nobody off the list.
    UserMenuOptions::UnshareUser("alice");
    UserMenuOptions::UnshareUser("dave");
    QCOMPARE(Texts(form.Unshared(), 0), (QStringList{"alice", "dave"}));
    QCOMPARE(users->topLevelItemCount(), 2);
    UserMenuOptions::ReshareUser("alice");
    QCOMPARE(Texts(form.Unshared(), 0), QStringList{"dave"});

    users->topLevelItem(0)->setSelected(true);
    form.OnActionBarTriggered("remove_user");
    QCOMPARE(Texts(users, 0), QStringList{"carol"});
    QVERIFY(!alice.IsConnected(InUserList));
}

void ChatFormsTest::GroupDialogsWriteTheStore()
{
    ItemPtr membership = UserItem("gina").NewItem(InUserList);
    UserGroupsDialog dialog("gina");
    UserGroupsDialog otherDialog("carol");
    const int groups = dialog.Groups()->count();

    QTest::keyClicks(dialog.NewGroupName(), "  friends ");
    QTest::keyClick(dialog.NewGroupName(), Qt::Key_Return);
    ItemPtr friends = d.GetType(UserListGroup)->HasItem("friends");
    QVERIFY(friends);
    QCOMPARE(otherDialog.Groups()->findItems("friends", Qt::MatchExactly).size(), 1);
    QTest::keyClicks(dialog.NewGroupName(), "   ");
    dialog.findChild<QPushButton*>()->click();
    QCOMPARE(dialog.Groups()->count(), groups + 1);

    QListWidgetItem* row = dialog.Groups()->findItems("friends", Qt::MatchExactly).value(0);
    QVERIFY(row);
    row->setCheckState(Qt::Checked);
    QVERIFY(membership.IsConnected(friends));
    row->setCheckState(Qt::Unchecked);
    QVERIFY(!membership.IsConnected(friends));

    UserGroupConfigDialog config;
    const auto friendsRows = config.Groups()->findItems("friends", Qt::MatchExactly);
    QCOMPARE(friendsRows.size(), 1);
    config.Groups()->setCurrentItem(friendsRows[0]);
    QCOMPARE(config.Priority()->maximum(), 99);
    QTest::keyClick(config.Priority(), Qt::Key_Up);
    QTest::keyClick(config.Priority(), Qt::Key_Up);
    QCOMPARE(friends[GroupDownloadPriority].AsInt(), 2);
    QTest::keyClick(config.Priority(), Qt::Key_Down);
    QTest::keyClick(config.Priority(), Qt::Key_Down);
    QVERIFY(!friends[GroupDownloadPriority]);
}

void ChatFormsTest::UserMenuActsOnTheStore()
{
    Choose("erin", "Message user");
    QVERIFY(UserItem("erin")[ChatTypes::UserChatWidget]);

    // Offline as we are, the user joins the list at once and the group
    // dialog opens.
    Choose("erin", "Add user to list");
    QVERIFY(UserItem("erin").IsConnected(InUserList));
    QPointer<UserGroupsDialog> groups;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<UserGroupsDialog*>(top); dialog && dialog->isVisible())
            groups = dialog;
    QVERIFY(groups);
    groups->close();
    QTRY_VERIFY(!groups);

    Choose("erin", "Remove user from list");
    QVERIFY(!UserItem("erin").IsConnected(InUserList));
    Choose("erin", "Unshare files from user");
    QVERIFY(UserItem("erin").IsConnected(SharingTypes::Unshared));
    Choose("erin", "Re-share files with user");
    QVERIFY(!UserItem("erin").IsConnected(SharingTypes::Unshared));
}

QTEST_MAIN(ChatFormsTest)
#include "ChatFormsTest.moc"
