#pragma once

// The store types the chat and user list forms tie their widgets to. None
// is saved: they stand for live widgets. Needs the base schema first; safe
// to call more than once, so whichever window part starts first declares.
namespace ChatSchema {
void DeclareSchema();
}
