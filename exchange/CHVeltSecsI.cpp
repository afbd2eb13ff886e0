#include "CHVeltSecsI.h"

#include "CHVeltSecsII.h"

namespace tovik {

void CHVeltSecsI::SendFromCodec(CHVeltSecsII& codec) { SendFromCodec(codec.GetHexMessage()); }

void CHVeltSecsI::SendFromCodec(const std::string& hex) { SendHex(QString::fromLatin1(hex)); }

} // namespace tovik
