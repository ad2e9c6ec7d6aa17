#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "ModalAnswerer.h"
#include "base/Settings.h"
#include "server/ServerTypes.h"
#include "sharing/SharedFoldersManager.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"
#include "ui/ActionSetToolBar.h"
#include "ui/AddSharedFolderDialog.h"
#include "ui/ChatForm.h"
#include "ui/ChatTypes.h"
#include "ui/ChatView.h"
#include "ui/EventToolBar.h"
#include "ui/MainWindow.h"
#include "ui/RoomForm.h"
#include "ui/SharedFilesRescannedDialog.h"
#include "ui/SharedFoldersView.h"
#include "ui/UserGroupConfigDialog.h"
#include "ui/UserGroupsDialog.h"
#include "ui/UserListForm.h"
#include "ui/UserMenuOptions.h"

using namespace ServerTypes;
using namespace SharingTypes;

// Offline: the test puts in the store what the server connection would.
class MainWindowOfflineTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    // A step a failed test left behind must not answer the next test's dialog.
    void cleanup() { m_answerer.script.clear(); }
    void RescanShowsCountsInOneDialog();
    void OptionDialogsRefuseBadInput();
    void OptionControls();
    void SharedFoldersAreAddedListedAndUnshared();
    void RoomMembersFollowTheStore();
    void LinesAreEscapedLinkedAndTrimmed();
    void PrivateMessagesRaiseEventsAndBlink();
    void UserListFollowsMembershipStatusAndGroups();
    void GroupDialogsAndUserMenuWriteTheStore();

private:
    void Press(const QString& page, const char* id);
    QCheckBox* Box(const char* name) const { return m_window->findChild<QCheckBox*>(name); }
    QString Folder(const QString& name);
    static ItemPtr Root(const QString& path)
    {
        return d.GetType(SharedFolder)->HasItem(path.toStdString());
    }
    QTreeWidgetItem* Row(const QString& path) const;
    QString Access(const QString& path) const;
    static void Tick(QDialog* dialog, const QString& text);
    static void ClickOk(QDialog* dialog);
    // Confirms after returning, as a refusal box runs a loop of its own;
    // `open` is cleared if the dialog was found closed.
    static std::function<void(QDialog*)> Fill(const QStringList& texts, bool* open);
    static ItemPtr UserItem(const char* name) { return d.GetType(User)->GetItem(name); }
    static void Member(ItemPtr room, const char* name, int speed, int files, const char* code);
    static QStringList Texts(QTreeWidget* list, int column);
    void Choose(const char* user, const QString& text);
    QTabWidget* ChatTabs() const { return m_window->findChild<QTabWidget*>("chat_tabs"); }

    // Without a user name the first-start login is refused: we stay offline.
    ModalAnswerer m_answerer;
    MainWindow* m_window = nullptr;
    SharedFoldersView* m_view = nullptr;
    QTemporaryDir m_folders;
    QMenu m_menu;
};

void MainWindowOfflineTest::initTestCase()
{
    qputenv("QUORVALE_SERVER", "127.0.0.1:1");
    m_window = new MainWindow;
    m_window->show();
    m_window->Init();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    m_view = m_window->findChild<SharedFoldersView*>();
    QVERIFY(m_view);
}

void MainWindowOfflineTest::cleanupTestCase()
{
    delete m_window;
}

void MainWindowOfflineTest::Press(const QString& page, const char* id)
{
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    auto* pages = qobject_cast<QTabWidget*>(m_window->centralWidget());
    const int index = pages->indexOf(m_window->Page(page));
    QVERIFY(index >= 0);
    QTest::keyClick(m_window, Qt::Key_1 + index, Qt::AltModifier);
    QTRY_VERIFY2(actionBar->findChild<QAction*>(id), id);
    actionBar->findChild<QAction*>(id)->trigger();
}

QString MainWindowOfflineTest::Folder(const QString& name)
{
    QDir(m_folders.path()).mkpath(name);
    return QDir(m_folders.path()).filePath(name);
}

QTreeWidgetItem* MainWindowOfflineTest::Row(const QString& path) const
{
    const auto rows = m_view->findItems(path, Qt::MatchExactly, 0);
    return rows.size() == 1 ? rows[0] : nullptr;
}

QString MainWindowOfflineTest::Access(const QString& path) const
{
    QTreeWidgetItem* row = Row(path);
    return row ? row->text(1) : "no row for " + path;
}

void MainWindowOfflineTest::Tick(QDialog* dialog, const QString& text)
{
    for (QCheckBox* box : dialog->findChildren<QCheckBox*>())
        if (box->text() == text)
            box->setChecked(true);
}

