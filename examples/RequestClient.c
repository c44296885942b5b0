/*
 * RequestClient - asks the tolvex service for a printer's status, the way a status tool does:
 * the port's handle, open, one NPA "queryAll" exchange, close. Every call has a deadline, and a
 * busy service pipe is retried within it (tvCall).
 *
 *   RequestClient [--prefix PREFIX] [PORT]        (defaults: Qv, USB001)
 *
 * Exit code 0 when every call succeeded, 1 when the service refused one (its code is printed),
 * 2 for a bad command line, 3 when the service could not be reached.
 */
#include "TolvexWire.h"

#include <stdio.h>
#include <string.h>

#define CALL_TIMEOUT_MS 30000u
/* An exchange may wait for the printer as long as the session's reply time-out. */
#define EXCHANGE_TIMEOUT_MS (TOLVEX_MAX_REPLY_TIMEOUT_MS + 10000u)
#define REPLY_SIZE 256u

static const uint8_t kQueryAll[] = {0xA5, 0x00, 0x05, 0x50, 0xE0, 0x81, 0x00, 0xFF};

static char pipePath[256];

/* Sends request and reads the return code; prints what went wrong. 0, or the exit code. */
static int call(const char *what, const TvMessage *request, TvMessage *reply, TvReader *results, DWORD timeoutMs)
{
    uint32_t id = 0, code = 0;
    TvReader head;
    const DWORD rc = tvCall(pipePath, request, reply, timeoutMs);
    if (rc != 0) {
        printf("%s: cannot reach the service on %s: system code %lu\n", what, pipePath, (unsigned long)rc);
        return 3;
    }
    tvReader(&head, request);
    tvReadId(&head, &id);
    if (tvReplyCode(results, reply, id, &code) != 0) {
        printf("%s: the service refused the request's parameters\n", what);
        return 1;
    }
    if (code != TOLVEX_OK) {
        printf("%s: the service answered %lu\n", what, (unsigned long)code);
        return 1;
    }
    return 0;
}

static void printHex(const uint8_t *bytes, uint32_t n)
{
    uint32_t i;
    for (i = 0; i < n; ++i) printf("%s%02x", i == 0 ? "" : " ", bytes[i]);
    printf("\n");
}

int main(int argc, char **argv)
{
    const char *prefix = TOLVEX_DEFAULT_BRAND_PREFIX;
    const char *port = "USB001";
    TvMessage request, reply;
    TvReader results;
    uint32_t handle = 0, returned = 0;
    const uint8_t *answer = NULL;
    uint32_t answerSize = 0;
    int i, rc, closeRc;

    for (i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--prefix") == 0 && i + 1 < argc) {
            prefix = argv[++i];
        } else if (argv[i][0] != '-') {
            port = argv[i];
        } else {
            fprintf(stderr, "usage: RequestClient [--prefix PREFIX] [PORT]\n");
            return 2;
        }
    }
    if (strlen(prefix) > 200 || strlen(port) > 200) {
        fprintf(stderr, "RequestClient: prefix or port name too long\n");
        return 2;
    }
    snprintf(pipePath, sizeof pipePath, "%s%s%s", TOLVEX_PIPE_PATH_PREFIX, prefix, TOLVEX_PIPE_NAME_SUFFIX);
    tvInit(&request);
    tvInit(&reply);

    /* The service computes the handle and checks the name (1796 for one it does not take). */
    tvBegin(&request, TOLVEX_FN_ENUM_SPECIFIC_PRINTER);
    tvAddLong(&request, TOLVEX_DIR_IN, 0); /* client id: not read */
    tvAddString(&request, TOLVEX_DIR_IN, port);
    rc = call("enum", &request, &reply, &results, CALL_TIMEOUT_MS);
    if (rc == 0 && tvReadLong(&results, TOLVEX_DIR_OUT, &handle) != 0) rc = 1;
    if (rc != 0) goto done;
    printf("handle of %s = 0x%04lx\n", port, (unsigned long)handle);

    tvBegin(&request, TOLVEX_FN_OPEN_PRINTER_EX);
    tvAddLong(&request, TOLVEX_DIR_IN, 0);
    tvAddString(&request, TOLVEX_DIR_IN, port);
    tvAddLong(&request, TOLVEX_DIR_IN, handle);
    rc = call("open", &request, &reply, &results, CALL_TIMEOUT_MS);
    if (rc != 0) goto done;
    printf("open: 0\n");

    tvBegin(&request, TOLVEX_FN_EXCHANGE_NPA_PRINTER);
    tvAddLong(&request, TOLVEX_DIR_IN, 0);
    tvAddLong(&request, TOLVEX_DIR_IN, handle);
    tvAddBytes(&request, TOLVEX_DIR_IN, kQueryAll, sizeof kQueryAll);
    tvAddLong(&request, TOLVEX_DIR_IN, sizeof kQueryAll); /* request length */
    tvAddLong(&request, TOLVEX_DIR_IN, REPLY_SIZE);       /* reply size */
    rc = call("queryAll", &request, &reply, &results, EXCHANGE_TIMEOUT_MS);
    /* The array has the reply size; the printer's answer is its first returned-length bytes. */
    if (rc == 0 && (tvReadValue(&results, TOLVEX_DIR_OUT, TOLVEX_TYPE_BYTE_ARRAY, &answer, &answerSize) != 0 ||
                    tvReadLong(&results, TOLVEX_DIR_OUT, &returned) != 0 || returned > answerSize)) {
        printf("queryAll: malformed reply\n");
        rc = 1;
    }
    if (rc == 0) {
        printf("queryAll reply (%lu bytes): ", (unsigned long)returned);
        printHex(answer, returned);
    }

    /* Opens are counted: give this one back whatever the exchange did. */
    tvBegin(&request, TOLVEX_FN_CLOSE_PRINTER);
    tvAddLong(&request, TOLVEX_DIR_IN, 0);
    tvAddLong(&request, TOLVEX_DIR_IN, handle);
    closeRc = call("close", &request, &reply, &results, CALL_TIMEOUT_MS);
    if (closeRc == 0) printf("close: 0\n");
    if (rc == 0) rc = closeRc;

done:
    tvFree(&request);
    tvFree(&reply);
    return rc;
}
