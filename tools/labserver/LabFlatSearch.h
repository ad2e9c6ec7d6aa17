#pragma once

#include "LabSearchMode.h"

// The "flat" way of spreading searches: every search goes straight to every
// other logged-in client, wrapped as the search request a parent would pass
// down the distributed tree. Nobody needs a parent for it, which keeps small
// lab networks working before any tree has formed.
class LabFlatSearch : public LabSearchMode
{
public:
    void Relay(const LabSession& searcher, unsigned int token, const std::string& text,
               const Online& online) override;
};
