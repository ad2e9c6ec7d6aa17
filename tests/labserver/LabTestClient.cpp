#include "LabTestClient.h"

#include "Bytes.h"

bool LabTestClient::LogIn(const QByteArray& user, const QByteArray& password)
{
    Send(LoginBody(user, password));
    const QByteArray answer = Next();
    if (answer.size() < 5 || CodeOf(answer) != 1 || answer[4] != 1)
        return false;
    // Wish-list period, the two parent figures, the privileged users.
    for (std::uint32_t code : {104u, 83u, 84u, 69u}) {
        if (CodeOf(Next()) != code)
            return false;
    }
    return true;
}

bool LabTestClient::NothingElsePending()
{
    Send(Body(92));
    return CodeOf(Next()) == 92;
}

std::uint32_t CodeOf(const QByteArray& body)
{
    return body.size() < 4 ? 0 : UInt32At(body, 0);
}
