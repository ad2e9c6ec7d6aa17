#pragma once

class Item;

// The argument of connection and disconnection events: the item whose side is
// being reported and the item on the other end.
struct ConnectionInfo
{
    Item* item = nullptr;
    Item* other = nullptr;
};
