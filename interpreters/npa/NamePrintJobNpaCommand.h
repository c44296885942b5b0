#pragma once
// "namePrintJob": tells the printer who sends the job named by JobId, as the job string
// "HT:<KeyHostName>;UR:<UserName>;SC:TCP 9400;JN:<JobName>;QU:<QueueName>;AN:<AccountNumber>;"
// (absent strings are empty). A job string too long for the packet's 16-bit length field gives a
// command without bytes, which is refused rather than sent with a header that lies. DecodeReply
// returns 0 for any packet without decoding anything.
#include "interpreters/npa/NpaCommand.h"

class NamePrintJobNpaCommand : public NpaCommand {
public:
    static constexpr const char* kCommandName = "namePrintJob";

    // An empty text leaves the bare template.
    explicit NamePrintJobNpaCommand(const std::string& text = std::string());
    ~NamePrintJobNpaCommand() override;
    Command* Clone(const std::string& text) const override;
    uint32_t DecodeReply(const Data& reply) override;
};
