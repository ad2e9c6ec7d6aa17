#include "ui/ChatSchema.h"

#include "server/ServerTypes.h"
#include "store/Data.h"
#include "ui/ChatTypes.h"

namespace ChatSchema {

namespace {

Type* Declare(const char* name)
{
    if (Type* type = d.HasType(name))
        return type;
    return d.NewType(name, false, false, true);
}

void Relate(Type* a, Type* b, OneOrMany aEnd, OneOrMany bEnd)
{
    if (!a->IsRelated(b))
        a->RelateToType(b, aEnd, bEnd, false);
}

} // namespace

void DeclareSchema()
{
    using namespace ChatTypes;

    Type* user = d.GetType(ServerTypes::User);
    Type* room = d.GetType(ServerTypes::Room);
    Type* chatWidget = Declare(UserChatWidget);
    Type* roomForm = Declare(RoomForm);
    Type* listNode = Declare(UserListNode);
    Type* unsharedNode = Declare(UnsharedListNode);
    DeclareEventTypes();

    Relate(user, chatWidget, ONE, ONE);
    Relate(room, roomForm, ONE, ONE);
    Relate(user, listNode, ONE, ONE);
    Relate(user, unsharedNode, ONE, ONE);
}

void DeclareEventTypes()
{
    using namespace ChatTypes;

    Type* eventWidget = Declare(EventToolbarWidget);
    Type* eventAction = Declare(EventToolbarAction);
    Relate(eventWidget, eventAction, ONE, ONE);
}

} // namespace ChatSchema
