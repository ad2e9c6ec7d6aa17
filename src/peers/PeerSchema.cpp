#include "peers/PeerSchema.h"

#include "peers/PeerTypes.h"
#include "server/ServerTypes.h"
#include "store/Data.h"

namespace PeerSchema {

void DeclareSchema()
{
    using namespace PeerTypes;

    Type* uninitializedSocket = d.NewType(UninitializedSocket, true, false, false);
    Type* peerSocket = d.NewType(PeerSocket, true, false, false);
    Type* connectionOpenTime = d.NewType(ConnectionOpenTime, false, false, true);
    Type* lastActivityTime = d.NewType(LastActivityTime, true, false, true);
    Type* isObfuscated = d.NewType(IsObfuscated, false, true, true);
    Type* request = d.NewType(PeerConnectionRequest, true, true, false);
    Type* requestId = d.NewType(PeerConnectionRequestId, false, false, true);
    Type* connectionType = d.NewType(PeerConnectionType, false, false, true);
    Type* requestSocket = d.NewType(PeerConnectionRequestSocket, true, false, false);
    Type* userAddress = d.NewType(UserAddress, false, false, true);
    Type* userPort = d.NewType(UserPort, false, false, true);
    Type* userObfuscatedPort = d.NewType(UserObfuscatedPort, false, false, true);
    Type* socketCreationTime = d.NewType(SocketCreationTime, false, false, true);
    Type* attempt = d.NewType(ConnectToPeerRequest, true, true, true);
    Type* attemptStatus = d.NewType(ConnectToPeerRequestStatus, false, false, true);
    Type* attemptSocket = d.NewType(ConnectToPeerRequestSocket, true, false, true);
    Type* indirectAttempt = d.NewType(IndirectConnectToPeerRequest, true, false, true);
    Type* sendTime = d.NewType(SendTime, false, false, true);
    Type* user = d.GetType(ServerTypes::User);

    // The scrambled-mode marker is one shared flag item, like every flag.
    uninitializedSocket->RelateToType(isObfuscated, MANY, ONE, false);
    // Accepted sockets get a deadline for their first frame.
    uninitializedSocket->RelateToType(socketCreationTime, MANY, ONE, false);

    // A user may have any number of messaging connections, each to one user;
    // each connection has its own activity clock.
    peerSocket->RelateToType(user, MANY, ONE, false);
    peerSocket->RelateToType(connectionOpenTime, MANY, ONE, false);
    peerSocket->RelateToType(lastActivityTime, ONE, ONE, false);
    peerSocket->RelateToType(isObfuscated, MANY, ONE, false);

    // A server-brokered request is answered by at most one socket of ours.
    request->RelateToType(requestId, MANY, ONE, false);
    request->RelateToType(connectionType, MANY, ONE, false);
    request->RelateToType(user, MANY, ONE, false);
    request->RelateToType(isObfuscated, MANY, ONE, false);
    request->RelateToType(requestSocket, ONE, ONE, false);
    requestSocket->RelateToType(socketCreationTime, MANY, ONE, false);

    // One address and one port of each kind per user.
    user->RelateToType(userAddress, MANY, ONE, false);
    user->RelateToType(userPort, MANY, ONE, false);
    user->RelateToType(userObfuscatedPort, MANY, ONE, false);

    // An attempt holds one status, at most one direct socket and at most one
    // indirect request at a time.
    attempt->RelateToType(attemptStatus, MANY, ONE, false);
    attempt->RelateToType(attemptSocket, ONE, ONE, false);
    attempt->RelateToType(user, MANY, ONE, false);
    attempt->RelateToType(connectionType, MANY, ONE, false);
    attempt->RelateToType(indirectAttempt, ONE, ONE, false);

    attemptSocket->RelateToType(socketCreationTime, MANY, ONE, false);
    attemptSocket->RelateToType(user, MANY, ONE, false);
    attemptSocket->RelateToType(connectionType, MANY, ONE, false);
    attemptSocket->RelateToType(isObfuscated, MANY, ONE, false);

    indirectAttempt->RelateToType(sendTime, MANY, ONE, false);
    indirectAttempt->RelateToType(user, MANY, ONE, false);
    indirectAttempt->RelateToType(connectionType, MANY, ONE, false);
}

} // namespace PeerSchema
