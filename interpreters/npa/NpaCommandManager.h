#pragma once
// The NPA command manager: commands by name from the registered prototypes (see CommandManager),
// NPA packets from printer bytes, and the registration commands an alert mask change needs.
#include "export/common/CommandManager.h"

class NpaCommandManager : public CommandManager {
public:
    NpaCommandManager();
    ~NpaCommandManager() override;

    // A new NpaCommand holding packet's remaining bytes (command code = byte 4).
    Command* CreateFromPacket(const Data& packet) override;

    // Appends to out, in the order device status, extended, extended with language id,
    // extension, panel, the registration commands whose mask bits differ between
    // "CurrentAlertMask" (0 if absent) and "NewAlertMask", each with its packet bits set from the
    // new mask and the text's "LanguageId" applied. Commands already in out stay in front; the
    // new ones belong to this manager (DestroyList or Destroy).
    //   0   done (out may have received nothing: no class affected);
    //   87  the text has no "NewAlertMask"; out unchanged;
    //   1   a registration name is not served by an alert command (the interpreter is not
    //       initialised); out unchanged, nothing left allocated.
    uint32_t CreateAlertCommands(const std::string& text, std::list<Command*>& out) override;
};
