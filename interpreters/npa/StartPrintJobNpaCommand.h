#pragma once
// "startJob": opens a print job. DecodeReply writes JobId (reply bytes 7-8, big-endian); 0, 1629
// for a packet that does not answer the request, 11 for a reply that ends before byte 8.
#include "interpreters/npa/NpaCommand.h"

class StartPrintJobNpaCommand : public NpaCommand {
public:
    static constexpr const char* kCommandName = "startJob";

    StartPrintJobNpaCommand();
    ~StartPrintJobNpaCommand() override;
    // The fixed request; text is not read.
    Command* Clone(const std::string& text) const override;
    uint32_t DecodeReply(const Data& reply) override;
};
