#pragma once

// The categories of the diagnostics log, one tab each.
namespace LogCategory {
constexpr const char* Server = "server";
constexpr const char* PeerMessenger = "Peer Messenger";
constexpr const char* DistributedNetwork = "Distributed Network";
constexpr const char* TransferQueue = "Transfer Queue";
constexpr const char* Shared = "Shared";
constexpr const char* Search = "Search";
constexpr const char* MP3Scanning = "MP3 Scanning";
constexpr const char* PortForwarding = "Port Forwarding";
constexpr const char* WishList = "Wish List";
constexpr const char* Snapshot = "Snapshot";
} // namespace LogCategory
