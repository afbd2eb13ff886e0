#pragma once
// The program's HSMS port: the driver plus sending what a codec holds.
#include "CVeltHsms.h"

#include <cstdint>
#include <vector>

namespace tovik {

class CHVeltSecsII;

class CHVeltHsms : public CVeltHsms {
    Q_OBJECT
public:
    explicit CHVeltHsms(QObject* parent = nullptr) : CVeltHsms(parent) {}

    // A message loaded with a SECS-I header goes out as a data message: its
    // R-bit is cleared and header bytes 4-5 become PType 0 and SType 0 first.
    void SendFromCodec(CHVeltSecsII& codec);
    // The same for the bytes the caller already has (saves one encoding).
    void SendFromCodec(CHVeltSecsII& codec, const std::vector<uint8_t>& message);
};

} // namespace tovik
