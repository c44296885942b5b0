#pragma once
// The all-in-one lock family: "aioLock", "aioSwathLock" and "aioLegacyLock" ask the printer for
// its scan lock and decode AioLocked (1 only for the exact 9-byte grant E0 82 02 <kind> 00, 0 for
// any other answer); "aioUnlock" releases it and decodes nothing. DecodeReply of the locks: 0, or
// 1629 for a packet that does not answer the request.
#include "interpreters/npa/NpaCommand.h"

class AioLockNpaCommand : public NpaCommand {
public:
    static constexpr const char* kCommandName = "aioLock";

    AioLockNpaCommand();
    ~AioLockNpaCommand() override;
    Command* Clone(const std::string& text) const override;
    uint32_t DecodeReply(const Data& reply) override;
};

class AioSwathLockNpaCommand : public NpaCommand {
public:
    static constexpr const char* kCommandName = "aioSwathLock";

    AioSwathLockNpaCommand();
    ~AioSwathLockNpaCommand() override;
    Command* Clone(const std::string& text) const override;
    uint32_t DecodeReply(const Data& reply) override;
};

class AioLegacyLockNpaCommand : public NpaCommand {
public:
    static constexpr const char* kCommandName = "aioLegacyLock";

    AioLegacyLockNpaCommand();
    ~AioLegacyLockNpaCommand() override;
    Command* Clone(const std::string& text) const override;
    uint32_t DecodeReply(const Data& reply) override;
};

class AioUnlockNpaCommand : public NpaCommand {
public:
    static constexpr const char* kCommandName = "aioUnlock";

    AioUnlockNpaCommand();
    ~AioUnlockNpaCommand() override;
    Command* Clone(const std::string& text) const override;
};
