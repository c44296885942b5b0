#pragma once
// Receives what a Subject delivers. The hooks do nothing here; derived classes override the ones
// they need. An observer records the subjects it attached itself to; the destructor does not
// detach (owners detach before they go). Portable.
#include "export/common/Data.h"

#include <cstdint>
#include <list>

class Subject;

class Observer {
public:
    Observer();
    virtual ~Observer();
    Observer(const Observer&) = delete;
    Observer& operator=(const Observer&) = delete;

    virtual void onCodeAndPointer(int32_t code, void* pointer);
    virtual void onCodeAndValue(int32_t code, uint64_t value);
    virtual void onValue(uint64_t value);
    virtual void onPointer(void* pointer);
    // A packet cut from the subject's stream; valid for the call only.
    virtual void onData(Data* packet);

protected:
    std::list<Subject*> subjects_;
};
