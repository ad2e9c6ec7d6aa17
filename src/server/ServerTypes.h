#pragma once

// The base vocabulary of the store: users, rooms and the user list, in the
// order ServerSchema::DeclareSchema creates them.
namespace ServerTypes {
// A user of the network, keyed by user name.
constexpr const char* User = "user";
// Flag: the user is online.
constexpr const char* IsOnline = "is_online";
// Flag: the server has been asked to report this user's status changes.
constexpr const char* IsTracked = "is_tracked";
// Flag: the user has privileges.
constexpr const char* IsPrivileged = "is_privileged";
// A chat room, keyed by room name.
constexpr const char* Room = "room";
// Flag: the room is entered by itself after the first login of the run.
constexpr const char* RoomAutojoin = "room_autojoin";
// The number of users in a room, as decimal text.
constexpr const char* UserCount = "user_count";
// Flag: we are inside this room.
constexpr const char* InRoom = "in_room";
// A room's link to its owner user.
constexpr const char* RoomOwner = "room_owner";
// A room's link to one of its operator users; one per operator.
constexpr const char* RoomOperator = "room_operator";
// A user's average speed as the server reports it.
constexpr const char* AverageDownloadSpeed = "average_download_speed";
// The number of files a user shares.
constexpr const char* SharedFilesCount = "shared_files_count";
// A user's country code.
constexpr const char* CountryCode = "country_code";
// A user's membership of our user list.
constexpr const char* InUserList = "in_user_list";
// A named group of the user list.
constexpr const char* UserListGroup = "user_list_group";
// The download priority of a user-list group.
constexpr const char* GroupDownloadPriority = "group_download_priority";
// Flag: we asked the server for this user's address and wait for it.
constexpr const char* UserAddressRequest = "user_address_request";
} // namespace ServerTypes
