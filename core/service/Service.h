#pragma once
// The Windows service: one per process, named at creation and never renamed. Its state (name,
// status record, status handle, start and stop routines) is process-wide and outlives the
// teardown of the service environment, so the final "stopped" report still reaches the service
// control manager after the stop routine has torn everything down. The lifecycle handlers run
// on the dispatcher's threads, one control at a time. Windows only.
#include "runtime/Exception.h"
#include "runtime/Win32.h"

#include <cstdint>
#include <functional>
#include <string>

class Service {
public:
    // Raise Exception on failure. The start routine starts the client side; the stop routine
    // stops it and tears the service environment down.
    using Routine = std::function<void()>;

    static constexpr DWORD kServiceSpecificError = ERROR_SERVICE_SPECIFIC_ERROR;  // 1066
    // How long the service control manager is told a stop may take.
    static constexpr DWORD kStopWaitHintMilliseconds = 20000;
    // How long Run waits, once the dispatcher has returned, for a stop handler to finish.
    static constexpr DWORD kHandlerDrainMilliseconds = 5000;

    // Creates the service object with its name once; later calls change nothing.
    static void create(const std::string& name);
    static bool exists();
    // Forgets the routines (the teardown's first step); the name, status record and status
    // handle stay for the final reports.
    static void destroy();
    static std::string name();

    static void setStartRoutine(Routine routine);
    static void setStopRoutine(Routine routine);

    // Runs the dispatcher until the service has stopped: 0, or the dispatcher's failure code
    // (1063 when started from a console).
    static uint32_t Run();

    static void OnStart();
    static void OnStop();
    static void OnShutdown();
    static void OnError(const Exception& error);

    // Placed in the dispatch table; arguments ignored.
    static void WINAPI doServiceMain(DWORD argc, LPSTR* argv);
    // Registered as the control handler: 1 stops, 5 shuts down, anything else is only logged.
    static void WINAPI doSCMHandler(DWORD control);

    // The status record as last set (and, unless noted, reported).
    static SERVICE_STATUS status();

private:
    static void stopSequence();
    // Reports stop pending (check point 1, the stop wait hint) and gives the stop routine.
    static Routine reportStopPending();
    static void report();
};
