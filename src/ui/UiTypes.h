#pragma once

// Store types of the window layer.
namespace UiTypes {
// A log category, keyed by its name.
constexpr const char* Log = "log";
// The address of the text view that shows a log category.
constexpr const char* LogWidget = "log_widget";
} // namespace UiTypes

// The action tool bar, in the order ActionSetToolBar declares it.
namespace ToolBarTypes {
// A named set of actions that a widget offers.
constexpr const char* ActionSet = "toolbar_action_set";
// One action of a set.
constexpr const char* Action = "toolbar_action";
// The identifier an action emits when pressed.
constexpr const char* ActionId = "toolbar_action_id";
// An action's position in its set.
constexpr const char* ActionOrder = "toolbar_action_order";
constexpr const char* ActionText = "toolbar_action_text";
// Resource path of the button icon.
constexpr const char* ActionIcon = "toolbar_action_icon";
// Flag: the action does nothing unless a row of the focused list is selected.
constexpr const char* NeedsListSelection = "needs_list_selection";
// A registered widget, by address.
constexpr const char* ActionWidget = "toolbar_action_widget";
// A fixed context key of a registered widget.
constexpr const char* KeyValuePair = "action_key_value_pair";
// A context key taken from a column of the selected row of a registered list.
constexpr const char* KeyColumnPair = "action_key_column_pair";
constexpr const char* ActionKey = "action_key";
constexpr const char* ActionValue = "action_value";
constexpr const char* ActionColumn = "action_column";
// The context the last pressed action runs in: key and value.
constexpr const char* ActiveKey = "active_action_key";
constexpr const char* ActiveValue = "active_action_value";
// A button text one widget shows instead of its set's text.
constexpr const char* WidgetActionText = "widget_action_text";
// The button currently shown for an action, by address.
constexpr const char* ActionObject = "toolbar_action_object";
} // namespace ToolBarTypes
