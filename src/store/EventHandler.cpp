#include "EventHandler.h"

#include "DataHandler.h"

EventHandlerRoot::~EventHandlerRoot()
{
    if (m_owner)
        m_owner->Forget(this);
}
