#include "DataHandler.h"

DataHandler::~DataHandler()
{
    RemoveDataHandlers();
    // The handlers outlive us until their events delete them; they must not
    // report back to an object that is gone.
    for (EventHandlerRoot* handler : m_handlers)
        handler->m_owner = nullptr;
}

void DataHandler::RemoveDataHandlers()
{
    for (EventHandlerRoot* handler : m_handlers)
        handler->removed = true;
}

void DataHandler::Register(EventHandlerRoot* handler)
{
    handler->m_owner = this;
    m_handlers.insert(handler);
}
