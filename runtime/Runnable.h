#pragma once
// What a Thread runs. run() executes on the new thread; its result becomes the thread's exit
// code. Portable: builds in both trees.
#include <cstdint>

class Runnable {
public:
    virtual ~Runnable();
    virtual uint32_t run() = 0;
};

// Runs a plain routine with a user pointer (neither is owned).
class RunnableFunction : public Runnable {
public:
    using Routine = uint32_t (*)(void* user);
    RunnableFunction(Routine routine, void* user) : routine_(routine), user_(user) {}
    uint32_t run() override { return routine_(user_); }

private:
    Routine routine_;
    void* user_;
};

// Runs a member routine of an object that outlives the thread.
template <typename T>
class RunnableMethod : public Runnable {
public:
    using Method = uint32_t (T::*)();
    RunnableMethod(T& object, Method method) : object_(&object), method_(method) {}
    uint32_t run() override { return (object_->*method_)(); }

private:
    T* object_;
    Method method_;
};
