#pragma once
// The program's codec: item lookup, SML loading, control-message test and the
// builders of the standard stream 1, 2 and 9 messages. Builders load their
// message into this instance; the Format* operations only return list entries.
#include "CVeltSecsII.h"

#include <cstdint>
#include <ctime>
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

    virtual void BuildS9(int function, const std::string& headerHex);
    virtual void BuildS1F1();
    virtual void BuildS1F2(const std::string& model, const std::string& revision);
    virtual void BuildS1F3(const std::string& statusVariables);
    virtual void BuildS1F4(const std::string& statusValues);
    virtual void BuildS1F13(const std::string& model, const std::string& revision);
    virtual void BuildS1F14(const std::string& model, const std::string& revision);
    virtual void BuildS2F15(const std::string& constants);
    virtual std::string FormatU4Pair(uint32_t first, uint32_t second);
    virtual void BuildS2F31(const std::string& time);
    virtual void BuildS2F32(uint8_t ack);
    virtual void BuildS2F33(uint32_t dataId, const std::string& reports);
    virtual std::string FormatU4List(uint32_t id, const std::string& list);
    virtual void BuildS2F34(uint8_t ack);
    virtual void BuildS2F35(uint32_t dataId, const std::string& links);
    virtual void BuildS2F36(uint8_t ack);
    virtual void BuildS2F37(bool enable, const std::string& events);
    virtual void BuildS2F38(uint8_t ack);
    virtual void BuildS2F41(const std::string& command, const std::string& parameters);
    virtual std::string FormatNameU1(const std::string& name, uint8_t code);
    virtual std::string FormatNameItem(const std::string& name, const std::string& item);
    virtual void BuildS2F42(uint8_t ack, const std::string& parameterAcks);

    // The twelve digits BuildS2F31 writes for a time: yymmddhhmmss.
    static std::string TimeText(const std::tm& time);

private:
    // Secondary builders take the system bytes of the message they hold.
    void loadReply(const std::string& sml);
};

} // namespace tovik
