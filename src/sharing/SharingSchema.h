#pragma once

class DataSaver;

// The store types of our shares and of listings received from other users.
// Needs the base schema ("user", "user_list_group") and the audio attribute
// types of searches ("bitrate" and the others) declared first.
namespace SharingSchema {
void DeclareSchema(DataSaver& saver);
}
