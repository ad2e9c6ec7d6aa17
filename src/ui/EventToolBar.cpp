#include "ui/EventToolBar.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QTabWidget>

#include "app/StartUp.h"
#include "store/Data.h"
#include "store/ObjectValue.h"
#include "ui/ChatSchema.h"
#include "ui/ChatTypes.h"

using namespace ChatTypes;

EventToolBar* eventToolBar = nullptr;

namespace {

ItemPtr WidgetItem(QObject* widget)
{
    return d.GetType(EventToolbarWidget)->HasItem(ObjectValue(widget));
}

// A tab page is only seen when its tab is the current one.
void BringForward(QWidget* widget)
{
    for (QWidget* page = widget; page && page->parentWidget(); page = page->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(page->parentWidget()->parentWidget()))
            tabs->setCurrentWidget(page);
    }
    widget->setFocus();
}

} // namespace

EventToolBar::EventToolBar(QWidget* parent) : QToolBar("Events", parent)
{
    eventToolBar = this;
    ChatSchema::DeclareEventTypes();
    m_alertTimer.setInterval(AlertInterval);
    connect(&m_alertTimer, &QTimer::timeout, this, &EventToolBar::OnIconAlertTimeout);
    connect(qApp, &QApplication::focusChanged, this, &EventToolBar::OnApplicationFocusChanged);
}

EventToolBar::~EventToolBar()
{
    if (eventToolBar == this)
        eventToolBar = nullptr;
    // The widgets outlive us in some shutdown orders; their items must not
    // point at actions that are gone.
    for (Item* item : d.GetType(EventToolbarWidget)->GetItems()) {
        if (ItemPtr action = ItemPtr(item)[EventToolbarAction])
            action.Remove();
        item->Remove();
    }
}

void EventToolBar::AddEvent(const QString& text, const QString& icon, QWidget* widget)
{
    if (!window()->isActiveWindow()) {
        if (m_icons.isEmpty()) {
            m_cycle = 0;
            m_alertTimer.start();
        }
        if (!m_icons.contains(icon))
            m_icons << icon;
    }
    if (WidgetItem(widget))
        return;
    auto* action = addAction(QIcon(icon), text);
    connect(action, &QAction::triggered, this, &EventToolBar::OnActionTriggered);
    d.GetType(EventToolbarWidget)
        ->GetItem(ObjectValue(static_cast<QObject*>(widget)))
        ->Connect(d.GetType(EventToolbarAction)->GetItem(ObjectValue(action)));
    connect(widget, &QObject::destroyed, this, &EventToolBar::OnWidgetDestroyed);
}

QAction* EventToolBar::EventAction(QObject* widget) const
{
    ItemPtr action = WidgetItem(widget)[EventToolbarAction];
    return action ? ObjectFromItem<QAction>(action) : nullptr;
}

void EventToolBar::RemoveEvent(QObject* widget)
{
    ItemPtr widgetItem = WidgetItem(widget);
    if (!widgetItem)
        return;
    if (ItemPtr actionItem = widgetItem[EventToolbarAction]) {
        auto* action = ObjectFromItem<QAction>(actionItem);
        removeAction(action);
        // Clicking the action is one way here: it is still emitting.
        action->deleteLater();
        actionItem.Remove();
    }
    widgetItem.Remove();
    disconnect(widget, &QObject::destroyed, this, &EventToolBar::OnWidgetDestroyed);
}

void EventToolBar::OnActionTriggered()
{
    if (g_showIsOver)
        return;
    ItemPtr actionItem = d.GetType(EventToolbarAction)->HasItem(ObjectValue(sender()));
    ItemPtr widgetItem = actionItem[EventToolbarWidget];
    if (!widgetItem)
        return;
    auto* widget = ObjectFromItem<QWidget>(widgetItem);
    window()->activateWindow();
    BringForward(widget);
    RemoveEvent(widget);
}

void EventToolBar::OnIconAlertTimeout()
{
    if (m_icons.isEmpty())
        return;
    if (m_cycle >= m_icons.size()) {
        m_cycle = 0;
        emit AlertIconCleared();
    } else {
        emit AlertIconShown(m_icons[m_cycle++]);
    }
}

void EventToolBar::OnApplicationFocusChanged(QWidget*, QWidget*)
{
    const bool wasAlerting = !m_icons.isEmpty();
    m_icons.clear();
    m_alertTimer.stop();
    if (wasAlerting)
        emit AlertIconCleared();
}

void EventToolBar::OnWidgetDestroyed(QObject* widget)
{
    RemoveEvent(widget);
}