void MainWindowOfflineTest::ClickOk(QDialog* dialog)
{
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
}

void MainWindowOfflineTest::RescanShowsCountsInOneDialog()
{
    // The start-up rescan of an empty share changed nothing: no dialog.
    sharedFoldersManager->WaitForRescan();
    QVERIFY(!m_window->findChild<SharedFilesRescannedDialog*>());

    emit sharedFoldersManager->SharedFilesRescanned(3, 1);
    auto* dialog = m_window->findChild<SharedFilesRescannedDialog*>();
    QVERIFY(dialog && dialog->isVisible() && !dialog->isModal());
    QStringList texts;
    for (QLabel* label : dialog->findChildren<QLabel*>())
        texts << label->text();
    QCOMPARE(texts, QStringList({"3 files added.", "1 files removed."}));

    // A later rescan, even one that changed nothing, shows the same dialog.
    dialog->accept();
    emit sharedFoldersManager->SharedFilesRescanned(0, 0);
    QCOMPARE(m_window->findChildren<SharedFilesRescannedDialog*>().size(), 1);
    QVERIFY(dialog->isVisible());
    dialog->accept();
}

std::function<void(QDialog*)> MainWindowOfflineTest::Fill(const QStringList& texts, bool* open)
{
    return [texts, open](QDialog* dialog) {
        *open = *open && dialog->isVisible();
        const auto fields = dialog->findChildren<QLineEdit*>();
        QCOMPARE(fields.size(), texts.size());
        for (int n = 0; n < texts.size(); ++n)
            fields[n]->setText(texts[n]);
        QTimer::singleShot(0, dialog, &QDialog::accept);
    };
}

void MainWindowOfflineTest::OptionDialogsRefuseBadInput()
{
    Settings::Set("listening_port", 2235);
    bool open = true;
    for (const char* text : {"0", "65536", "12ab", "2235"})
        m_answerer.script << Fill({text}, &open);
    Press("Options", "set_listening_port");
    QVERIFY(m_answerer.script.isEmpty() && open);
    const QString invalid = "Invalid Port Number: Port number must be in the range of 1 to 65535.";
    QCOMPARE(m_answerer.boxes,
             QStringList({invalid, invalid, invalid,
                          "Port Number Not Changed: Port number has not been changed."}));
    QCOMPARE(Settings::Get("new_listening_port"), std::string());

    m_answerer.boxes.clear();
    m_answerer.script << Fill({" 4000 "}, &open);
    Press("Options", "set_listening_port");
    QCOMPARE(m_answerer.boxes,
             QStringList({"Change to Listening Port Pending: Changes to the listening port "
                          "will take effect after a client restart."}));
    QCOMPARE(Settings::Get("new_listening_port"), std::string("4000"));
    QCOMPARE(Settings::Get("listening_port"), std::string("2235"));

    // The user name and password are trimmed, and both are needed.
    m_answerer.script << Fill({"  carol ", "   "}, &open) << Fill({" carol ", " pw "}, &open);
    Press("Options", "set_user_pass");
    QVERIFY(m_answerer.script.isEmpty() && open);
    QCOMPARE(Settings::Get("username"), std::string("carol"));
    QCOMPARE(Settings::Get("password"), std::string("pw"));
}

void MainWindowOfflineTest::OptionControls()
{
    QSystemTrayIcon* tray = m_window->TrayIcon();
    QCheckBox* toTray = Box("minimize_to_tray");
    QVERIFY(toTray && toTray->isChecked()); // the default
    toTray->click();
    QVERIFY(!tray->isVisible());
    QCOMPARE(Settings::Get("minimize_to_tray"), std::string("no"));
    toTray->click();
    QVERIFY(tray->isVisible());

    // The offscreen desktop has no tray; stand in for one.
    m_window->SetSystemTrayAvailable(true);
    m_window->close();
    QVERIFY(!m_window->isVisible());
    QVERIFY(!m_window->IsQuitting());
    emit tray->activated(QSystemTrayIcon::DoubleClick);
    QVERIFY(!m_window->isVisible());
    emit tray->activated(QSystemTrayIcon::Trigger);
    QVERIFY(m_window->isVisible());

    QVERIFY(Box("use_upnp") && Box("expand_new_shares"));
    Box("use_upnp")->click();
    QCOMPARE(Settings::Get("use_upnp"), std::string(Box("use_upnp")->isChecked() ? "yes" : "no"));
    Box("expand_new_shares")->click();
    QCOMPARE(Settings::Get("expand_new_shares"), std::string("no"));

    const QString folder = QDir::homePath() + "/Quorvale Downloads";
    for (const char* name : {"download_folder", "options_download_folder"}) {
        auto* field = m_window->findChild<QLineEdit*>(name);
        QVERIFY(field);
        QCOMPARE(field->text(), folder);
        Settings::Set("download_folder", "/srv/incoming");
        QCOMPARE(field->text(), QString("/srv/incoming"));
        Settings::Set("download_folder", folder.toStdString());
    }
}

