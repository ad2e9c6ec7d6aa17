#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "streams/UserStats.h"

// Every account the lab server has seen in this run, with what the server
// remembers of it between sessions: the password, the statistics the client
// reported and the privileges granted on the command line. An account is
// created by its first login; nothing outlives the process.
class LabAccounts
{
public:
    enum class LoginResult
    {
        Created,
        Accepted,
        WrongPassword,
        InvalidName
    };

    static constexpr std::size_t MaxNameLength = 30;

    static bool IsValidName(const std::string& user);

    LoginResult Login(const std::string& user, const std::string& password);
    bool Exists(const std::string& user) const;

    // All zero for a user the server does not know.
    UserStats Stats(const std::string& user) const;
    void SetSharedCounts(const std::string& user, int folders, int files);
    // Keeps the running average of every speed the user has reported; the
    // number of reports travels as the statistics' 64-bit count.
    void AddUploadSpeed(const std::string& user, int speed);

    // Privileges are kept apart from the accounts so that they can be granted
    // before the user first logs in.
    void GrantPrivileges(const std::string& user, std::int64_t until);
    int PrivilegesLeft(const std::string& user, std::int64_t now) const;
    std::set<std::string> PrivilegedUsers(std::int64_t now) const;

private:
    struct Account
    {
        std::string m_password;
        UserStats m_stats;
        std::int64_t m_speedTotal = 0;
    };

    std::map<std::string, Account> m_accounts;
    std::map<std::string, std::int64_t> m_privilegedUntil;
};
