// Open-transaction lists fed with arbitrary texts: a primary, then received
// messages matched against it, with the codec decoding S9 reports on the way.
// Input: a control byte, then texts separated by '|', each used as is (so
// short, odd-length and non-hex texts come through too).
#include "CHMsgHeader.h"
#include "CHPrimaryMsg.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 1 << 16)
        return 0;
    const uint8_t control = data[0];
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<std::string_view> texts;
    std::size_t at = 0;
    while (at <= input.size()) {
        const std::size_t bar = input.find('|', at);
        const std::size_t end = bar == std::string_view::npos ? input.size() : bar;
        texts.push_back(input.substr(at, end - at));
        at = end + 1;
    }

    tovik::CHVeltSecsII codec;
    tovik::CHPrimaryMsgList list;
    list.Codec = &codec;
    list.Timeout = control;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const tovik::CHMsgHeader h(texts[i]);
        (void)h;
        if (i == 0 || (control & 1))
            list.AddPrimary(texts[i]);
        list.FindAnswered(texts[i], (control & 2) != 0);
        if (control & 4)
            list.RemoveAnswered(texts[i]);
        if (tovik::CHPrimaryMsg* r = list.FindExpired(control * 100u))
            list.RemoveRecord(r);
    }
    list.RemoveAll();
    return 0;
}
