#pragma once

// Store types of the distributed search tree, in the order DNetManager
// creates them. Items standing for sockets carry the socket's address.
namespace DNetTypes {
// Flag on a "user": we already tried that user as a parent in this run.
constexpr const char* AttemptedDNetConnection = "attempted_dnet_connection";
// A named state variable of our place in the tree, with one "dnet_value".
constexpr const char* DNetGlobal = "dnet_global";
constexpr const char* DNetValue = "dnet_value";
// One child connection, and the depth that child reported.
constexpr const char* DNetChild = "dnet_child";
constexpr const char* DNetChildDepth = "dnet_child_depth";
// One connection to a possible parent, with the level we would have under it
// and the group leader it announced.
constexpr const char* DNetParentCandidate = "dnet_parent_candidate";
constexpr const char* DNetCandidateLevel = "dnet_candidate_level";
constexpr const char* DNetCandidateLeader = "dnet_candidate_leader";

// The names of the "dnet_global" state variables.
namespace State {
// The adopted parent's user name; absent while we have none.
constexpr const char* ParentUser = "dnet_parent_user";
// The address of the parent's socket.
constexpr const char* ParentSocket = "dnet_parent_socket";
// Our level (the parent's plus one); absent or -1 while unknown.
constexpr const char* Level = "dnet_level";
// The group leader the parent announced.
constexpr const char* GroupLeader = "dnet_group_leader";
// How deep the tree below us goes; absent when we have no reporting child.
constexpr const char* ChildDepth = "dnet_child_depth";
} // namespace State
} // namespace DNetTypes
