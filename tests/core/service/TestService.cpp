// A service program for the service tests: the real Service class with start and stop routines
// chosen on the command line.
//   tolvex_test_service.exe NAME MODE LOGPREFIX LOGSHORTNAME LOGFOLDER
// LOGFOLDER replaces %ALLUSERSPROFILE% (Wine gives services another one than the test), so
// that the service logs into the test's file.
// MODE: "normal"; "failstart" (the start routine raises once released); "failstop" (the stop
// routine raises); "holdstop" (the stop routine waits until released).
// Released: the event "Global\NAME-release" is set, or 10 s have passed (or it does not exist).
// "failstart" waits until the test has seen StartService return: a start that had already
// failed when Wine's service manager looked at its first report once ended stopped with the exit
// codes of its stop-pending report, its last report lost.
#include "core/service/Service.h"
#include "logging/LogFacade.h"
#include "runtime/UniqueHandle.h"

#include <string>

int main(int argc, char** argv) {
    if (argc < 6) return 2;
    SetEnvironmentVariableA("ALLUSERSPROFILE", argv[5]);
    const std::string name = argv[1];
    const std::string mode = argv[2];
    LogFacade::getInstance().setPrefix(argv[3]);
    LogFacade::getInstance().setShortName(argv[4]);

    const auto waitForRelease = [name] {
        const UniqueHandle release(OpenEventA(SYNCHRONIZE, FALSE, ("Global\\" + name + "-release").c_str()));
        if (release) WaitForSingleObject(release.get(), 10000);
    };
    Service::create(name);
    Service::setStartRoutine([mode, waitForRelease] {
        if (mode != "failstart") return;
        waitForRelease();
        throw Exception("test start routine failed", ERROR_PIPE_BUSY, __FILE__, __LINE__);
    });
    Service::setStopRoutine([mode, waitForRelease] {
        if (mode == "failstop") throw Exception("test stop routine failed", ERROR_ACCESS_DENIED, __FILE__, __LINE__);
        if (mode == "holdstop") waitForRelease();
        Service::destroy();
    });
    Service::Run();
    return 0;
}
