#include "TolvexWire.h"

#include <stdlib.h>
#include <string.h>

/* ---- payloads ----------------------------------------------------------------------------- */

static void reserve(TvMessage *m, uint32_t more)
{
    uint32_t wanted;
    uint8_t *grown;
    if (m->failed) return;
    if (more > TOLVEX_MAX_PAYLOAD || m->size > TOLVEX_MAX_PAYLOAD - more) {
        m->failed = 1;
        return;
    }
    wanted = m->size + more;
    if (wanted <= m->capacity) return;
    if (wanted < 2 * m->capacity) wanted = 2 * m->capacity;
    grown = (uint8_t *)realloc(m->data, wanted);
    if (grown == NULL) {
        m->failed = 1;
        return;
    }
    m->data = grown;
    m->capacity = wanted;
}

static void putBigEndian(uint8_t *p, uint64_t value, int bytes)
{
    int i;
    for (i = bytes - 1; i >= 0; --i) {
        p[i] = (uint8_t)(value & 0xFF);
        value >>= 8;
    }
}

static uint64_t getBigEndian(const uint8_t *p, int bytes)
{
    uint64_t value = 0;
    int i;
    for (i = 0; i < bytes; ++i) value = value << 8 | p[i];
    return value;
}

static void append(TvMessage *m, const void *bytes, uint32_t n)
{
    reserve(m, n);
    if (m->failed || n == 0) return;
    memcpy(m->data + m->size, bytes, n);
    m->size += n;
}

static void addHeader(TvMessage *m, uint32_t direction, uint32_t type, uint64_t length)
{
    uint8_t header[TOLVEX_PARAM_HEADER_SIZE];
    header[0] = (uint8_t)direction;
    header[1] = (uint8_t)type;
    putBigEndian(header + 2, length, 8);
    append(m, header, sizeof header);
}

void tvInit(TvMessage *message)
{
    memset(message, 0, sizeof *message);
}

void tvBegin(TvMessage *message, uint32_t functionId)
{
    uint8_t id[2];
    message->size = 0;
    message->failed = 0;
    putBigEndian(id, functionId, 2);
    append(message, id, 2);
}

void tvAddLong(TvMessage *message, uint32_t direction, uint32_t value)
{
    uint8_t bytes[TOLVEX_LONG_SIZE];
    putBigEndian(bytes, value, TOLVEX_LONG_SIZE);
    addHeader(message, direction, TOLVEX_TYPE_LONG, TOLVEX_LONG_SIZE);
    append(message, bytes, sizeof bytes);
}

void tvAddString(TvMessage *message, uint32_t direction, const char *text)
{
    /* The length counts the terminating zero, which travels too. */
    const uint32_t n = (uint32_t)strlen(text) + 1;
    addHeader(message, direction, TOLVEX_TYPE_STRING, n);
    append(message, text, n);
}

void tvAddBytes(TvMessage *message, uint32_t direction, const uint8_t *bytes, uint32_t n)
{
    addHeader(message, direction, TOLVEX_TYPE_BYTE_ARRAY, n);
    append(message, bytes, n);
}

void tvFree(TvMessage *message)
{
    free(message->data);
    tvInit(message);
}

/* ---- reading ------------------------------------------------------------------------------ */

void tvReader(TvReader *reader, const TvMessage *message)
{
    reader->data = message->data;
    reader->size = message->size;
    reader->at = 0;
}

DWORD tvReadId(TvReader *reader, uint32_t *functionId)
{
    if (reader->size - reader->at < 2) return ERROR_BAD_LENGTH;
    *functionId = (uint32_t)getBigEndian(reader->data + reader->at, 2);
    reader->at += 2;
    return 0;
}

