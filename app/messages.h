// The user's texts, loaded from the string table into a small ring so that
// a caption and a message can be held at once and nothing is ever freed.
#ifndef ZELK_MESSAGES_H
#define ZELK_MESSAGES_H

#include "platform/platform.h"
#include "resources/strings.h"

enum { MESSAGE_RING_SLOTS = 5, MESSAGE_TEXT_SIZE = 200 };

// Where the texts are loaded from; the entry sets it before anything else.
void SetMessageInstance(HINSTANCE instance);

// The text with that id, valid until five further calls; empty when the
// table has no such text.
const char *MessageText(int id);

#endif
