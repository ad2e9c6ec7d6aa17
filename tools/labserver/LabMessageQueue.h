#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Private messages the server still owes their recipients. Every message is
// kept from the moment it is sent until its recipient acknowledges it, so a
// message to an offline user, or one whose recipient went away before
// acknowledging, is delivered again at the recipient's next login.
class LabMessageQueue
{
public:
    struct Message
    {
        std::uint32_t m_id = 0;
        std::uint32_t m_time = 0;
        std::string m_from;
        std::string m_to;
        std::string m_text;
    };

    // Queues a message under a fresh id (ids start at 1 and never repeat).
    const Message& Add(const std::string& from, const std::string& to, const std::string& text,
                       std::uint32_t time);
    // Only the recipient can acknowledge a message; false for any other user
    // or an unknown id.
    bool Acknowledge(const std::string& user, std::uint32_t id);
    // The user's messages in the order they were sent.
    std::vector<Message> PendingFor(const std::string& user) const;

private:
    std::uint32_t m_nextId = 1;
    std::map<std::uint32_t, Message> m_pending;
};