DWORD tvReadValue(TvReader *reader, uint32_t direction, uint32_t type, const uint8_t **value, uint32_t *length)
{
    const uint8_t *p = reader->data + reader->at;
    const uint32_t left = reader->size - reader->at;
    uint64_t n;
    if (left < TOLVEX_PARAM_HEADER_SIZE) return ERROR_BAD_LENGTH;
    if (p[0] != direction || p[1] != type) return ERROR_INVALID_DATA;
    /* Every declared length is checked against what arrived before it is used. */
    n = getBigEndian(p + 2, 8);
    if (n > left - TOLVEX_PARAM_HEADER_SIZE) return ERROR_BAD_LENGTH;
    *value = p + TOLVEX_PARAM_HEADER_SIZE;
    *length = (uint32_t)n;
    reader->at += TOLVEX_PARAM_HEADER_SIZE + (uint32_t)n;
    return 0;
}

DWORD tvReadLong(TvReader *reader, uint32_t direction, uint32_t *value)
{
    TvReader probe = *reader;
    const uint8_t *bytes = NULL;
    uint32_t n = 0;
    DWORD rc = tvReadValue(&probe, direction, TOLVEX_TYPE_LONG, &bytes, &n);
    if (rc != 0) return rc;
    if (n != TOLVEX_LONG_SIZE) return ERROR_BAD_LENGTH;
    *value = (uint32_t)getBigEndian(bytes, TOLVEX_LONG_SIZE);
    *reader = probe;
    return 0;
}

DWORD tvReplyCode(TvReader *reader, const TvMessage *reply, uint32_t functionId, uint32_t *code)
{
    uint32_t echoed = 0;
    tvReader(reader, reply);
    if (tvReadId(reader, &echoed) != 0 || echoed != functionId) return ERROR_INVALID_DATA;
    return tvReadLong(reader, TOLVEX_DIR_RETURN, code) == 0 ? 0 : ERROR_INVALID_DATA;
}

/* ---- frames over an overlapped pipe ------------------------------------------------------- */

DWORD tvRemaining(ULONGLONG deadline)
{
    const ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : (DWORD)(deadline - now);
}

/* One ReadFile or WriteFile, waited for until deadline or stop. */
static DWORD transfer(HANDLE pipe, int writing, void *buffer, DWORD n, DWORD *done, ULONGLONG deadline, HANDLE stop)
{
    OVERLAPPED ov;
    HANDLE waits[2];
    DWORD count = 1, rc = 0, woke;
    BOOL ok;
    *done = 0;
    memset(&ov, 0, sizeof ov);
    ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (ov.hEvent == NULL) return GetLastError();
    ok = writing ? WriteFile(pipe, buffer, n, NULL, &ov) : ReadFile(pipe, buffer, n, NULL, &ov);
    if (!ok && GetLastError() != ERROR_IO_PENDING) {
        /* A transfer that fails at once is over, and some systems never signal its event. */
        rc = GetLastError();
        CloseHandle(ov.hEvent);
        return rc;
    }
    waits[0] = ov.hEvent;
    if (stop != NULL) waits[count++] = stop;
    woke = WaitForMultipleObjects(count, waits, FALSE, tvRemaining(deadline));
    if (woke != WAIT_OBJECT_0) {
        /* The system uses ov and buffer until the cancelled transfer has ended. */
        CancelIo(pipe);
        GetOverlappedResult(pipe, &ov, done, TRUE);
        rc = woke == WAIT_TIMEOUT ? ERROR_TIMEOUT : woke == WAIT_OBJECT_0 + 1 ? ERROR_OPERATION_ABORTED : GetLastError();
    } else if (!GetOverlappedResult(pipe, &ov, done, FALSE)) {
        rc = GetLastError();
    }
    CloseHandle(ov.hEvent);
    return rc;
}

/* All n bytes; a pipe may take or deliver them in several parts. */
static DWORD transferAll(HANDLE pipe, int writing, uint8_t *buffer, uint32_t n, ULONGLONG deadline, HANDLE stop)
{
    uint32_t moved = 0;
    while (moved < n) {
        DWORD done = 0;
        const DWORD rc = transfer(pipe, writing, buffer + moved, n - moved, &done, deadline, stop);
        if (rc != 0) return rc;
        if (done == 0) return ERROR_BROKEN_PIPE;
        moved += done;
    }
    return 0;
}

