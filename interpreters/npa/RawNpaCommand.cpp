#include "interpreters/npa/RawNpaCommand.h"

RawNpaCommand::RawNpaCommand(const std::string& text) : NpaCommand(text) {
    name_ = kCommandName;
}

RawNpaCommand::~RawNpaCommand() = default;

Command* RawNpaCommand::Clone(const std::string& text) const {
    return new RawNpaCommand(text);
}
