#include "MsgDecode.h"

#include "CHVeltSecsII.h"

namespace tovik {

void DecodeStreamFunction(CHOneMsg& msg, CHVeltSecsII& scratch) {
    if (msg.m_bStructure)
        scratch.SetSml(msg.m_strText);
    else
        scratch.SetHexMessage(msg.m_strText);
    msg.m_nStream = static_cast<uint16_t>(scratch.GetStream());
    msg.m_nFunction = static_cast<uint16_t>(scratch.GetFunction());
    msg.m_strLoadError = scratch.GetLastError();
}

} // namespace tovik
