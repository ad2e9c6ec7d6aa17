#pragma once

#include <string>

#include <QObject>
#include <QTimer>

#include "store/ItemPtr.h"

class DataSaver;

// Re-sends the user's wish-list searches for as long as the client runs,
// one per period. The server sets the period and may change it at any time;
// until it has sent one nothing goes out. Each send takes the next of the
// enabled entries in alphabetical order, so adding or enabling an entry
// shifts the ones after it. The position lives in the run-time setting
// "wish_list_search_index" and starts at 0 in every run.
//
// Results come back like those of any other search; the search page opens
// a tab for them.
class WishListSearcher : public QObject
{
    Q_OBJECT

public:
    WishListSearcher();
    ~WishListSearcher() override;
    WishListSearcher(const WishListSearcher&) = delete;
    WishListSearcher& operator=(const WishListSearcher&) = delete;

    // The entries and their enabled marker, both saved. Declared before the
    // snapshot is read, so saved entries load into them.
    static void DeclareSchema(DataSaver& saver);

    // Entries as the user keeps them. Adding returns a null handle when the
    // text is empty or already an entry; new entries are enabled.
    static ItemPtr AddEntry(const std::string& text);
    static ItemPtr FindEntry(const std::string& text);
    static void SetEnabled(ItemPtr entry, bool enabled);
    static bool IsEnabled(ItemPtr entry);

    const QTimer& SearchTimer() const { return m_searchTimer; }

public slots:
    // The period in milliseconds; every new one restarts the timer.
    void OnWishListWait(unsigned int waitPeriod);
    void OnSearchTimerTimeout();

private:
    QTimer m_searchTimer;
};

extern WishListSearcher* wishListSearcher;
