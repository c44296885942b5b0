#pragma once
// Creates commands by name from registered prototypes. The manager does not own the prototypes;
// it owns nothing it hands out either: every command it creates must come back through Destroy or
// DestroyList, so that it is freed on the heap of the module that made it. Registration happens
// while an interpreter initialises; afterwards the map is only read, so creation needs no lock.
//
// Binary interface: the service calls plug-in managers (ours and other makers') only through this
// virtual table, so the virtual operations keep exactly this order and these signatures.
#include "export/common/Command.h"

#include <list>
#include <map>
#include <string>

class CommandManager {
public:
    CommandManager();
    CommandManager(const CommandManager&) = delete;
    CommandManager& operator=(const CommandManager&) = delete;

    virtual ~CommandManager();                                                     // slot 0
    // Keeps prototype under its name; a name already registered keeps its first prototype.
    virtual void Register(Command* prototype);                                     // slot 1
    // A command for a packet read from a printer; here a NullCommand.
    virtual Command* CreateFromPacket(const Data& packet);                         // slot 2
    // The clone of the prototype named by "CommandName" (or "rawData" for a text that carries
    // only "Data"); a NullCommand for anything else. Never null.
    virtual Command* Create(const std::string& text);                              // slot 3
    // Fills out with the commands an alert mask change needs; here 1 (not supported).
    virtual uint32_t CreateAlertCommands(const std::string& text, std::list<Command*>& out); // slot 4
    // Deletes command (null is ignored).
    virtual void Destroy(Command* command);                                        // slot 5
    // Deletes every command in commands and empties it.
    virtual void DestroyList(std::list<Command*>& commands);                       // slot 6

private:
    std::map<std::string, Command*> prototypes_;
};

// The service's manager when no interpreter serves a printer: every request is a NullCommand.
class NullCommandManager : public CommandManager {
public:
    ~NullCommandManager() override;
    Command* Create(const std::string& text) override;
};
