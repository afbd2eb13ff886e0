#pragma once
// A message body as the item tree scripts see and the control API sends:
// {type, items} for lists, {type, value} for texts, {type, values} for the
// rest, the type being the format's SML code in upper case.
#include "CVeltSecsII.h"

#include <QJsonValue>

namespace tovik {

// A codec whose decoded items can be read.
class CHScriptCodec : public CVeltSecsII {
public:
    using CVeltSecsII::message;
};

// Undefined when the loaded message has no body.
QJsonValue ItemTree(const CHScriptCodec& codec);

} // namespace tovik
