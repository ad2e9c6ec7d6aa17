#pragma once

#include <utility>

// A peer's address as the server hands it out: the IPv4 address as one
// number (u32 on the wire) and the port (i32 on the wire). A plain pair, so
// the typed stream reads and writes handle it and lists of it.
using TCPAddress = std::pair<unsigned int, int>;
