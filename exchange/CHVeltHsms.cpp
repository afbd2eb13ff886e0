#include "CHVeltHsms.h"

#include "CHVeltSecsII.h"

namespace tovik {

void CHVeltHsms::SendFromCodec(CHVeltSecsII& codec) {
    if (!codec.GetHsmsFormat()) {
        // The SECS-I R-bit tells the direction on the line; on HSMS bytes
        // 0-1 are the session id, which has no such bit.
        codec.SetSessionID(codec.GetSessionID() & 0x7fff);
        codec.SetPType(0);
        codec.SetSType(0);
    }
    SendHex(QString::fromLatin1(codec.GetHexMessage()));
}

void CHVeltHsms::SendFromCodec(CHVeltSecsII& codec, const std::string& hex) {
    if (!codec.GetHsmsFormat()) {
        SendFromCodec(codec);
        return;
    }
    SendHex(QString::fromLatin1(hex));
}

} // namespace tovik
