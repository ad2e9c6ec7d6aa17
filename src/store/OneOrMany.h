#pragma once

enum OneOrMany
{
    ONE = 0,
    MANY = 1
};

// What one type knows about its relation to another type.
struct RelationInfo
{
    OneOrMany thisEnd = MANY; // how many items of the keeping type one item of the other may have
    OneOrMany otherEnd =
        MANY;           // how many items of the other type one item of the keeping type may have
    bool owns = false;  // the keeping type owns the other type
    bool owned = false; // the other type owns the keeping type
};
