#pragma once

#include <string>

#include <QString>

// What to tell the user when the server refuses the login: a title and a text
// for the reason the server gave. The window shows them in a message box, the
// headless node prints them.
class LoginFailure
{
public:
    static constexpr const char* WrongPasswordReason = "INVALIDPASS";
    static constexpr const char* InvalidUsernameReason = "INVALIDUSERNAME";

    static constexpr const char* WrongPasswordTitle = "Login Failure: Wrong Password";
    static constexpr const char* WrongPasswordText =
        "Login failed. The password you supplied does not match your username. Please change "
        "your login settings in the Options tab and try reconnecting.";
    static constexpr const char* InvalidUsernameTitle = "Login Failure: Username is Invalid";
    static constexpr const char* InvalidUsernameText =
        "Login failed. The username you supplied is invalid. Please change your login settings "
        "in the Options tab and try reconnecting.";
    static constexpr const char* OtherTitle = "Login Failure";
    // %1 is the reason as the server sent it.
    static constexpr const char* OtherText =
        "Login failed. Reported failure reason: %1. Please change your login settings in the "
        "Options tab and try reconnecting.";

    explicit LoginFailure(const std::string& reason);

    const QString& Title() const { return m_title; }
    const QString& Text() const { return m_text; }

private:
    QString m_title;
    QString m_text;
};