void MainWindowOfflineTest::SharedFoldersAreAddedListedAndUnshared()
{
    d.GetType(ServerTypes::UserListGroup)->GetItem("rock");
    d.GetType(ServerTypes::UserListGroup)->GetItem("jazz");
    const QString music = Folder("music");

    // OK without a folder is ignored; a trailing separator is dropped.
    bool stayedOpen = false;
    m_answerer.script << [&](QDialog* dialog) {
        QVERIFY(qobject_cast<AddSharedFolderDialog*>(dialog));
        ClickOk(dialog);
        stayedOpen = dialog->isVisible();
        dialog->findChild<QLineEdit*>()->setText(music + "/");
        Tick(dialog, "Folder accessible to everyone");
        Tick(dialog, "Folder accessible to all user list users");
        Tick(dialog, "jazz");
        ClickOk(dialog);
    };
    Press("Shared Folders", "share_folder");
    QTRY_VERIFY(m_answerer.script.isEmpty());
    QVERIFY(stayedOpen);
    QVERIFY(!m_window->findChild<AddSharedFolderDialog*>());

    // Everyone wins over the user list.
    QCOMPARE(Access(music), QString("Everyone, jazz"));

    const QString films = Folder("films");
    AddSharedFolderDialog dialog(m_window);
    dialog.findChild<QLineEdit*>()->setText(films);
    Tick(&dialog, "Folder accessible to all user list users");
    ClickOk(&dialog);
    QVERIFY(Root(films));
    QCOMPARE(Access(films), QString("User List"));
    sharedFoldersManager->WaitForRescan();

    const QString books = Folder("books");
    // The access text follows the root's links: flags, then sorted groups.
    ItemPtr shelf = d.GetType(SharedFolder)->GetItem(books.toStdString());
    shelf.Connect(d.GetType(ServerTypes::UserListGroup)->GetItem("rock"));
    shelf.Connect(d.GetType(ServerTypes::UserListGroup)->GetItem("jazz"));
    shelf.NewItem(SharedUserlist);
    QCOMPARE(Access(books), QString("User List, jazz, rock"));
    shelf.Disconnect(d.GetType(ServerTypes::UserListGroup)->GetItem("rock"));
    QCOMPARE(Access(books), QString("User List, jazz"));
    sharedFoldersManager->WaitForRescan();

    m_view->clearSelection();
    QVERIFY(Row(music) && Row(films));
    Row(music)->setSelected(true);
    Row(films)->setSelected(true);
    Press("Shared Folders", "unshare_folder");
    QVERIFY(!Root(music) && !Root(films));
    QVERIFY(!Row(music) && !Row(films));
    QVERIFY(Root(books) && Row(books));
}

void MainWindowOfflineTest::Member(ItemPtr room, const char* name, int speed, int files,
                                   const char* code)
{
    ItemPtr user = UserItem(name);
    room.Connect(user);
    user.Connect(d.GetType(AverageDownloadSpeed)->GetItem(speed));
    user.Connect(d.GetType(SharedFilesCount)->GetItem(files));
    user.Connect(d.GetType(CountryCode)->GetItem(code));
}

QStringList MainWindowOfflineTest::Texts(QTreeWidget* list, int column)
{
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(column);
    return texts;
}

void MainWindowOfflineTest::Choose(const char* user, const QString& text)
{
    m_menu.clear();
    new UserMenuOptions(&m_menu, user, &m_menu);
    for (QAction* action : m_menu.actions())
        if (action->text() == text)
            return action->trigger();
    QFAIL(qPrintable("no menu entry " + text));
}

