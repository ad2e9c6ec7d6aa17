#include "LabTreeSearch.h"

#include <tuple>

#include "LabLog.h"
#include "LabSession.h"

void LabTreeSearch::Relay(const LabSession& searcher, unsigned int token, const std::string& text,
                          const Online& online)
{
    // The roots pass it on to everyone else. A searcher that is a root gets
    // its own search too: its subtree hears of it only through it, just as
    // a searcher further down hears of its own from its parent.
    const auto message = EmbeddedSearch(searcher.User(), token, text);
    for (const auto& [user, session] : online) {
        if (!m_members[user].m_hasParent)
            session->SendMessage(message);
    }
}

void LabTreeSearch::LoggedIn(LabSession& session, const Online& online)
{
    auto [entry, isNew] = m_members.try_emplace(session.User());
    Member& member = entry->second;
    if (isNew)
        member.m_rank = m_nextRank++;
    // A new login may be a new program: it remembers nobody it tried.
    member.m_hasParent = false;
    member.m_parent.clear();
    member.m_offered.clear();
    ProposeParents(online);
}

void LabTreeSearch::LoggedOut(LabSession&, const Online& online)
{
    ProposeParents(online);
}

void LabTreeSearch::PortsAnnounced(LabSession&, const Online& online)
{
    ProposeParents(online);
}

void LabTreeSearch::HasParent(LabSession& session, bool hasParent, const Online& online)
{
    Member& member = m_members[session.User()];
    LabLog::Note(session.Name(),
                 hasParent ? QStringLiteral("has a parent") : QStringLiteral("has no parent"));
    const bool lost = member.m_hasParent && !hasParent;
    member.m_hasParent = hasParent;
    if (lost) {
        member.m_parent.clear();
        ProposeParents(online);
    }
}

void LabTreeSearch::ProposeParents(const Online& online)
{
    std::map<unsigned int, LabSession*> waiting;
    for (const auto& [user, session] : online) {
        if (NeedsParent(m_members[user], online))
            waiting.emplace(m_members[user].m_rank, session);
    }
    for (const auto& [rank, session] : waiting) {
        if (const LabSession* parent = BestParentFor(session->User(), online))
            Propose(*session, *parent);
    }
}

bool LabTreeSearch::NeedsParent(const Member& member, const Online& online) const
{
    return !member.m_hasParent && (member.m_parent.empty() || !online.contains(member.m_parent));
}

const LabSession* LabTreeSearch::BestParentFor(const std::string& user, const Online& online) const
{
    const Member& member = m_members.at(user);
    const LabSession* best = nullptr;
    std::tuple<bool, std::size_t, std::size_t, unsigned int> bestKey;
    for (const auto& [name, session] : online) {
        const Member& candidate = m_members.at(name);
        // Nobody can connect to a client that has not said where it listens.
        if (candidate.m_rank >= member.m_rank || session->Port() == 0 ||
            member.m_offered.contains(name))
            continue;
        const std::size_t children = ChildrenOf(name, online);
        const auto key =
            std::make_tuple(children >= FanOut, DepthOf(name, online), children, candidate.m_rank);
        if (!best || key < bestKey) {
            best = session;
            bestKey = key;
        }
    }
    return best;
}

std::size_t LabTreeSearch::ChildrenOf(const std::string& user, const Online& online) const
{
    std::size_t children = 0;
    for (const auto& [name, session] : online) {
        if (m_members.at(name).m_parent == user)
            ++children;
    }
    return children;
}

std::size_t LabTreeSearch::DepthOf(const std::string& user, const Online& online) const
{
    // Parents always rank lower than their children, so the walk ends.
    std::size_t depth = 0;
    for (std::string current = user;;) {
        const std::string& parent = m_members.at(current).m_parent;
        if (parent.empty() || !online.contains(parent))
            return depth;
        ++depth;
        current = parent;
    }
}

void LabTreeSearch::Propose(LabSession& session, const LabSession& parent)
{
    Member& member = m_members[session.User()];
    member.m_parent = parent.User();
    member.m_offered.insert(parent.User());
    ServerMessages::FromServer::PossibleParents message;
    message.m_parents.emplace_back(parent.User(), TCPAddress(parent.Address(), parent.Port()));
    session.SendMessage(message);
    LabLog::Note(session.Name(),
                 QStringLiteral("proposed parent %1").arg(QString::fromStdString(parent.User())));
}
