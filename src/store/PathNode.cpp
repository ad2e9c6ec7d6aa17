#include "PathNode.h"

#include "Data.h"

PathNode::PathNode(Data* data, const char* typeName) : m_data(data), m_type(data->GetType(typeName))
{}

PathNode::PathNode(Item* item)
    : m_data(item->GetType()->GetData()), m_type(item->GetType()), m_item(item)
{}

PathNode::PathNode(PathNode* parent, const char* typeName, PathNodeRelation relation)
    : m_data(parent->m_data), m_parent(parent), m_relation(relation),
      m_type(parent->m_data->GetType(typeName))
{
    parent->m_children.insert({this, relation});
}

PathNode::PathNode(PathNode* parent, Item* item, PathNodeRelation relation)
    : m_data(parent->m_data), m_parent(parent), m_relation(relation), m_type(item->GetType()),
      m_item(item)
{
    parent->m_children.insert({this, relation});
}

PathNode::~PathNode()
{
    for (const auto& child : m_children)
        delete child.first;
}
