/*
 * AlertWatcher - receives a printer's alerts from the tolvex service: serves a callback pipe of
 * its own, registers it for the alert classes of a mask, answers each "onCallback" the service
 * sends, and unregisters and closes when done (count reached, time up, or Ctrl+C).
 *
 *   AlertWatcher [--prefix PREFIX] [--mask M] [--count N] [--seconds S] [PORT]
 *                (defaults: Qv, TOLVEX_ALERT_DEVICE_STATUS, no count, 60 s, USB001)
 *
 * Exit code 0 when N alerts came (or, without --count, when the time ran out or Ctrl+C came), 1
 * when the service refused a call or fewer alerts came, 2 for a bad command line, 3 when the
 * service could not be reached, 4 when the callback pipe failed.
 */
#include "TolvexWire.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define CALL_TIMEOUT_MS 30000u

static char servicePipe[256];
static HANDLE stopEvent;

static BOOL WINAPI onConsoleControl(DWORD type)
{
    (void)type;
    SetEvent(stopEvent);
    return TRUE;
}

/* One call and its return code; the reader is left after the code. 0, or the exit code. */
static int call(const char *what, const TvMessage *request, TvMessage *reply, TvReader *results)
{
    uint32_t id = 0, code = 0;
    TvReader head;
    const DWORD rc = tvCall(servicePipe, request, reply, CALL_TIMEOUT_MS);
    if (rc != 0) {
        printf("%s: cannot reach the service on %s: system code %lu\n", what, servicePipe, (unsigned long)rc);
        return 3;
    }
    tvReader(&head, request);
    tvReadId(&head, &id);
    if (tvReplyCode(results, reply, id, &code) != 0 || code != TOLVEX_OK) {
        printf("%s: the service answered %lu\n", what, (unsigned long)code);
        return 1;
    }
    return 0;
}

/* Serves one callback on a connected instance: reads the "onCallback" message, prints it,
 * answers 0, and waits until the service has closed its end. */
static DWORD serveCallback(HANDLE pipe, unsigned index)
{
    /* The service allows itself TOLVEX_CALLBACK_BOUND_MS for the whole callback; a little more
     * here covers the scheduling of both sides. */
    const ULONGLONG deadline = GetTickCount64() + 2 * TOLVEX_CALLBACK_BOUND_MS;
    TvMessage message, answer;
    TvReader reader;
    uint32_t id = 0, textSize = 0, packetSize = 0, i;
    const uint8_t *text = NULL, *packet = NULL;
    DWORD rc;

    tvInit(&message);
    tvInit(&answer);
    rc = tvReadFrame(pipe, &message, TOLVEX_MAX_PAYLOAD, deadline, stopEvent);
    tvReader(&reader, &message);
    if (rc == 0 && (tvReadId(&reader, &id) != 0 || id != TOLVEX_FN_ON_CALLBACK ||
                    tvReadValue(&reader, TOLVEX_DIR_IN, TOLVEX_TYPE_STRING, &text, &textSize) != 0 || textSize == 0 ||
                    tvReadValue(&reader, TOLVEX_DIR_IN, TOLVEX_TYPE_BYTE_ARRAY, &packet, &packetSize) != 0)) {
        rc = ERROR_INVALID_DATA;
    }
    if (rc == 0) {
        printf("alert %u: %lu bytes:", index, (unsigned long)packetSize);
        for (i = 0; i < packetSize; ++i) printf(" %02x", packet[i]);
        /* The string's length counts its zero. */
        printf(" | %.*s\n", (int)(textSize - 1), (const char *)text);
        fflush(stdout);

        /* Any code but 0 is only logged by the service; the alert is not sent again. */
        tvBegin(&answer, TOLVEX_FN_ON_CALLBACK);
        tvAddLong(&answer, TOLVEX_DIR_RETURN, TOLVEX_OK);
        rc = tvWriteFrame(pipe, &answer, deadline, stopEvent);
        /* Disconnecting now would throw the answer away before the service has read it: the
         * service closes its end once it has, and only then is the instance ours again. */
        if (rc == 0) rc = tvWaitForClose(pipe, deadline, stopEvent);
    }
    DisconnectNamedPipe(pipe);
    tvFree(&message);
    tvFree(&answer);
    return rc;
}

