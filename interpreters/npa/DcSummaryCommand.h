#pragma once
// "dcSummary": asks for the device summary and decodes MaxWritePacketSize, NpaRevisionLevel,
// Manufacturer, Model and SerialNumber from it (a text that is not plain printable characters is
// left out). DecodeReply: 0; 1629 for a packet that does not answer the request; 11 for a reply
// too short to hold the summary's fields (nothing is written then).
#include "interpreters/npa/NpaCommand.h"

class DcSummaryCommand : public NpaCommand {
public:
    static constexpr const char* kCommandName = "dcSummary";

    DcSummaryCommand();
    ~DcSummaryCommand() override;
    // The fixed request; text is not read.
    Command* Clone(const std::string& text) const override;
    uint32_t DecodeReply(const Data& reply) override;
};
