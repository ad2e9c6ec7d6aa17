#include "LabRooms.h"

#include <algorithm>

bool LabRooms::Join(const std::string& room, const std::string& user)
{
    if (IsMember(room, user))
        return false;
    m_members[room].push_back(user);
    return true;
}

bool LabRooms::Leave(const std::string& room, const std::string& user)
{
    auto found = m_members.find(room);
    if (found == m_members.end())
        return false;
    std::vector<std::string>& members = found->second;
    auto member = std::find(members.begin(), members.end(), user);
    if (member == members.end())
        return false;
    members.erase(member);
    if (members.empty())
        m_members.erase(found);
    return true;
}

bool LabRooms::IsMember(const std::string& room, const std::string& user) const
{
    auto found = m_members.find(room);
    if (found == m_members.end())
        return false;
    return std::find(found->second.begin(), found->second.end(), user) != found->second.end();
}

std::vector<std::string> LabRooms::Members(const std::string& room) const
{
    auto found = m_members.find(room);
    return found == m_members.end() ? std::vector<std::string>() : found->second;
}

std::vector<std::string> LabRooms::RoomsOf(const std::string& user) const
{
    std::vector<std::string> rooms;
    for (const auto& [room, members] : m_members) {
        if (std::find(members.begin(), members.end(), user) != members.end())
            rooms.push_back(room);
    }
    return rooms;
}

std::vector<std::pair<std::string, int>> LabRooms::Counts() const
{
    std::vector<std::pair<std::string, int>> counts;
    for (const auto& [room, members] : m_members)
        counts.emplace_back(room, static_cast<int>(members.size()));
    return counts;
}
