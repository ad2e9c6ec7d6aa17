#pragma once

#include <cstdint>

#include <QByteArray>

#include "FramedSocket.h"

// A raw client of the lab server.
class LabTestClient : public FramedSocket
{
public:
    // True when the login succeeded and the welcome messages followed.
    bool LogIn(const QByteArray& user, const QByteArray& password = "secret");
    // Nothing else is on its way: a privileges request is answered next.
    bool NothingElsePending();
};

// The code at the head of a body (0 for a body too short to have one).
std::uint32_t CodeOf(const QByteArray& body);