DWORD tvWriteFrame(HANDLE pipe, const TvMessage *payload, ULONGLONG deadline, HANDLE stop)
{
    TvMessage frame;
    uint8_t header[TOLVEX_FRAME_HEADER_SIZE];
    DWORD rc;
    if (payload->failed) return ERROR_NOT_ENOUGH_MEMORY;
    /* One write of the whole frame: header and payload in one buffer. */
    tvInit(&frame);
    putBigEndian(header, payload->size, TOLVEX_FRAME_HEADER_SIZE);
    append(&frame, header, sizeof header);
    append(&frame, payload->data, payload->size);
    rc = frame.failed ? ERROR_NOT_ENOUGH_MEMORY : transferAll(pipe, 1, frame.data, frame.size, deadline, stop);
    tvFree(&frame);
    return rc;
}

DWORD tvReadFrame(HANDLE pipe, TvMessage *payload, uint32_t maxPayload, ULONGLONG deadline, HANDLE stop)
{
    uint8_t header[TOLVEX_FRAME_HEADER_SIZE];
    uint32_t n;
    DWORD rc = transferAll(pipe, 0, header, sizeof header, deadline, stop);
    if (rc != 0) return rc;
    n = (uint32_t)getBigEndian(header, TOLVEX_FRAME_HEADER_SIZE);
    if (n > maxPayload) return ERROR_BAD_LENGTH;
    payload->size = 0;
    payload->failed = 0;
    reserve(payload, n);
    if (payload->failed) return ERROR_NOT_ENOUGH_MEMORY;
    rc = transferAll(pipe, 0, payload->data, n, deadline, stop);
    if (rc == 0) payload->size = n;
    return rc;
}

DWORD tvWaitForClose(HANDLE pipe, ULONGLONG deadline, HANDLE stop)
{
    uint8_t byte;
    DWORD done = 0;
    const DWORD rc = transfer(pipe, 0, &byte, 1, &done, deadline, stop);
    if (rc == ERROR_BROKEN_PIPE || (rc == 0 && done == 0)) return 0;
    return rc != 0 ? rc : ERROR_INVALID_DATA;
}

/* ---- one call ----------------------------------------------------------------------------- */

/* The answer of a service at its connection cap: the request's id and TOLVEX_ERROR_PIPE_BUSY,
 * nothing else. */
static int isBusyAnswer(const TvMessage *request, const TvMessage *reply)
{
    TvReader reader;
    uint32_t sent = 0, code = 0;
    tvReader(&reader, request);
    if (tvReadId(&reader, &sent) != 0) return 0;
    return tvReplyCode(&reader, reply, sent, &code) == 0 && code == TOLVEX_ERROR_PIPE_BUSY && reader.at == reply->size;
}

DWORD tvCall(const char *pipePath, const TvMessage *request, TvMessage *reply, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    DWORD pause = 10;
    for (;;) {
        DWORD rc, left;
        HANDLE pipe = CreateFileA(pipePath, TOLVEX_CLIENT_PIPE_ACCESS, 0, NULL, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, NULL);
        if (pipe == INVALID_HANDLE_VALUE) {
            rc = GetLastError();
            if (rc != ERROR_PIPE_BUSY) return rc;
        } else {
            rc = tvWriteFrame(pipe, request, deadline, NULL);
            if (rc == 0) rc = tvReadFrame(pipe, reply, TOLVEX_MAX_PAYLOAD, deadline, NULL);
            CloseHandle(pipe);
            if (rc != 0 || !isBusyAnswer(request, reply)) return rc;
        }
        left = tvRemaining(deadline);
        if (left == 0) return ERROR_TIMEOUT;
        /* WaitNamedPipe is only a hint: it may return at once, and another client may take the
         * instance it saw free. The deadline, not a number of tries, bounds the retries, with a
         * growing pause so that many waiting clients do not spin. */
        if (pipe == INVALID_HANDLE_VALUE) WaitNamedPipeA(pipePath, left < 100 ? left : 100);
        left = tvRemaining(deadline);
        Sleep(pause < left ? pause : left);
        if (pause < 100) pause *= 2;
    }
}
