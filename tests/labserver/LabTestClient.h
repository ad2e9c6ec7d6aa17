#pragma once

#include <cstdint>

#include <QByteArray>

#include "FramedSocket.h"

// A raw client of the lab server.
class LabTestClient : public FramedSocket
{
public:
    // Logs in and reads the answer and the messages that follow every
    // successful login; true when all of them came and the login succeeded.
    bool LogIn(const QByteArray& user, const QByteArray& password = "secret");
    // Proves that nothing else is on its way: asks for the own privileges and
    // checks that the very next frame is their answer.
    bool NothingElsePending();
};

// The code at the head of a body (0 for a body too short to have one).
std::uint32_t CodeOf(const QByteArray& body);
