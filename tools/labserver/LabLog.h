#pragma once

#include <cstdint>

#include <QString>

// The lab server's diagnostics on stderr. Only --verbose turns them on: one
// line per frame in each direction and one per notable decision, so a
// developer can follow a client's conversation with the server.
class LabLog
{
public:
    static void SetVerbose(bool verbose);
    static bool IsVerbose();

    // "alice	in	code 14	length 12"
    static void Frame(const QString& client, const char* direction, std::uint32_t code, int length);
    static void Note(const QString& client, const QString& text);
    // Problems that stop the server are printed whether verbose or not.
    static void Error(const QString& text);
};
