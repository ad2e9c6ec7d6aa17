#include "LabMessageQueue.h"

const LabMessageQueue::Message& LabMessageQueue::Add(const std::string& from, const std::string& to,
                                                     const std::string& text, std::uint32_t time)
{
    const std::uint32_t id = m_nextId++;
    Message& message = m_pending[id];
    message = Message{id, time, from, to, text};
    return message;
}

bool LabMessageQueue::Acknowledge(const std::string& user, std::uint32_t id)
{
    auto found = m_pending.find(id);
    if (found == m_pending.end() || found->second.m_to != user)
        return false;
    m_pending.erase(found);
    return true;
}

std::vector<LabMessageQueue::Message> LabMessageQueue::PendingFor(const std::string& user) const
{
    std::vector<Message> messages;
    for (const auto& [id, message] : m_pending) {
        if (message.m_to == user)
            messages.push_back(message);
    }
    return messages;
}
