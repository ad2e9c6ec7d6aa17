#pragma once

// Store types of the window layer.
namespace UiTypes {
// A log category, keyed by its name.
constexpr const char* Log = "log";
// The address of the text view that shows a log category.
constexpr const char* LogWidget = "log_widget";
// A user's open private chat form, by address.
constexpr const char* UserChatWidget = "user_chat_widget";
// A room's open room form, by address.
constexpr const char* RoomForm = "room_form";
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

// Remembered window geometry, in the order SizeManager declares it.
namespace SizerTypes {
// A window, keyed by the name it registered under.
constexpr const char* Window = "sizer_window";
// A live registered window, by address.
constexpr const char* WindowWidget = "sizer_window_widget";
constexpr const char* X = "sizer_x";
constexpr const char* Y = "sizer_y";
constexpr const char* Width = "sizer_width";
constexpr const char* Height = "sizer_height";
// A column width or a pane size.
constexpr const char* Size = "sizer_size";
// A list, keyed by the name it registered under; live lists by address.
constexpr const char* Tree = "sizer_tree";
constexpr const char* TreeWidget = "sizer_tree_widget";
constexpr const char* TreeColumnNumber = "sizer_tree_column_number";
// One remembered column of a list.
constexpr const char* TreeColumn = "sizer_tree_column";
// A split view, keyed by the name it registered under; live ones by address.
constexpr const char* Splitter = "sizer_splitter";
constexpr const char* SplitterWidget = "sizer_splitter_widget";
constexpr const char* SplitterIndexNumber = "sizer_splitter_index_number";
// One remembered pane of a split view.
constexpr const char* SplitterIndex = "sizer_splitter_index";
} // namespace SizerTypes
