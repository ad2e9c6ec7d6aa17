#include "LabFlatSearch.h"

#include "LabSession.h"

void LabFlatSearch::Relay(const LabSession& searcher, unsigned int token, const std::string& text,
                          const Online& online)
{
    const auto message = EmbeddedSearch(searcher.User(), token, text);
    for (const auto& [user, session] : online) {
        if (session != &searcher)
            session->SendMessage(message);
    }
}
