#include "ActionSetToolBar.h"

#include <algorithm>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QIcon>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QSizePolicy>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeView>

#include "app/StartUp.h"
#include "base/Settings.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/ObjectValue.h"
#include "ui/UiTypes.h"

using namespace ToolBarTypes;

ActionSetToolBar* actionBar = nullptr;

namespace {
// Privileges are reported in seconds; the button rounds to the nearest day.
constexpr long long SecondsPerDay = 86400;
} // namespace

ActionSetToolBar::ActionSetToolBar(QWidget* parent)
    : QToolBar("Actions", parent), m_privileges(new QPushButton(this)),
      m_openUrl([](const QUrl& url) { QDesktopServices::openUrl(url); })
{
    actionBar = this;
    setObjectName("action_bar");
    setMovable(false);
    // Several commands share a picture, so the text is what tells them apart.
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    DeclareSchema();

    auto* spacer = new QWidget(this);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_spacer = addWidget(spacer);
    // Clicking it must not steal the focus, or the bar would forget the set
    // it was showing.
    m_privileges->setFocusPolicy(Qt::NoFocus);
    m_privileges->setObjectName("privileges_button");
    addWidget(m_privileges);
    KeepHeightOfActionButtons();
    connect(m_privileges, &QPushButton::clicked, this, &ActionSetToolBar::OnPrivilegesClicked);
    UpdatePrivilegesButton();

    connect(qApp, &QApplication::focusChanged, this, &ActionSetToolBar::OnApplicationFocusChanged);
}

void ActionSetToolBar::KeepHeightOfActionButtons()
{
    // A page without commands leaves only the privileges button; it is made
    // as tall as a command button so that the pages below do not jump when
    // the set changes.
    QToolButton probe;
    probe.setAutoRaise(true);
    probe.setToolButtonStyle(toolButtonStyle());
    probe.setIconSize(iconSize());
    probe.setIcon(QIcon(":/icons/room_icon"));
    probe.setText("Room");
    m_privileges->setMinimumHeight(probe.sizeHint().height());
}

ActionSetToolBar::~ActionSetToolBar()
{
    if (actionBar == this)
        actionBar = nullptr;
}

void ActionSetToolBar::DeclareSchema()
{
    // One bar per process; a second window in the same process (tests) finds
    // the vocabulary in place.
    if (d.HasType(ActionSet))
        return;
    Type* set = d.NewType(ActionSet, true, false, true);
    Type* action = d.NewType(Action, true, true, true);
    Type* id = d.NewType(ActionId, true, false, true);
    Type* order = d.NewType(ActionOrder, false, false, true);
    Type* text = d.NewType(ActionText, false, false, true);
    Type* icon = d.NewType(ActionIcon, false, false, true);
    Type* needsSelection = d.NewType(NeedsListSelection, false, true, true);
    Type* widget = d.NewType(ActionWidget, true, false, true);
    Type* valuePair = d.NewType(KeyValuePair, true, true, true);
    Type* columnPair = d.NewType(KeyColumnPair, true, true, true);
    Type* key = d.NewType(ActionKey, false, false, true);
    Type* value = d.NewType(ActionValue, false, false, true);
    Type* column = d.NewType(ActionColumn, false, false, true);
    Type* activeKey = d.NewType(ActiveKey, true, false, true);
    Type* activeValue = d.NewType(ActiveValue, false, false, true);
    Type* widgetText = d.NewType(WidgetActionText, false, false, true);
    Type* object = d.NewType(ActionObject, false, false, true);

    set->RelateToType(action, ONE, MANY, false);
    // The same id may be offered by several sets.
    action->RelateToType(id, MANY, ONE, false);
    action->RelateToType(order, MANY, ONE, false);
    action->RelateToType(text, MANY, ONE, false);
    action->RelateToType(icon, MANY, ONE, false);
    action->RelateToType(needsSelection, MANY, ONE, false);
    action->RelateToType(object, ONE, ONE, false);
    widget->RelateToType(set, MANY, ONE, false);
    widget->RelateToType(valuePair, ONE, MANY, false);
    widget->RelateToType(columnPair, ONE, MANY, false);
    valuePair->RelateToType(key, MANY, ONE, false);
    valuePair->RelateToType(value, MANY, ONE, false);
    columnPair->RelateToType(key, MANY, ONE, false);
    columnPair->RelateToType(column, MANY, ONE, false);
    activeKey->RelateToType(activeValue, MANY, ONE, false);
    // Texts are values, so two widgets showing the same text share the item.
    widgetText->RelateToType(widget, MANY, MANY, false);
    widgetText->RelateToType(id, MANY, MANY, false);
}

