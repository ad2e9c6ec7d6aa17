#include "LabFlatSearch.h"

#include "LabSession.h"
#include "dnet/DNetMessages.h"
#include "server/ServerMessages.h"
#include "streams/MemStream.h"

using namespace ServerMessages;

namespace {

FromServer::DNetMessage EmbeddedSearch(const std::string& user, unsigned int token,
                                       const std::string& text)
{
    DNetMessages::SearchRequest request;
    request.m_user = user;
    request.m_token = token;
    request.m_text = text;
    MemStream embedded;
    request.Write(embedded);
    FromServer::DNetMessage message;
    message.m_embedded.assign(embedded.GetBuffer(), embedded.GetBufferLength());
    return message;
}

} // namespace

void LabFlatSearch::Relay(const LabSession& searcher, unsigned int token, const std::string& text,
                          const std::map<std::string, LabSession*>& online) const
{
    const FromServer::DNetMessage message = EmbeddedSearch(searcher.User(), token, text);
    for (const auto& [user, session] : online) {
        if (session != &searcher)
            session->SendMessage(message);
    }
}
