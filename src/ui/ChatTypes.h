#pragma once

// Store types of the chat and user list forms, in the order
// ChatSchema::DeclareSchema creates them.
namespace ChatTypes {
// A user's open private chat form (its address).
constexpr const char* UserChatWidget = "user_chat_widget";
// A room's open room form (its address).
constexpr const char* RoomForm = "room_form";
// A widget that has a pending event in the event tool bar (its address).
constexpr const char* EventToolbarWidget = "event_toolbar_widget";
// The tool-bar action standing for that event (its address).
constexpr const char* EventToolbarAction = "event_toolbar_action";
// A user's row in the user list (its address).
constexpr const char* UserListNode = "user_list_node";
// A user's row in the list of users we do not share with (its address).
constexpr const char* UnsharedListNode = "unshared_list_node";
} // namespace ChatTypes
