#include "CHVeltSecsI.h"

#include "CHVeltSecsII.h"
#include "qbytetext.h"

namespace tovik {

void CHVeltSecsI::SendFromCodec(CHVeltSecsII& codec) { SendMessage(asByteArray(codec.GetMessage())); }

} // namespace tovik
