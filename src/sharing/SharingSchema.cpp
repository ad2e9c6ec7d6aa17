#include "sharing/SharingSchema.h"

#include "search/SearchTypes.h"
#include "server/ServerTypes.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"
#include "store/DataSaver.h"

namespace SharingSchema {

namespace {

void DeclareIndex(DataSaver& saver)
{
    using namespace SharingTypes;
    using namespace SearchTypes;

    Type* root = d.NewType(SharedFolder, true, false, true);
    Type* file = d.NewType(SharedFile, false, true, true);
    Type* name = d.NewType(SharedFileName, false, false, true);
    Type* lowerName = d.NewType(SharedFileLowercaseName, false, false, true);
    Type* folder = d.NewType(SharedFileFolder, false, false, true);
    Type* lowerFolder = d.NewType(SharedFileFolderLowercaseName, false, false, true);
    Type* size = d.NewType(SharedFileSize, false, false, true);
    Type* isPublic = d.NewType(SharedPublic, false, true, true);
    Type* userlist = d.NewType(SharedUserlist, false, true, true);
    Type* scanned = d.NewType(IsScanned, false, true, true);
    Type* token = d.NewType(SearchToken, false, false, true);
    Type* unshared = d.NewType(Unshared, false, true, true);

    // A directory may lie under more than one root.
    root->RelateToType(folder, MANY, MANY, false);
    file->RelateToType(folder, MANY, ONE, false);
    folder->RelateToType(lowerFolder, MANY, ONE, false);
    file->RelateToType(name, MANY, ONE, false);
    name->RelateToType(lowerName, MANY, ONE, false);
    file->RelateToType(size, MANY, ONE, false);
    root->RelateToType(isPublic, MANY, ONE, false);
    root->RelateToType(userlist, MANY, ONE, false);
    root->RelateToType(d.GetType(ServerTypes::UserListGroup), MANY, MANY, false);
    token->RelateToType(file, MANY, MANY, false);
    for (const char* attribute : {MpegVersion, ChannelMode, AudioFrequency, BitrateMode, Bitrate})
        file->RelateToType(d.GetType(attribute), MANY, ONE, false);
    file->RelateToType(scanned, MANY, ONE, false);
    d.GetType(ServerTypes::User)->RelateToType(unshared, MANY, ONE, false);

    // The token index and the lower-case forms are rebuilt at start-up, so
    // only the files themselves and what the scanner found are kept: each
    // step down from a root is saved only while it hangs on the step above.
    // The attribute values are shared with search results and browsed
    // shares, so saving them whole would put strangers' bitrates into the
    // snapshot.
    for (const char* saved : {SharedFolder, IsScanned, Unshared})
        saver.AddSavedType(saved);
    for (const char* underRoot : {SharedPublic, SharedUserlist, SharedFileFolder})
        saver.AddSavedByConnectionType(underRoot, SharedFolder);
    saver.AddSavedByConnectionType(SharedFile, SharedFileFolder);
    for (const char* property : {SharedFileName, SharedFileSize, MpegVersion, ChannelMode,
                                 AudioFrequency, BitrateMode, Bitrate})
        saver.AddSavedByConnectionType(property, SharedFile);
    saver.AddSavedByConnectionType(ServerTypes::User, Unshared);
}

void DeclareBrowsedShares()
{
    using namespace SharingTypes;
    using namespace SearchTypes;

    Type* share = d.NewType(UserShare, true, true, true);
    Type* loaded = d.NewType(UserShareLoaded, false, true, true);
    Type* folder = d.NewType(UserShareFolder, false, true, true);
    Type* parent = d.NewType(UserShareFolderParent, false, true, true);
    Type* child = d.NewType(UserShareFolderChild, false, true, true);
    Type* folderName = d.NewType(UserShareFolderName, false, false, true);
    Type* file = d.NewType(UserShareFile, false, true, true);
    Type* fileName = d.NewType(UserShareFileName, false, false, true);
    Type* fileSize = d.NewType(UserShareFileSize, false, false, true);

    // A listing owns its folders, a folder its files and link items, so
    // removing a listing and collecting garbage takes all of it away.
    share->RelateToType(d.GetType(ServerTypes::User), ONE, ONE, false);
    share->RelateToType(loaded, MANY, ONE, false);
    share->RelateToType(folder, ONE, MANY, true);
    folder->RelateToType(folderName, MANY, ONE, false);
    folder->RelateToType(file, ONE, MANY, true);
    folder->RelateToType(parent, ONE, ONE, true);
    folder->RelateToType(child, ONE, MANY, true);
    parent->RelateToType(child, ONE, ONE, false);
    file->RelateToType(fileName, MANY, ONE, false);
    file->RelateToType(fileSize, MANY, ONE, false);
    for (const char* attribute : {BitrateMode, Bitrate, LengthSeconds})
        file->RelateToType(d.GetType(attribute), MANY, ONE, false);
}

} // namespace

void DeclareSchema(DataSaver& saver)
{
    DeclareIndex(saver);
    DeclareBrowsedShares();
}

} // namespace SharingSchema
