#pragma once
// The program's SECS-I port: the driver plus sending what a codec holds.
#include "CVeltSecsI.h"

#include <string>

namespace tovik {

class CHVeltSecsII;

class CHVeltSecsI : public CVeltSecsI {
    Q_OBJECT
public:
    explicit CHVeltSecsI(QObject* parent = nullptr) : CVeltSecsI(parent) {}

    void SendFromCodec(CHVeltSecsII& codec);
};

} // namespace tovik
