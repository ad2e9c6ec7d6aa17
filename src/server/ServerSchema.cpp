#include "server/ServerSchema.h"

#include "server/ServerTypes.h"
#include "store/Data.h"
#include "store/DataSaver.h"

namespace ServerSchema {

void DeclareSchema(DataSaver& saver)
{
    using namespace ServerTypes;

    // Every type creates its item when looked up by value.
    Type* user = d.NewType(User, true, false, true);
    Type* isOnline = d.NewType(IsOnline, false, true, true);
    Type* isTracked = d.NewType(IsTracked, false, true, true);
    Type* isPrivileged = d.NewType(IsPrivileged, false, true, true);
    Type* room = d.NewType(Room, true, false, true);
    Type* roomAutojoin = d.NewType(RoomAutojoin, false, true, true);
    Type* userCount = d.NewType(UserCount, false, false, true);
    Type* inRoom = d.NewType(InRoom, false, true, true);
    Type* roomOwner = d.NewType(RoomOwner, false, true, true);
    Type* roomOperator = d.NewType(RoomOperator, false, true, true);
    Type* averageSpeed = d.NewType(AverageDownloadSpeed, false, false, true);
    Type* sharedFiles = d.NewType(SharedFilesCount, false, false, true);
    Type* countryCode = d.NewType(CountryCode, false, false, true);
    Type* inUserList = d.NewType(InUserList, false, true, true);
    Type* group = d.NewType(UserListGroup, true, false, true);
    Type* groupPriority = d.NewType(GroupDownloadPriority, false, false, true);

    user->RelateToType(isOnline, MANY, ONE, false);
    user->RelateToType(isTracked, MANY, ONE, false);
    user->RelateToType(isPrivileged, MANY, ONE, false);
    user->RelateToType(averageSpeed, MANY, ONE, false);
    user->RelateToType(sharedFiles, MANY, ONE, false);
    user->RelateToType(countryCode, MANY, ONE, false);
    user->RelateToType(inUserList, ONE, ONE, false);
    inUserList->RelateToType(group, MANY, MANY, false);
    group->RelateToType(groupPriority, MANY, ONE, false);
    room->RelateToType(user, MANY, MANY, false);
    room->RelateToType(userCount, MANY, ONE, false);
    room->RelateToType(inRoom, MANY, ONE, false);
    room->RelateToType(roomAutojoin, MANY, ONE, false);
    room->RelateToType(roomOwner, ONE, ONE, false);
    room->RelateToType(roomOperator, ONE, MANY, false);
    roomOwner->RelateToType(user, MANY, ONE, false);
    roomOperator->RelateToType(user, MANY, ONE, false);

    // Created last so that it is related to "user" after everything else.
    Type* addressRequest = d.NewType(UserAddressRequest, false, true, true);
    addressRequest->RelateToType(user, ONE, MANY, false);

    // Only the user list and the autojoin rooms outlive the run; everything
    // else is rebuilt from the server after each login. A group's download
    // priority is deliberately not saved: it lasts for the run only.
    saver.AddSavedType(RoomAutojoin);
    saver.AddSavedByConnectionType(Room, RoomAutojoin);
    saver.AddSavedType(InUserList);
    saver.AddSavedByConnectionType(User, InUserList);
    saver.AddSavedType(UserListGroup);
}

} // namespace ServerSchema
