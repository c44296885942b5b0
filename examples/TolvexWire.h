/*
 * TolvexWire.h - the pipe code the two example programs share: building a request payload,
 * reading the parameters of a reply, moving frames over an overlapped pipe handle within a
 * deadline, and one call to the service with the busy-pipe retry. C and Win32 only, beside
 * include/TolvexProtocol.h; copy it into a client of your own as it is.
 */
#ifndef TOLVEX_WIRE_H
#define TOLVEX_WIRE_H

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include "TolvexProtocol.h"

/* A payload under construction or received. failed is set when memory ran out; every later
 * add does nothing, and sending such a message fails with ERROR_NOT_ENOUGH_MEMORY. */
typedef struct TvMessage {
    uint8_t *data;
    uint32_t size;
    uint32_t capacity;
    int failed;
} TvMessage;

/* An empty payload (tvBegin starts one with a function id); tvFree gives its memory back. */
void tvInit(TvMessage *message);
void tvBegin(TvMessage *message, uint32_t functionId);
void tvAddLong(TvMessage *message, uint32_t direction, uint32_t value);
void tvAddString(TvMessage *message, uint32_t direction, const char *text);
void tvAddBytes(TvMessage *message, uint32_t direction, const uint8_t *bytes, uint32_t n);
void tvFree(TvMessage *message);

/* Reads a payload front to back. Each call returns 0, or ERROR_BAD_LENGTH when the payload ends
 * inside what was asked for, or ERROR_INVALID_DATA when the parameter has another direction or
 * type; the reader does not move then. */
typedef struct TvReader {
    const uint8_t *data;
    uint32_t size;
    uint32_t at;
} TvReader;

void tvReader(TvReader *reader, const TvMessage *message);
DWORD tvReadId(TvReader *reader, uint32_t *functionId);
DWORD tvReadLong(TvReader *reader, uint32_t direction, uint32_t *value);
/* A string or byte array: value points into the payload, length counts its bytes (a string's
 * zero included). */
DWORD tvReadValue(TvReader *reader, uint32_t direction, uint32_t type, const uint8_t **value, uint32_t *length);

/* Milliseconds left until deadline (a GetTickCount64 time), 0 once it has passed. */
DWORD tvRemaining(ULONGLONG deadline);

/* One frame over an overlapped pipe handle, all before deadline. stop (may be NULL) ends the
 * wait with ERROR_OPERATION_ABORTED. 0, ERROR_TIMEOUT, or the system's code (109 when the other
 * end closed). tvReadFrame refuses a frame declaring more than maxPayload bytes. */
DWORD tvWriteFrame(HANDLE pipe, const TvMessage *payload, ULONGLONG deadline, HANDLE stop);
DWORD tvReadFrame(HANDLE pipe, TvMessage *payload, uint32_t maxPayload, ULONGLONG deadline, HANDLE stop);
/* Waits until the other end closes the pipe (a read that ends with 109): 0, ERROR_TIMEOUT, or
 * ERROR_INVALID_DATA when it sends something instead. */
DWORD tvWaitForClose(HANDLE pipe, ULONGLONG deadline, HANDLE stop);

/* One request to the service at pipePath and its reply, within timeoutMs: opens the pipe with
 * TOLVEX_CLIENT_PIPE_ACCESS, retrying while every instance is busy or the service answers
 * TOLVEX_ERROR_PIPE_BUSY, then writes request and reads the reply. 0 with reply filled; the
 * system's code when the pipe cannot be opened (2: the service is not running); ERROR_TIMEOUT
 * when the time ran out, also busy throughout; 109 when the service closed without a reply. */
DWORD tvCall(const char *pipePath, const TvMessage *request, TvMessage *reply, DWORD timeoutMs);

/* The return code of a reply to functionId: 0 with *code set, or ERROR_INVALID_DATA when the
 * reply does not echo the id or has no return code (the service refused a parameter). The
 * reader is left after the return code. */
DWORD tvReplyCode(TvReader *reader, const TvMessage *reply, uint32_t functionId, uint32_t *code);

#endif /* TOLVEX_WIRE_H */