void ActionSetToolBar::ConnectServer()
{
    connect(gp_server, &Server::ReceivedOwnPrivilegesStatus, this,
            &ActionSetToolBar::UpdatePrivilegesButton);
}

void ActionSetToolBar::AddSetActions(std::initializer_list<SetActionRow> rows)
{
    for (const SetActionRow& row : rows)
        AddSetAction(row.set, row.id, row.text, row.icon, row.needsListSelection);
}

void ActionSetToolBar::AddSetAction(const std::string& set, const std::string& id,
                                    const std::string& text, const std::string& icon,
                                    bool needsListSelection)
{
    ItemPtr action = d.GetType(Action)->NewItem();
    d.GetType(ActionSet)->GetItem(set)->Connect(action);
    action.Connect(d.GetType(ActionId)->GetItem(id));
    action.Connect(d.GetType(ActionOrder)->GetItem(static_cast<unsigned long long>(++m_order)));
    action.Connect(d.GetType(ActionText)->GetItem(text));
    action.Connect(d.GetType(ActionIcon)->GetItem(icon));
    if (needsListSelection)
        action.NewItem(NeedsListSelection);
}

ItemPtr ActionSetToolBar::WidgetItem(QWidget* widget)
{
    return d.GetType(ActionWidget)->HasItem(ObjectValue(widget));
}

void ActionSetToolBar::RegisterWidget(QWidget* widget, const QString& set)
{
    ItemPtr item = d.GetType(ActionWidget)->GetItem(ObjectValue(widget));
    item.Connect(d.GetType(ActionSet)->GetItem(set.toStdString()));
    // A later widget at the same address must not inherit this one's set.
    connect(widget, &QObject::destroyed, this, &ActionSetToolBar::OnWidgetDestroyed,
            Qt::UniqueConnection);
}

void ActionSetToolBar::OnWidgetDestroyed(QObject* widget)
{
    ItemPtr item = d.GetType(ActionWidget)->HasItem(ObjectValue(widget));
    if (!item)
        return;
    for (const char* pairType : {KeyValuePair, KeyColumnPair})
        for (Item* pair : item.GetItems(pairType))
            pair->Remove();
    item.Remove();
    if (m_widget == nullptr && !m_set.isEmpty())
        Clear();
}

void ActionSetToolBar::AddWidgetKey(QWidget* widget, const QString& key, const QString& value)
{
    ItemPtr item = d.GetType(ActionWidget)->GetItem(ObjectValue(widget));
    ItemPtr keyItem = d.GetType(ActionKey)->GetItem(key.toStdString());
    // A key has one fixed value per widget: a later call replaces it.
    for (Item* pair : d.GetItems(item, keyItem, KeyValuePair))
        pair->Remove();
    ItemPtr pair = d.GetType(KeyValuePair)->NewItem();
    item.Connect(pair);
    pair.Connect(keyItem);
    pair.Connect(d.GetType(ActionValue)->GetItem(value.toStdString()));
}

void ActionSetToolBar::AddWidgetColumnKey(QWidget* widget, const QString& key, int column)
{
    ItemPtr item = d.GetType(ActionWidget)->GetItem(ObjectValue(widget));
    ItemPtr keyItem = d.GetType(ActionKey)->GetItem(key.toStdString());
    for (Item* pair : d.GetItems(item, keyItem, KeyColumnPair))
        pair->Remove();
    ItemPtr pair = d.GetType(KeyColumnPair)->NewItem();
    item.Connect(pair);
    pair.Connect(keyItem);
    pair.Connect(d.GetType(ActionColumn)->GetItem(column));
}

