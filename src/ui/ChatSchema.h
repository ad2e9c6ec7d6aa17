#pragma once

// The store types the chat and user list forms tie their widgets to. None
// is saved: they stand for live widgets. Both functions may be called any
// number of times; the forms call them from their constructors, so the
// types exist whenever a form does.
namespace ChatSchema {
// Needs the base schema of users and rooms.
void DeclareSchema();
// The event tool bar's own types; needs nothing else.
void DeclareEventTypes();
} // namespace ChatSchema