/* Waits for the service to connect to the instance, until deadline or Ctrl+C. */
static DWORD awaitService(HANDLE pipe, ULONGLONG deadline)
{
    OVERLAPPED ov;
    HANDLE waits[2];
    DWORD rc = 0, woke, done = 0;
    memset(&ov, 0, sizeof ov);
    ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (ov.hEvent == NULL) return GetLastError();
    if (!ConnectNamedPipe(pipe, &ov)) {
        rc = GetLastError();
        if (rc == ERROR_PIPE_CONNECTED) {
            /* The service connected between the instance's creation and this call. */
            SetEvent(ov.hEvent);
            rc = 0;
        } else if (rc == ERROR_IO_PENDING) {
            rc = 0;
        }
    }
    if (rc == 0) {
        waits[0] = ov.hEvent;
        waits[1] = stopEvent;
        woke = WaitForMultipleObjects(2, waits, FALSE, tvRemaining(deadline));
        if (woke != WAIT_OBJECT_0) {
            CancelIo(pipe);
            GetOverlappedResult(pipe, &ov, &done, TRUE);
            rc = woke == WAIT_TIMEOUT ? ERROR_TIMEOUT : ERROR_OPERATION_ABORTED;
        } else if (!GetOverlappedResult(pipe, &ov, &done, FALSE) && GetLastError() != ERROR_PIPE_CONNECTED) {
            rc = GetLastError();
        }
    }
    CloseHandle(ov.hEvent);
    return rc;
}

