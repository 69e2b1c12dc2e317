#include "app/messages.h"

static HINSTANCE messageInstance;
static char messageRing[MESSAGE_RING_SLOTS][MESSAGE_TEXT_SIZE];
static int ringIndex;

void SetMessageInstance(HINSTANCE instance) { messageInstance = instance; }

const char *MessageText(int id) {
  if (++ringIndex >= MESSAGE_RING_SLOTS) ringIndex = 0;
  char *slot = messageRing[ringIndex];
  slot[0] = '\0';  // a missing text or a failed load leaves it empty
  LoadStringA(messageInstance, (UINT)id, slot, MESSAGE_TEXT_SIZE);
  return slot;
}
