#include "ui/RoomForm.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "base/TextUtils.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "store/Data.h"
#include "store/ObjectValue.h"
#include "ui/ActionSetToolBar.h"
#include "ui/ChatSchema.h"
#include "ui/ChatTypes.h"
#include "ui/ChatView.h"
#include "ui/SizeManager.h"
#include "ui/UserMenuOptions.h"

using namespace ServerTypes;

namespace {

enum MemberColumn
{
    NameColumn = 0,
    FilesColumn = 1,
    SpeedColumn = 2
};

// Sorts names without regard to case and the other columns by their numbers.
class MemberRow : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;

    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : NameColumn;
        if (column == NameColumn)
            return text(NameColumn).compare(other.text(NameColumn), Qt::CaseInsensitive) < 0;
        return data(column, Qt::UserRole).toLongLong() <
               other.data(column, Qt::UserRole).toLongLong();
    }
};

QString FlagResource(const std::string& code)
{
    return ":/resources/flags/" + QString::fromStdString(code).toLower() + ".png";
}

} // namespace

RoomForm::RoomForm(std::string room, QWidget* parent)
    : QWidget(parent), m_room(std::move(room)),
      m_roomItem(d.GetType(ServerTypes::Room)->GetItem(m_room)), m_view(new ChatView(this)),
      m_entry(new QLineEdit(this)), m_members(new QTreeWidget(this)),
      m_splitter(new QSplitter(this))
{
    ChatSchema::DeclareSchema();
    m_members->setColumnCount(3);
    m_members->setHeaderLabels({"User", "Files", "K/s"});
    // The member pane is narrow: the numbers take what they need and the
    // names the rest, so the list never scrolls sideways.
    QHeaderView* header = m_members->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(FilesColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(SpeedColumn, QHeaderView::ResizeToContents);
    m_members->setRootIsDecorated(false);
    m_members->setSortingEnabled(true);
    m_members->sortByColumn(NameColumn, Qt::AscendingOrder);
    m_members->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_members, &QWidget::customContextMenuRequested, this, &RoomForm::OnMembersContextMenu);

    auto* chat = new QWidget(m_splitter);
    auto* chatLayout = new QVBoxLayout(chat);
    chatLayout->setContentsMargins(0, 0, 0, 0);
    chatLayout->addWidget(m_view);
    chatLayout->addWidget(m_entry);
    m_splitter->addWidget(chat);
    m_splitter->addWidget(m_members);
    m_splitter->setStretchFactor(0, 3);
    m_splitter->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_splitter);

    connect(m_entry, &QLineEdit::returnPressed, this, &RoomForm::OnEnterPressed);
    if (gp_server) {
        connect(gp_server, &Server::RoomChat, this, &RoomForm::OnRoomChat);
        connect(gp_server, &Server::Connected, this, &RoomForm::OnConnected);
        connect(gp_server, &Server::Disconnected, this, &RoomForm::OnDisconnected);
    }

    // The form may open after the server has listed the members.
    for (Item* user : m_roomItem.GetItems(User))
        AddMember(user);
    RegisterStoreHandlers();
    setFocusProxy(m_entry);
}

RoomForm::~RoomForm()
{
    RemoveDataHandlers();
    ItemPtr formItem = m_roomItem[ChatTypes::RoomForm];
    if (formItem && ObjectFromItem<RoomForm>(formItem) == this)
        formItem.Remove();
}

void RoomForm::RegisterStoreHandlers()
{
    // A member is shown once the server has told us all we show about it.
    auto* joined = new PathNode(&d, User);
    new PathNode(joined, m_roomItem, PathConnectedTrigger);
    for (const char* part : {AverageDownloadSpeed, SharedFilesCount, CountryCode})
        new PathNode(joined, part, PathConnectedTrigger);
    d.AddPathEventHandler(joined, MakeHandler(this, &RoomForm::OnMemberAdded));

    auto* left = new PathNode(&d, User);
    new PathNode(left, m_roomItem, PathTriggerOnDisconnect);
    d.AddPathEventHandler(left, MakeHandler(this, &RoomForm::OnMemberRemoved));

    for (PathNodeRelation trigger : {PathTriggerOnConnect, PathTriggerOnDisconnect}) {
        auto* autojoin = new PathNode(m_roomItem);
        new PathNode(autojoin, RoomAutojoin, trigger);
        d.AddPathEventHandler(autojoin, MakeHandler(this, &RoomForm::OnAutojoinChanged));
    }

    auto* leaving = new PathNode(m_roomItem);
    new PathNode(leaving, InRoom, PathTriggerOnDisconnect);
    d.AddPathEventHandler(leaving, MakeHandler(this, &RoomForm::OnLeftRoom));
}

