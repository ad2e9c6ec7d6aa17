#pragma once

// The forms the main window hosts in its room and private-chat tabs. The
// window needs of them only: construction from the room or user name and a
// parent; Init() on a room form (after it is in its tab); AddChat(text) and
// Focus() on a chat form.
#include "ui/ChatForm.h"
#include "ui/RoomForm.h"

using RoomFormClass = RoomForm;
using ChatFormClass = ChatForm;