void ActionSetToolBar::SetWidgetActionText(QWidget* widget, const QString& id, const QString& text)
{
    ItemPtr item = d.GetType(ActionWidget)->GetItem(ObjectValue(widget));
    ItemPtr idItem = d.GetType(ActionId)->GetItem(id.toStdString());
    for (Item* old : d.GetItems(item, idItem, WidgetActionText))
        old->Disconnect(item);
    ItemPtr textItem = d.GetType(WidgetActionText)->GetItem(text.toStdString());
    textItem.Connect(item);
    textItem.Connect(idItem);

    if (widget != m_widget)
        return;
    for (QAction* button : m_actions)
        if (button->objectName() == id)
            button->setText(text);
}

QString ActionSetToolBar::GetKey(const QString& key) const
{
    ItemPtr active = d.GetType(ActiveKey)->HasItem(key.toStdString());
    return QString::fromStdString(active[ActiveValue].AsString());
}

void ActionSetToolBar::SetActiveKey(const std::string& key, const std::string& value)
{
    d.GetType(ActiveKey)->GetItem(key)->Connect(d.GetType(ActiveValue)->GetItem(value));
}

void ActionSetToolBar::Clear()
{
    ClearAndDeleteActions();
    m_widget = nullptr;
    m_set.clear();
}

void ActionSetToolBar::ClearAndDeleteActions()
{
    for (QAction* button : m_actions)
        delete button;
    m_actions.clear();
    d.GetType(ActionObject)->RemoveAllItems();
}

void ActionSetToolBar::OnApplicationFocusChanged(QWidget*, QWidget* now)
{
    if (g_showIsOver || m_inFocusChange || !now)
        return;
    m_inFocusChange = true;

    QWidget* widget = now;
    for (;;) {
        if (auto* tabs = qobject_cast<QTabWidget*>(widget); tabs && tabs->currentWidget())
            widget = tabs->currentWidget();
        else if (auto* bar = qobject_cast<QTabBar*>(widget);
                 bar && qobject_cast<QTabWidget*>(bar->parentWidget()) &&
                 qobject_cast<QTabWidget*>(bar->parentWidget())->currentWidget())
            widget = qobject_cast<QTabWidget*>(bar->parentWidget())->currentWidget();
        else
            break;
    }

    m_focusedList = nullptr;
    ItemPtr registered;
    for (; widget; widget = widget->parentWidget()) {
        if (!m_focusedList)
            m_focusedList = qobject_cast<QTreeView*>(widget);
        registered = WidgetItem(widget);
        if (registered)
            break;
    }

    if (!registered) {
        Clear();
    } else {
        ChangeSet(widget, QString::fromStdString(registered[ActionSet].AsString()));
        for (Item* pair : registered.GetItems(KeyValuePair))
            SetActiveKey(pair->GetItem(ActionKey)->AsString(),
                         ItemPtr(pair->GetItem(ActionValue)).AsString());
    }
    m_privileges->show();
    m_inFocusChange = false;
}

void ActionSetToolBar::ChangeSet(QWidget* widget, const QString& set)
{
    if (widget == m_widget && set == m_set)
        return;
    ClearAndDeleteActions();
    m_widget = widget;
    m_set = set;

    ItemPtr widgetItem = WidgetItem(widget);
    ItemPtr setItem = d.GetType(ActionSet)->HasItem(set.toStdString());
    std::vector<Item*> actions;
    if (setItem)
        for (Item* action : setItem.GetItems(Action))
            actions.push_back(action);
    std::sort(actions.begin(), actions.end(), [](Item* a, Item* b) {
        return a->GetItem(ActionOrder)->AsUInt64() < b->GetItem(ActionOrder)->AsUInt64();
    });

    for (Item* action : actions) {
        ItemPtr icon = action->GetItem(ActionIcon);
        auto* button = new QAction(QIcon(QString::fromStdString(icon.AsString())),
                                   ButtonText(widgetItem, action), this);
        button->setObjectName(QString::fromStdString(action->GetItem(ActionId)->AsString()));
        connect(button, &QAction::triggered, this, &ActionSetToolBar::OnActionTriggered);
        insertAction(m_spacer, button);
        m_actions << button;
        action->Connect(d.GetType(ActionObject)->GetItem(ObjectValue(button)));
    }
    m_privileges->show();
}

