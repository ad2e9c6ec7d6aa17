#include "LabSearchMode.h"

#include "dnet/DNetMessages.h"
#include "streams/MemStream.h"

ServerMessages::FromServer::DNetMessage
LabSearchMode::EmbeddedSearch(const std::string& user, unsigned int token, const std::string& text)
{
    DNetMessages::SearchRequest request;
    request.m_user = user;
    request.m_token = token;
    request.m_text = text;
    MemStream embedded;
    request.Write(embedded);
    ServerMessages::FromServer::DNetMessage message;
    message.m_embedded.assign(embedded.GetBuffer(), embedded.GetBufferLength());
    return message;
}
