#pragma once
// Stream and function of a definition come from the codec, never from our own
// reading of the text, so the list shows what would really be sent.
#include "CHOneMsg.h"

namespace tovik {

class CVeltSecsII;

// Loads the text into `scratch` (SML for a structure, hex for a dump) and
// stores the codec's stream and function in the record, whatever the codec
// reports for a text it cannot decode, and the codec's error for such a text.
void DecodeStreamFunction(CHOneMsg& msg, CVeltSecsII& scratch);

} // namespace tovik
