#include "CHVeltHsms.h"

#include "CHVeltSecsII.h"
#include "qbytetext.h"

namespace tovik {

void CHVeltHsms::SendFromCodec(CHVeltSecsII& codec) {
    if (!codec.GetHsmsFormat()) {
        // The SECS-I R-bit tells the direction on the line; on HSMS bytes
        // 0-1 are the session id, which has no such bit.
        codec.SetSessionID(codec.GetSessionID() & 0x7fff);
        codec.SetPType(0);
        codec.SetSType(0);
    }
    SendMessage(asByteArray(codec.GetMessage()));
}

void CHVeltHsms::SendFromCodec(CHVeltSecsII& codec, const std::vector<uint8_t>& message) {
    if (!codec.GetHsmsFormat()) {
        SendFromCodec(codec);
        return;
    }
    SendMessage(asByteArray(message));
}

} // namespace tovik
