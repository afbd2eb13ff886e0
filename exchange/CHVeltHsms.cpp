#include "CHVeltHsms.h"

#include "CHVeltSecsII.h"

namespace tovik {

void CHVeltHsms::SendFromCodec(CHVeltSecsII& codec) {
    if (!codec.GetHsmsFormat()) {
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
