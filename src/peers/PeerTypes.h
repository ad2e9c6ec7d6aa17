#pragma once

// Store types of peer connections, in the order PeerSchema::DeclareSchema
// creates them. Items standing for sockets carry the socket's address.
namespace PeerTypes {
// An accepted socket whose first message has not arrived yet.
constexpr const char* UninitializedSocket = "uninitialized_socket";
// An identified messaging connection.
constexpr const char* PeerSocket = "peer_socket";
// When a messaging connection was identified (date-time text).
constexpr const char* ConnectionOpenTime = "connection_open_time";
// The address of the date-time object holding a connection's last activity.
constexpr const char* LastActivityTime = "last_activity_time";
// Marker: this socket or request uses the scrambled mode.
constexpr const char* IsObfuscated = "is_obfuscated";
// The server asked us to connect to a peer.
constexpr const char* PeerConnectionRequest = "peer_connection_request";
// The token to echo to that peer.
constexpr const char* PeerConnectionRequestId = "peer_connection_request_id";
// A connection type: "P", "F" or "D".
constexpr const char* PeerConnectionType = "peer_connection_type";
// Our outgoing socket answering a "peer_connection_request".
constexpr const char* PeerConnectionRequestSocket = "peer_connection_request_socket";
// A peer's IPv4 address as one number, its plain and its scrambled port.
constexpr const char* UserAddress = "user_address";
constexpr const char* UserPort = "user_port";
constexpr const char* UserObfuscatedPort = "user_obfuscated_port";
// When an outgoing socket was created (date-time text).
constexpr const char* SocketCreationTime = "socket_creation_time";
// One attempt of ours to reach a user with a given connection type.
constexpr const char* ConnectToPeerRequest = "connect_to_peer_request";
// "getting_address" or "connecting".
constexpr const char* ConnectToPeerRequestStatus = "connect_to_peer_request_status";
// The direct outgoing socket of an attempt.
constexpr const char* ConnectToPeerRequestSocket = "connect_to_peer_request_socket";
// The indirect request sent through the server for an attempt, keyed by token.
constexpr const char* IndirectConnectToPeerRequest = "indirect_connect_to_peer_request";
// When an indirect request was sent (date-time text).
constexpr const char* SendTime = "send_time";
} // namespace PeerTypes
