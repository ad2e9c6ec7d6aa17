#pragma once

#include <memory>

#include <QString>

// Moves the calling thread into another network namespace for as long as the
// object lives; threads it starts meanwhile are born there too. Tests that
// must not reach the machine's real network (discovery multicasts) run their
// network code inside one.
class NetworkNamespace
{
public:
    ~NetworkNamespace();
    NetworkNamespace(const NetworkNamespace&) = delete;
    NetworkNamespace& operator=(const NetworkNamespace&) = delete;

    // A fresh namespace holding only a loopback interface that is down.
    // Null, with the reason in `whyNot`, where namespaces cannot be made.
    static std::unique_ptr<NetworkNamespace> EnterNew(QString& whyNot);
    // One made by `ip netns add`.
    static std::unique_ptr<NetworkNamespace> EnterNamed(const QString& name, QString& whyNot);

private:
    explicit NetworkNamespace(int previous) : m_previous(previous) {}

    int m_previous;
};