void RoomForm::Init()
{
    if (sizeManager) {
        sizeManager->RegisterSplitter("room_splitter", m_splitter, {600, 200});
        sizeManager->RegisterTreeWidget("room_user_list", m_members);
    }
    if (!actionBar)
        return;
    actionBar->RegisterWidget(this, "room");
    actionBar->AddWidgetKey(this, "room", QString::fromStdString(m_room));
    actionBar->RegisterWidget(m_members, "user");
    actionBar->AddWidgetColumnKey(m_members, "user", NameColumn);
    UpdateAutojoinText();
}

QString RoomForm::AutojoinText() const
{
    return m_roomItem.IsConnected(RoomAutojoin) ? AutojoinOnText : AutojoinOffText;
}

void RoomForm::UpdateAutojoinText()
{
    if (actionBar)
        actionBar->SetWidgetActionText(this, "toggle_room_autojoin", AutojoinText());
}

void RoomForm::OnAutojoinChanged(Item*)
{
    UpdateAutojoinText();
}

void RoomForm::OnLeftRoom(Item*)
{
    RemoveDataHandlers();
    deleteLater();
}

void RoomForm::OnMemberAdded(Item* user)
{
    AddMember(user);
}

void RoomForm::AddMember(ItemPtr user)
{
    const QString name = QString::fromStdString(user.AsString());
    ItemPtr speed = user[AverageDownloadSpeed];
    ItemPtr files = user[SharedFilesCount];
    ItemPtr country = user[CountryCode];
    if (!speed || !files || !country || FindMember(name))
        return;

    auto* row = new MemberRow;
    row->setText(NameColumn, name);
    if (!country.AsString().empty())
        row->setIcon(NameColumn, QIcon(FlagResource(country.AsString())));
    row->setText(FilesColumn, CommafyNumber(files.AsInt64()));
    row->setData(FilesColumn, Qt::UserRole, files.AsInt64());
    const long long bytesPerSecond = speed.AsInt64();
    if (bytesPerSecond != 0)
        row->setText(SpeedColumn, QString::number(bytesPerSecond / 1024.0, 'f', 1));
    row->setData(SpeedColumn, Qt::UserRole, bytesPerSecond);
    m_members->addTopLevelItem(row);
}

void RoomForm::OnMemberRemoved(Item* user)
{
    delete FindMember(QString::fromStdString(user->AsString()));
}

QTreeWidgetItem* RoomForm::FindMember(const QString& name) const
{
    for (int i = 0; i < m_members->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = m_members->topLevelItem(i);
        if (row->text(NameColumn) == name)
            return row;
    }
    return nullptr;
}

void RoomForm::OnRoomChat(std::string room, std::string user, std::string text)
{
    if (room != m_room)
        return;
    m_view->AddLineWithinLimit(
        ChatView::ChatLine(QString::fromStdString(user), QString::fromStdString(text)));
}

void RoomForm::OnEnterPressed()
{
    const QString text = m_entry->text();
    if (text.isEmpty())
        return;
    // Our own line comes back from the server like everybody else's.
    if (gp_server)
        gp_server->SendRoomChat(m_room, text.toStdString());
    m_entry->clear();
}

void RoomForm::AddStatusMessage(const std::string& text)
{
    m_view->AddLine(ChatView::StatusLine(QString::fromStdString(text)));
}

void RoomForm::OnConnected()
{
    AddStatusMessage("Reconnected.");
    gp_server->EnterRoom(m_room);
}

void RoomForm::OnDisconnected()
{
    AddStatusMessage("Disconnected.");
}

void RoomForm::OnMembersContextMenu(const QPoint& position)
{
    QTreeWidgetItem* row = m_members->itemAt(position);
    if (!row)
        return;
    // Not a child of the form: leaving the room while the menu is open
    // deletes the form from inside the menu's event loop.
    QMenu menu;
    new UserMenuOptions(&menu, row->text(NameColumn).toStdString(), &menu);
    menu.exec(m_members->viewport()->mapToGlobal(position));
}