int main(int argc, char **argv)
{
    const char *prefix = TOLVEX_DEFAULT_BRAND_PREFIX;
    const char *port = "USB001";
    unsigned long mask = TOLVEX_ALERT_DEVICE_STATUS, count = 0, seconds = 60;
    char callbackName[64], callbackPath[96], endpoint[128];
    TvMessage request, reply;
    TvReader results;
    HANDLE callback;
    ULONGLONG deadline;
    uint32_t clientId = 0, handle = 0;
    unsigned seen = 0;
    int i, rc = 0, pipeFailed = 0;

    for (i = 1; i < argc; ++i) {
        const int more = i + 1 < argc;
        if (more && strcmp(argv[i], "--prefix") == 0) {
            prefix = argv[++i];
        } else if (more && strcmp(argv[i], "--mask") == 0) {
            mask = strtoul(argv[++i], NULL, 0);
        } else if (more && strcmp(argv[i], "--count") == 0) {
            count = strtoul(argv[++i], NULL, 10);
        } else if (more && strcmp(argv[i], "--seconds") == 0) {
            seconds = strtoul(argv[++i], NULL, 10);
        } else if (argv[i][0] != '-') {
            port = argv[i];
        } else {
            fprintf(stderr, "usage: AlertWatcher [--prefix PREFIX] [--mask M] [--count N] [--seconds S] [PORT]\n");
            return 2;
        }
    }
    if (strlen(prefix) > 200 || seconds > 86400) {
        fprintf(stderr, "AlertWatcher: prefix too long or more than a day\n");
        return 2;
    }
    snprintf(servicePipe, sizeof servicePipe, "%s%s%s", TOLVEX_PIPE_PATH_PREFIX, prefix, TOLVEX_PIPE_NAME_SUFFIX);
    stopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (stopEvent == NULL) return 4;
    SetConsoleCtrlHandler(onConsoleControl, TRUE);

    /* The callback pipe: a name of this run, one instance, local clients only. The default
     * security lets in this user, SYSTEM (the service) and Administrators; nothing more is
     * needed, and the service checks before every alert that the pipe is served by the user who
     * registered it. */
    snprintf(callbackName, sizeof callbackName, "AlertWatcher_%lu_%lu", (unsigned long)GetCurrentProcessId(),
             (unsigned long)(GetTickCount64() & 0xFFFFFFFFu));
    snprintf(callbackPath, sizeof callbackPath, "%s%s", TOLVEX_PIPE_PATH_PREFIX, callbackName);
    callback = CreateNamedPipeA(callbackPath, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 4096, 4096,
                                0, NULL);
    if (callback == INVALID_HANDLE_VALUE) {
        printf("cannot create %s: system code %lu\n", callbackPath, (unsigned long)GetLastError());
        return 4;
    }
    tvInit(&request);
    tvInit(&reply);

    tvBegin(&request, TOLVEX_FN_GET_CLIENT_ID);
    tvAddString(&request, TOLVEX_DIR_IN, "AlertWatcher");
    rc = call("client id", &request, &reply, &results);
    if (rc == 0 && tvReadLong(&results, TOLVEX_DIR_OUT, &clientId) != 0) rc = 1;
    if (rc == 0) {
        tvBegin(&request, TOLVEX_FN_ENUM_SPECIFIC_PRINTER);
        tvAddLong(&request, TOLVEX_DIR_IN, 0);
        tvAddString(&request, TOLVEX_DIR_IN, port);
        rc = call("enum", &request, &reply, &results);
        if (rc == 0 && tvReadLong(&results, TOLVEX_DIR_OUT, &handle) != 0) rc = 1;
    }
    if (rc == 0) {
        tvBegin(&request, TOLVEX_FN_OPEN_PRINTER_EX);
        tvAddLong(&request, TOLVEX_DIR_IN, 0);
        tvAddString(&request, TOLVEX_DIR_IN, port);
        tvAddLong(&request, TOLVEX_DIR_IN, handle);
        rc = call("open", &request, &reply, &results);
    }
    if (rc != 0) goto done;

    /* Element names are exact and case-sensitive; the text names a pipe on this computer. */
    snprintf(endpoint, sizeof endpoint, "<PIPENAME>%s</PIPENAME>", callbackName);
    tvBegin(&request, TOLVEX_FN_REGISTER_FOR_ALERTS_PRINTER);
    tvAddLong(&request, TOLVEX_DIR_IN, clientId);
    tvAddLong(&request, TOLVEX_DIR_IN, handle);
    tvAddLong(&request, TOLVEX_DIR_IN, (uint32_t)mask);
    tvAddString(&request, TOLVEX_DIR_IN, endpoint);
    rc = call("register", &request, &reply, &results);
    if (rc == 0) {
        printf("watching %s: client id %lu, mask 0x%08lx, callback pipe %s\n", port, (unsigned long)clientId, mask,
               callbackName);
        fflush(stdout);
        deadline = GetTickCount64() + (ULONGLONG)seconds * 1000u;
        while (count == 0 || seen < count) {
            DWORD served = awaitService(callback, deadline);
            if (served == ERROR_TIMEOUT || served == ERROR_OPERATION_ABORTED) break;
            if (served == 0) served = serveCallback(callback, seen + 1);
            if (served == 0) {
                ++seen;
            } else if (served != ERROR_OPERATION_ABORTED) {
                printf("callback pipe: system code %lu\n", (unsigned long)served);
                pipeFailed = 1;
                break;
            } else {
                break;
            }
        }

        /* Registrations outlive a client that just ends: take it back. */
        tvBegin(&request, TOLVEX_FN_UNREGISTER_FOR_ALERTS_PRINTER);
        tvAddLong(&request, TOLVEX_DIR_IN, clientId);
        tvAddLong(&request, TOLVEX_DIR_IN, handle);
        rc = call("unregister", &request, &reply, &results);
    }

    tvBegin(&request, TOLVEX_FN_CLOSE_PRINTER);
    tvAddLong(&request, TOLVEX_DIR_IN, 0);
    tvAddLong(&request, TOLVEX_DIR_IN, handle);
    if (call("close", &request, &reply, &results) != 0 && rc == 0) rc = 1;
    printf("%u alert(s)\n", seen);
    if (rc == 0 && pipeFailed) rc = 4;
    if (rc == 0 && count != 0 && seen < count) rc = 1;

done:
    tvFree(&request);
    tvFree(&reply);
    CloseHandle(callback);
    CloseHandle(stopEvent);
    return rc;
}
