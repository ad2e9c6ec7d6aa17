#pragma once

#include <string>

#include <QObject>
#include <QString>

#include "store/ItemPtr.h"

// The node's words for searching: searches typed at it, the wish list, and
// the result filter. Every result is printed as it arrives; `filter` prints
// again those of the last typed search that a filter text keeps, in the
// same form, so a script can compare the two.
class NodeSearches : public QObject
{
    Q_OBJECT

public:
    explicit NodeSearches(QObject* parent = nullptr);

    void ManagersCreated();

    void Search(const QString& text);
    // "add|remove|enable|disable TEXT"
    void Wish(const QString& actionAndText);
    void Filter(const QString& text);

private slots:
    void OnSearchRequested(unsigned int token, std::string text, bool wishList);
    void OnSearchResults(ItemPtr searchResults);

private:
    static void PrintResult(ItemPtr searchResults, ItemPtr result);

    // The token of the last search typed at the node; 0 before the first.
    unsigned int m_lastSearch = 0;
};
