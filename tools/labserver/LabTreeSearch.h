#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>

#include "LabSearchMode.h"

// The "tree" way of spreading searches, as a real network does it: the
// server proposes a parent to each client (code 102) and hands searches
// (code 93) only to clients without a parent, the searcher included, which
// pass them down to their children. Which client has a parent the clients
// report themselves (71).
//
// The shape is the server's: every user gets a rank at its first login of
// the server's run, and a client is only ever proposed clients of lower rank,
// so no proposal can close a cycle. Among those it gets the shallowest
// client that still has room for children, which fills the tree level by
// level. One parent is proposed at a time, so the server knows whom each
// client went to; a client whose proposed parent is gone, or which reports
// that it lost its parent, gets the next best it was not offered before.
class LabTreeSearch : public LabSearchMode
{
public:
    // Children per parent before the next level is used.
    static constexpr std::size_t FanOut = 2;

    void Relay(const LabSession& searcher, unsigned int token, const std::string& text,
               const Online& online) override;
    void LoggedIn(LabSession& session, const Online& online) override;
    void LoggedOut(LabSession& session, const Online& online) override;
    void PortsAnnounced(LabSession& session, const Online& online) override;
    void HasParent(LabSession& session, bool hasParent, const Online& online) override;

private:
    struct Member
    {
        unsigned int m_rank = 0;
        bool m_hasParent = false;
        // The parent proposed last; the one the client went to, as far as we know.
        std::string m_parent;
        // Everyone proposed since the login: the client tries each user once.
        std::set<std::string> m_offered;
    };

    // Proposes a parent to every client that needs one, lowest rank first.
    void ProposeParents(const Online& online);
    bool NeedsParent(const Member& member, const Online& online) const;
    const LabSession* BestParentFor(const std::string& user, const Online& online) const;
    std::size_t ChildrenOf(const std::string& user, const Online& online) const;
    std::size_t DepthOf(const std::string& user, const Online& online) const;
    void Propose(LabSession& session, const LabSession& parent);

    std::map<std::string, Member> m_members;
    unsigned int m_nextRank = 0;
};
