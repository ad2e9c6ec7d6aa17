#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

// The chat rooms and who is in them, members in the order they joined. A room
// exists while it has members: the first join creates it and the last leave
// removes it, so the room list only ever shows rooms someone is in.
class LabRooms
{
public:
    // False when the user already was a member.
    bool Join(const std::string& room, const std::string& user);
    // False when the user was not a member.
    bool Leave(const std::string& room, const std::string& user);

    bool IsMember(const std::string& room, const std::string& user) const;
    std::vector<std::string> Members(const std::string& room) const;
    std::vector<std::string> RoomsOf(const std::string& user) const;
    // Every room with its member count, in name order.
    std::vector<std::pair<std::string, int>> Counts() const;

private:
    std::map<std::string, std::vector<std::string>> m_members;
};
