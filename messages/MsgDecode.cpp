#include "MsgDecode.h"

#include "CVeltSecsII.h"

namespace tovik {

void DecodeStreamFunction(CHOneMsg& msg, CVeltSecsII& scratch) {
    if (msg.m_bStructure)
        scratch.SetSmlText(msg.m_strText);
    else
        scratch.SetHexMessage(msg.m_strText);
    msg.m_nStream = static_cast<uint16_t>(scratch.GetStream());
    msg.m_nFunction = static_cast<uint16_t>(scratch.GetFunction());
    msg.m_strLoadError = scratch.GetLastError();
}

} // namespace tovik
