#pragma once
// The load hooks of an interpreter plug-in: after the first load of its module
// "InterpreterInitialize" must return 0, before the last unload "InterpreterUninitialize" runs.
// Used as BasicDll<InterpreterDllHandler>, under the module lock.
#include "export/common/BasicDll.h"

class InterpreterDllHandler {
public:
    // Raises Win32Exception "Unable to initialize DLL=<file>" when the export is missing or
    // returns non-zero.
    void onFirstLoad(BasicDll<InterpreterDllHandler>& dll);
    // A plug-in without the export is freed all the same.
    void onLastUnload(BasicDll<InterpreterDllHandler>& dll);
};

using InterpreterDll = BasicDll<InterpreterDllHandler>;
