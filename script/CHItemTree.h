#pragma once
// A message body as the item tree scripts see and the control API sends:
// {type, items} for lists, {type, value} for texts, {type, values} for the
// rest, the type being the format's SML code in upper case.
#include "CVeltSecsII.h"

#include <QByteArray>
#include <QStringView>

namespace tovik {

// A codec whose decoded items can be read.
class CHScriptCodec : public CVeltSecsII {
public:
    using CVeltSecsII::message;
};

// Appends the loaded message's tree as compact JSON text, keys in sorted
// order; false, with nothing appended, when it has no body.
bool AppendItemTree(QByteArray& out, const CHScriptCodec& codec);
// Appends `text` as a JSON string, escaped as QJsonDocument escapes it.
void AppendJsonString(QByteArray& out, QStringView text);

} // namespace tovik
