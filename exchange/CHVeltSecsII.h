#pragma once
// The engine's codec: item lookup by path, SML loading and the HSMS
// control-message test.
#include "CVeltSecsII.h"

#include <string>

namespace tovik {

class CHVeltSecsII : public CVeltSecsII {
public:
    CHVeltSecsII() = default;
    ~CHVeltSecsII() override = default;

    using CVeltSecsII::GetItemValue;

    virtual std::string GetItemValue(const std::string& path);
    virtual void SetSml(const std::string& text);
    virtual bool IsControlMessage();
};

} // namespace tovik
