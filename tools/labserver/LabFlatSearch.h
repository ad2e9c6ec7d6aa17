#pragma once

#include <map>
#include <string>

class LabSession;

// The "flat" way of spreading searches: every search goes straight to every
// other logged-in client, wrapped as the search request a parent would pass
// down the distributed tree. Nobody needs a parent for it, which keeps small
// lab networks working before any tree has formed.
class LabFlatSearch
{
public:
    // online: the logged-in sessions by user name.
    void Relay(const LabSession& searcher, unsigned int token, const std::string& text,
               const std::map<std::string, LabSession*>& online) const;
};
