#include "LabAccounts.h"

#include <algorithm>
#include <limits>

bool LabAccounts::IsValidName(const std::string& user)
{
    return !user.empty() && user.size() <= MaxNameLength;
}

LabAccounts::LoginResult LabAccounts::Login(const std::string& user, const std::string& password)
{
    if (!IsValidName(user))
        return LoginResult::InvalidName;
    auto found = m_accounts.find(user);
    if (found == m_accounts.end()) {
        m_accounts[user].m_password = password;
        return LoginResult::Created;
    }
    return found->second.m_password == password ? LoginResult::Accepted
                                                : LoginResult::WrongPassword;
}

bool LabAccounts::Exists(const std::string& user) const
{
    return m_accounts.contains(user);
}

UserStats LabAccounts::Stats(const std::string& user) const
{
    auto found = m_accounts.find(user);
    return found == m_accounts.end() ? UserStats() : found->second.m_stats;
}

void LabAccounts::SetSharedCounts(const std::string& user, int folders, int files)
{
    auto found = m_accounts.find(user);
    if (found == m_accounts.end())
        return;
    found->second.m_stats.m_sharedFolders = folders;
    found->second.m_stats.m_sharedFiles = files;
}

void LabAccounts::AddUploadSpeed(const std::string& user, int speed)
{
    auto found = m_accounts.find(user);
    if (found == m_accounts.end())
        return;
    Account& account = found->second;
    account.m_speedTotal += speed;
    ++account.m_stats.m_transferCount;
    account.m_stats.m_averageSpeed =
        static_cast<int>(account.m_speedTotal / account.m_stats.m_transferCount);
}

void LabAccounts::GrantPrivileges(const std::string& user, std::int64_t until)
{
    m_privilegedUntil[user] = until;
}

int LabAccounts::PrivilegesLeft(const std::string& user, std::int64_t now) const
{
    auto found = m_privilegedUntil.find(user);
    if (found == m_privilegedUntil.end() || found->second <= now)
        return 0;
    const std::int64_t left = found->second - now;
    return static_cast<int>(std::min<std::int64_t>(left, std::numeric_limits<int>::max()));
}

std::set<std::string> LabAccounts::PrivilegedUsers(std::int64_t now) const
{
    std::set<std::string> users;
    for (const auto& [user, until] : m_privilegedUntil) {
        if (until > now)
            users.insert(user);
    }
    return users;
}
