#pragma once
// The sessions by printer handle. Sessions are shared: a request or a delivery that found one
// keeps it alive even if it is removed meanwhile. findOrCreate makes looking up and inserting a
// new handle one step, so two connections opening the same new handle get one session. Any
// thread; one lock guards the map, another serialises the construction of new sessions.
#include "core/sessions/Printer.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class PrinterTable {
public:
    using Creator = std::function<std::shared_ptr<Printer>()>;

    std::shared_ptr<Printer> find(uint32_t handle) const;
    // The session under handle, or the one creator makes (inserted when not null). Creation
    // runs under the creation lock only; creator may raise, and nothing is inserted then.
    std::shared_ptr<Printer> findOrCreate(uint32_t handle, const Creator& creator);
    // Replaces any session under the handle.
    void insert(uint32_t handle, const std::shared_ptr<Printer>& printer);
    // Removes the session if it is still the one given (another may have replaced it).
    void erase(uint32_t handle, const std::shared_ptr<Printer>& printer);
    // Empties the table; exchanges still waiting on a removed session end at once with 995.
    void destroyAll();
    size_t size() const;
    // Sessions made without a port.
    size_t countWithoutPort() const;

    // The first session, in handle order, whose DEVICEPATH equals path without regard to case
    // (path is upper-cased in place).
    std::shared_ptr<Printer> findByDevicePath(std::string& path) const;
    void suspendAll();
    void resumeAll();
    // 1.
    uint32_t undockAll();

private:
    std::map<uint32_t, std::shared_ptr<Printer>> snapshot() const;

    mutable std::mutex tableLock_;
    std::mutex creationLock_;
    std::map<uint32_t, std::shared_ptr<Printer>> printers_;
};