QString ActionSetToolBar::ButtonText(ItemPtr widget, ItemPtr action) const
{
    ItemPtr id = action[ActionId];
    if (widget) {
        ItemPtr own = d.GetItem(widget, id, WidgetActionText);
        if (own)
            return QString::fromStdString(own.AsString());
    }
    return QString::fromStdString(action[ActionText].AsString());
}

void ActionSetToolBar::OnActionTriggered(bool)
{
    ItemPtr object = d.GetType(ActionObject)->HasItem(ObjectValue(sender()));
    ItemPtr action = object[Action];
    if (!action)
        return;
    if (m_focusedList && !FillColumnKeys(WidgetItem(m_widget), action))
        return;
    emit ActionTriggered(action[ActionId].AsString());
}

bool ActionSetToolBar::FillColumnKeys(ItemPtr widget, ItemPtr action)
{
    QItemSelectionModel* selection = m_focusedList->selectionModel();
    QModelIndexList rows = selection ? selection->selectedRows() : QModelIndexList();
    if (rows.isEmpty())
        return !action.IsConnected(NeedsListSelection);
    // The first selected row as the list shows it, not in the order the
    // user happened to pick the rows.
    const QModelIndex first = *std::min_element(
        rows.begin(), rows.end(), [this](const QModelIndex& a, const QModelIndex& b) {
            return m_focusedList->visualRect(a).top() < m_focusedList->visualRect(b).top() ||
                   (m_focusedList->visualRect(a).top() == m_focusedList->visualRect(b).top() &&
                    a.row() < b.row());
        });
    if (!widget)
        return true;
    for (Item* pair : widget.GetItems(KeyColumnPair)) {
        const int column = pair->GetItem(ActionColumn)->AsInt();
        const QString text = first.siblingAtColumn(column).data().toString();
        SetActiveKey(pair->GetItem(ActionKey)->AsString(), text.toStdString());
    }
    return true;
}

QString ActionSetToolBar::PrivilegesText(long long secondsLeft)
{
    if (secondsLeft <= 0)
        return SupportText;
    return QString(DaysLeftText).arg((secondsLeft + SecondsPerDay / 2) / SecondsPerDay);
}

void ActionSetToolBar::UpdatePrivilegesButton()
{
    // Before start-up has declared the settings nothing is known yet.
    if (!d.HasType("global")) {
        m_privileges->setText(SupportText);
        return;
    }
    m_privileges->setText(PrivilegesText(Settings::GetInt("privileges_time_left", 0)));
}

QUrl ActionSetToolBar::AccountPageUrl(const QString& username)
{
    QUrl url(AccountPage);
    url.setQuery("username=" + QString::fromLatin1(QUrl::toPercentEncoding(username)));
    return url;
}

void ActionSetToolBar::OnPrivilegesClicked()
{
    m_openUrl(AccountPageUrl(QString::fromStdString(Settings::Get("username"))));
}

QWidget* ActionSetToolBar::FocusTarget(QWidget* page)
{
    // The first widget inside the page that takes the focus by keyboard, so
    // that the new page can be used at once; the page itself when none does.
    for (QWidget* w = page->nextInFocusChain(); w && w != page; w = w->nextInFocusChain()) {
        if (!page->isAncestorOf(w))
            continue;
        if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && w->isVisibleTo(page))
            return w;
    }
    return page;
}

void ActionSetToolBar::AutoFocusTabWidget(QTabWidget* tabs)
{
    QObject::connect(tabs, &QTabWidget::currentChanged, tabs, [tabs](int index) {
        if (QWidget* page = tabs->widget(index))
            FocusTarget(page)->setFocus(Qt::TabFocusReason);
    });
}

void ActionSetToolBar::FocusCurrentPage(QTabWidget* tabs)
{
    if (QWidget* page = tabs->currentWidget())
        FocusTarget(page)->setFocus(Qt::OtherFocusReason);
}
