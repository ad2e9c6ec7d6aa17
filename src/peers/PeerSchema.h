#pragma once

// The store types of peer connections. They describe live sockets and
// attempts, so nothing of them is saved. Needs the base schema of the server
// connection ("user") declared first.
namespace PeerSchema {
void DeclareSchema();
}