void MainWindowOfflineTest::RoomMembersFollowTheStore()
{
    ItemPtr room = d.GetType(Room)->GetItem("lobby");
    room.NewItem(InRoom);
    Member(room, "Zed", 2048, 12345, "DE");
    auto* form = m_window->findChild<RoomForm*>();
    QVERIFY(form);
    QTreeWidget* members = form->Members();

    // Listed once speed, files and country are known.
    Member(room, "Anna", 0, 0, "");
    ItemPtr bert = UserItem("bert");
    room.Connect(bert);
    QCOMPARE(Texts(members, 0), (QStringList{"Anna", "Zed"}));
    Member(room, "bert", 1536, 7, "fr");
    QCOMPARE(Texts(members, 0), (QStringList{"Anna", "bert", "Zed"}));
    QVERIFY(members->topLevelItem(0)->icon(0).isNull());
    QVERIFY(!members->topLevelItem(2)->icon(0).pixmap(16).isNull()); // flags by lower-case code
    m_window->resize(900, 500);
    QApplication::processEvents();
    QCOMPARE(members->horizontalScrollBar()->maximum(), 0);
    QVERIFY(members->header()->sectionSize(1) > members->fontMetrics().horizontalAdvance("12,345"));
    room.Disconnect(bert);
    QCOMPARE(Texts(members, 0), (QStringList{"Anna", "Zed"}));
    room.Disconnect(InRoom);
}

void MainWindowOfflineTest::LinesAreEscapedLinkedAndTrimmed()
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

    // Past the limit the oldest lines go, cut at a line break.
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

void MainWindowOfflineTest::PrivateMessagesRaiseEventsAndBlink()
{
    Settings::Set("username", "me");
    m_window->ShowPage("Private Chat");
    auto* events = m_window->findChild<EventToolBar*>();
    QVERIFY(events);
    auto* other = new QWidget;
    ChatTabs()->addTab(other, "other");
    ChatForm* form = m_window->GetChatForm("bob");
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
    QSignalSpy shown(events, &EventToolBar::AlertIconShown);

    form->AddChat("hello <you>");
    form->AddChat("again");
    QCOMPARE(form->View()->toPlainText(), QString("[bob] hello <you>\n[bob] again"));
    QCOMPARE(events->actions().size(), 1);
    auto* room = new QWidget;
    events->AddEvent("lobby", ":/icons/room_icon", room);

    events->OnIconAlertTimeout();
    QCOMPARE(shown.size(), 1);

    // A focus change ends the blinking, not the events.
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QTRY_VERIFY(!events->IsAlerting());
    events->OnIconAlertTimeout();
    QCOMPARE(shown.size(), 1);
    QVERIFY(events->EventAction(form));

    ChatTabs()->setCurrentWidget(other);
    events->EventAction(form)->trigger();
    QCOMPARE(ChatTabs()->currentWidget(), static_cast<QWidget*>(form));
    QVERIFY(!events->EventAction(form));
    ChatTabs()->setCurrentWidget(other);
    form->AddChat("third");
    QVERIFY(events->EventAction(form));
    ChatTabs()->setCurrentWidget(form);
    QVERIFY(!events->EventAction(form));
    delete room;
    QCOMPARE(events->actions().size(), 0);

    // An empty line sends nothing.
    QTest::keyClicks(form->Entry(), "hi there");
    QTest::keyClick(form->Entry(), Qt::Key_Return);
    QTest::keyClick(form->Entry(), Qt::Key_Return);
    QVERIFY(form->View()->toPlainText().endsWith("[bob] third\n[me] hi there"));

    delete form;
    QVERIFY(!UserItem("bob")[ChatTypes::UserChatWidget]);
    delete other;
}

void MainWindowOfflineTest::UserListFollowsMembershipStatusAndGroups()
{
    // A user's row belongs to one list form: the window's own gives way.
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

void MainWindowOfflineTest::GroupDialogsAndUserMenuWriteTheStore()
{
    ItemPtr membership = UserItem("gina").NewItem(InUserList);
    UserGroupsDialog dialog("gina");
    UserGroupsDialog otherDialog("carol");
    const int groupCount = dialog.Groups()->count();

    QTest::keyClicks(dialog.NewGroupName(), "  friends ");
    QTest::keyClick(dialog.NewGroupName(), Qt::Key_Return);
    ItemPtr friends = d.GetType(UserListGroup)->HasItem("friends");
    QVERIFY(friends);
    QCOMPARE(otherDialog.Groups()->findItems("friends", Qt::MatchExactly).size(), 1);
    QTest::keyClicks(dialog.NewGroupName(), "   ");
    dialog.findChild<QPushButton*>()->click();
    QCOMPARE(dialog.Groups()->count(), groupCount + 1);

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

    Choose("erin", "Message user");
    QVERIFY(UserItem("erin")[ChatTypes::UserChatWidget]);

    // Offline, the user joins the list at once and the group dialog opens.
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

QTEST_MAIN(MainWindowOfflineTest)
#include "MainWindowOfflineTest.moc"
