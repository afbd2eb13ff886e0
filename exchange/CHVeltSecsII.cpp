#include "CHVeltSecsII.h"

namespace tovik {

std::string CHVeltSecsII::GetItemValue(const std::string& path) {
    SetItemPath(path);
    if (GetItemFound() == 0)
        return {};
    return GetItemValue();
}

void CHVeltSecsII::SetSml(const std::string& text) {
    SetSmlText(text);
}

bool CHVeltSecsII::IsControlMessage() {
    return GetHsmsFormat() && GetDevice() == 32767 && GetStream() == 0 && GetFunction() == 0;
}

} // namespace tovik
