#pragma once

#include <set>
#include <utility>

class Data;
class Item;
class Type;

// The relation of a path node to its parent: whether the parent and child
// items must be connected and which store operation triggers the handler.
enum PathNodeRelation
{
    PathConnectedTrigger = 0,    // must be connected; connecting triggers
    PathConnected = 1,           // must be connected; never triggers
    PathTriggerOnConnect = 2,    // no condition; connecting triggers
    PathNotConnectedTrigger = 3, // must not be connected; disconnecting triggers
    PathNotConnected = 4,        // must not be connected; never triggers
    PathTriggerOnDisconnect = 5, // no condition; disconnecting triggers
};

// One node of a path pattern anchored at a root. A node matches any item of
// its type, or only one fixed item. Destroying a node destroys its children.
class PathNode
{
public:
    PathNode(Data* data, const char* typeName);
    explicit PathNode(Item* item);
    PathNode(PathNode* parent, const char* typeName, PathNodeRelation relation);
    PathNode(PathNode* parent, Item* item, PathNodeRelation relation);
    ~PathNode();
    PathNode(const PathNode&) = delete;
    PathNode& operator=(const PathNode&) = delete;

    Data* GetData() const { return m_data; }
    PathNode* GetParent() const { return m_parent; }
    PathNodeRelation GetRelation() const { return m_relation; }
    Type* GetType() const { return m_type; }
    Item* GetFixedItem() const { return m_item; }
    const std::set<std::pair<PathNode*, PathNodeRelation>>& GetChildren() const
    {
        return m_children;
    }

private:
    Data* m_data;
    PathNode* m_parent = nullptr;
    PathNodeRelation m_relation = PathConnectedTrigger;
    Type* m_type;
    Item* m_item = nullptr;
    std::set<std::pair<PathNode*, PathNodeRelation>> m_children;
};
