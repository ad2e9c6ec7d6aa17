#pragma once

#include <QByteArray>
#include <QDeadlineTimer>

// A whole-share listing in preparation. Reading the store happens on the
// event loop, a slice at a time, so that a share of a million files never
// freezes the window or the connections; once the last slice is read the
// gathering moves to a worker, which makes the message of it.
class ListingGathering
{
public:
    ListingGathering() = default;
    virtual ~ListingGathering() = default;
    ListingGathering(const ListingGathering&) = delete;
    ListingGathering& operator=(const ListingGathering&) = delete;

    // On the event loop: reads on until the deadline passes (always a little,
    // so that an expired deadline still makes progress); true when done.
    virtual bool Continue(const QDeadlineTimer& deadline) = 0;
    // On any one thread, once Continue has returned true: the whole message,
    // or nothing when it cannot be written.
    virtual QByteArray Pack() = 0;
};
