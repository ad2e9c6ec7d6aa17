#include "server/LoginFailure.h"

LoginFailure::LoginFailure(const std::string& reason)
{
    if (reason == WrongPasswordReason) {
        m_title = QString::fromUtf8(WrongPasswordTitle);
        m_text = QString::fromUtf8(WrongPasswordText);
    } else if (reason == InvalidUsernameReason) {
        m_title = QString::fromUtf8(InvalidUsernameTitle);
        m_text = QString::fromUtf8(InvalidUsernameText);
    } else {
        m_title = QString::fromUtf8(OtherTitle);
        m_text = QString::fromUtf8(OtherText).arg(QString::fromStdString(reason));
    }
}
