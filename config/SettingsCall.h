#pragma once
// The boundary of every settings operation: a raised Win32Exception (or any other failure)
// becomes the operation's failure result, with its code left as the thread's last error.
#include "runtime/Exception.h"
#include "runtime/Win32.h"

#include <exception>
#include <new>

template <typename Result, typename Operation>
Result settingsCall(Result failure, Operation&& operation) {
    try {
        return operation();
    } catch (const Exception& e) {
        // A failure must never read as success, whatever code its raiser chose.
        SetLastError(e.code() != 0 ? static_cast<DWORD>(e.code()) : ERROR_INTERNAL_ERROR);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } catch (const std::exception&) {
        SetLastError(ERROR_INTERNAL_ERROR);
    }
    return failure;
}
