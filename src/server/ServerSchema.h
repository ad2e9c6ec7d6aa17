#pragma once

class DataSaver;

// The base schema of users, rooms and the user list. Declared once at start-up,
// before the snapshot is loaded and before any manager registers a handler on
// these types.
namespace ServerSchema {
void DeclareSchema(DataSaver& saver);
}
