#pragma once
// "getPrinterLanguage": asks for the printer's current language. DecodeReply writes
// PrinterLanguage (reply byte 23); 0, 1629 for a packet that does not answer the request, 11 for
// a reply that ends before byte 23.
#include "interpreters/npa/NpaCommand.h"

class GetPrinterLanguageNpaCommand : public NpaCommand {
public:
    static constexpr const char* kCommandName = "getPrinterLanguage";

    GetPrinterLanguageNpaCommand();
    ~GetPrinterLanguageNpaCommand() override;
    // The fixed request; text is not read.
    Command* Clone(const std::string& text) const override;
    uint32_t DecodeReply(const Data& reply) override;
};
