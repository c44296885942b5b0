/*
 * TolvexProtocol.h - what a client program needs to talk to the tolvex service over its pipe.
 *
 * Plain C (C99) and C++, constants only: no functions, no types of the service, nothing from
 * <windows.h>. docs/protocol.md explains every value with byte examples; the example programs in
 * examples/ use nothing but this header and Win32.
 *
 * One connection carries one request and one reply. Both are frames: a 4-byte payload length,
 * most significant byte first, then the payload. A payload is a 2-byte function id (most
 * significant byte first) and the function's parameters back to back; each parameter is a
 * direction byte, a type byte, an 8-byte value length (most significant byte first) and the
 * value. A reply echoes the request's id and, when the service completed the call, starts with
 * the return-code parameter (direction TOLVEX_DIR_RETURN, type TOLVEX_TYPE_LONG).
 */
#ifndef TOLVEX_PROTOCOL_H
#define TOLVEX_PROTOCOL_H

#include <stdint.h>

/* ---- The service pipe ------------------------------------------------------------------- */

/* The pipe path is TOLVEX_PIPE_PATH_PREFIX + brand prefix + TOLVEX_PIPE_NAME_SUFFIX; the brand
 * prefix comes from communicationconfig.xml beside tolvex.exe ("Qv" by default). */
#define TOLVEX_PIPE_PATH_PREFIX "\\\\.\\pipe\\"
#define TOLVEX_PIPE_NAME_SUFFIX "_BidiAlertDataChannel_"
#define TOLVEX_DEFAULT_BRAND_PREFIX "Qv"
#define TOLVEX_DEFAULT_PIPE_PATH TOLVEX_PIPE_PATH_PREFIX TOLVEX_DEFAULT_BRAND_PREFIX TOLVEX_PIPE_NAME_SUFFIX
/* The service is installed as brand prefix + this ("Qv__tolvex"). */
#define TOLVEX_SERVICE_NAME_SUFFIX "__tolvex"

/* The access to open the pipe with: GENERIC_READ | FILE_WRITE_DATA, all an ordinary user is
 * granted. GENERIC_WRITE is refused (5). Stay in byte read mode. */
#define TOLVEX_CLIENT_PIPE_ACCESS 0x80000002u

/* ---- Frames and parameters -------------------------------------------------------------- */

#define TOLVEX_FRAME_HEADER_SIZE 4u
/* The largest payload the service reads or writes; a frame declaring more is dropped unread. */
#define TOLVEX_MAX_PAYLOAD 1048576u

#define TOLVEX_PARAM_HEADER_SIZE 10u
#define TOLVEX_LONG_SIZE 4u
/* A whole long parameter, header and value. */
#define TOLVEX_LONG_PARAM_SIZE 14u

/* Direction byte. */
#define TOLVEX_DIR_IN 1u     /* argument sent by the caller */
#define TOLVEX_DIR_OUT 2u    /* result returned to the caller */
#define TOLVEX_DIR_RETURN 4u /* the function's return code */

/* Type byte. A long's value is 4 bytes, most significant first. A string's value is its
 * characters and one zero byte, which the length counts; it holds no other zero. A byte array's
 * value is the raw bytes. */
#define TOLVEX_TYPE_LONG 1u
#define TOLVEX_TYPE_STRING 9u
#define TOLVEX_TYPE_BYTE_ARRAY 10u

/* ---- Function ids and their parameters ---------------------------------------------------- */
/*
 * In: the request's parameters, all TOLVEX_DIR_IN, in this order (L long, S string, B byte
 * array). Out: after the return code, the reply's parameters, all TOLVEX_DIR_OUT. "Not read":
 * the parameter must be present and well formed, its value is not used (send 0).
 * Codes: what each return code means for this function (see the code list further down).
 * Any function also answers, with the echoed id and the code alone, 24 for a request that ends
 * inside a parameter or whose lengths disagree with its bytes and 13 for a malformed string; a
 * parameter of the wrong direction or type is answered with the echoed id alone.
 */

/* In: S client name (not read). Out: L client id (never 0). Codes: 0 always. */
#define TOLVEX_FN_GET_CLIENT_ID 2u

/* In: L client id (not read), L printer handle. Codes: 0 the printer is closed once for the
 * caller (the last close ends the session, its registrations and settings); 6 the handle has no
 * session, or the caller holds no open of it. */
#define TOLVEX_FN_CLOSE_PRINTER 21u

/* In: L client id (not read), S port name. Out: L printer handle (0 on failure).
 * Codes: 0; 1796 the name is not "USB" and three decimal digits (any case, not USB000). */
#define TOLVEX_FN_ENUM_SPECIFIC_PRINTER 25u

/* In: L client id (not read), L printer handle, B request packet, L request length (bytes of
 * the array to send, at most its size), L reply size.
 * Out: B of exactly reply-size bytes (the printer's answer, then zeros) - absent when the reply
 * size is 0 - then L returned length. The reply holds both for every code except: 24 and 13
 * (code only), 87 for a reply size above TOLVEX_MAX_EXCHANGE_REPLY_SIZE (code only), and 87 for
 * a reply size of 0 (code and L returned length, no array). The returned length is the answer's
 * size for 0 and 122, otherwise 0.
 * Codes: 0 the printer answered (or the packet asked for no answer, or it was the NPA-mode
 * request, which is answered at once without reaching the printer); 1 the printer's pipes are
 * closed (suspended, unplugged); 5 not an NPA packet a client may send (incomplete, continued,
 * job start or end, the extended-alert mode query); 6 no session the caller has opened; 24 the
 * request length exceeds the array; 29 the printer took no bytes; 50 the printer does not speak
 * NPA, is detached, or the session has no printer; 87 an empty request, a reply size of 0 or
 * above the cap; 122 the answer is longer than the reply size (returned length = its size);
 * 170 the spooler is printing on the port; 995 the session ended or the service is stopping;
 * 1460 no answer within the session's reply time-out, or another exchange held the printer for
 * all of that time. Other system codes: the printer could not be written to. */
#define TOLVEX_FN_EXCHANGE_NPA_PRINTER 26u

/* As TOLVEX_FN_EXCHANGE_NPA_PRINTER, except that the byte array is always present: a reply size
 * of 0 sends the packet all the same and gives 122 (empty array, returned length = the answer's
 * size) when the printer answers with any bytes, 0 when it answers with none. */
#define TOLVEX_FN_EXCHANGE_BIDI_PRINTER 27u

/* In: L client id (not read), L printer handle. Codes: 0; 6 handle 0; for a USB port's handle
 * (TOLVEX_PORT_HANDLE) the codes of TOLVEX_FN_OPEN_PRINTER_EX for that port; for any other
 * handle a session without a printer is opened, whose exchanges and registrations answer 50,
 * and 1450 when TOLVEX_MAX_SESSIONS_WITHOUT_PRINTER exist already; 5 the service could not tell
 * who is calling. A later TOLVEX_FN_OPEN_PRINTER_EX with such a handle gets 87. */
#define TOLVEX_FN_OPEN_PRINTER 34u

/* In: L client id, L printer handle, L alert mask (TOLVEX_ALERT_*), S callback endpoint text
 * ("<PIPENAME>name</PIPENAME>", optionally "<HOSTNAME>this computer</HOSTNAME>"; element names
 * exact and case-sensitive; at most TOLVEX_MAX_CALLBACK_TEXT characters).
 * Codes, in the order they are checked: 122 the text is too long; 123 the text names no local
 * pipe (plain text, another element name, another computer, a name breaking the rules of
 * TOLVEX_MAX_CALLBACK_PIPE_NAME); 5 the client id belongs to another user (or the caller is
 * unknown); 1450 no room for the client's callback record; 6 no session the caller has opened;
 * 87 mask 0; 50 the session has no printer (or it does not speak NPA); 995 the session is
 * ending; 1450 the user holds TOLVEX_MAX_REGISTRATIONS_PER_USER registrations; 22 the printer
 * refused the registration; 1460 the printer did not answer it; other exchange codes of
 * TOLVEX_FN_EXCHANGE_NPA_PRINTER. On any code but 0 the registration is not made (an earlier
 * one of the same client stays), but the pipe is recorded for the client id all the same. */
#define TOLVEX_FN_REGISTER_FOR_ALERTS_PRINTER 35u

/* In: L client id (not read), L printer handle, S setting name, L value.
 * Setting "SET BIDI TIMEOUT" (any case, nothing around it): the reply time-out of the session's
 * next exchange, in milliseconds; after that exchange (whoever makes it) it is back to
 * TOLVEX_DEFAULT_REPLY_TIMEOUT_MS. Codes: 0; 50 another setting name; 87 a value outside
 * TOLVEX_MIN_REPLY_TIMEOUT_MS..TOLVEX_MAX_REPLY_TIMEOUT_MS; 6 no session the caller has opened. */
#define TOLVEX_FN_SET_LONG_PRINTER 38u

/* In: L client id (not read), L printer handle, S setting name, S value, L (not read).
 * Setting "SET LANGUAGE ID" (any case): the language id the session's next alert registration
 * sends to the printer (a changed id makes that registration go out even when it adds no mask
 * bit); it travels in the extended-language class's packet (TOLVEX_ALERT_EXTENDED_LANGUAGE),
 * low 8 bits only, and is used once. Value: empty, or 1 to TOLVEX_MAX_LANGUAGE_ID_DIGITS
 * hexadecimal digits after an optional "0x" ("0x0409"). Codes: 0; 50 another setting name;
 * 87 any other value; 6 no session the caller has opened. */
#define TOLVEX_FN_SET_STRING_PRINTER 39u

/* In: L client id, L printer handle. Codes: 0 the registration is gone; 1 the client is not
 * registered on that handle; 5 the client id belongs to another user; 6 the handle has no
 * session. Other codes: the printer did not confirm that it stops the alerts; the
 * registration is gone all the same. */
#define TOLVEX_FN_UNREGISTER_FOR_ALERTS_PRINTER 42u

/* In: L client id (not read), S port name, L printer handle (TOLVEX_PORT_HANDLE of the port).
 * Codes, in the order they are checked: 1796 the name is not "USB" and three decimal digits;
 * 87 the handle is not the port's; 5 the service could not tell who is calling; 1 no USB
 * printer behind the port; 170 the read thread of a session of the port closed before has not
 * ended yet (try again later); 0 the printer is open for the caller (opens are counted per user). */
#define TOLVEX_FN_OPEN_PRINTER_EX 101u

/* Sent by the service to a client's callback pipe, one per alert: S (TOLVEX_DIR_IN) the text
 * "<Handler>AlertHandler</Handler><Handle>H</Handle><ClientId>C</ClientId>" (decimal numbers),
 * B (TOLVEX_DIR_IN) the alert packet as the printer sent it. The client answers with the id and
 * a return code (0: taken). Any other code, a shorter answer or another id is only logged by
 * the service; it neither resends the alert nor ends the registration. */
#define TOLVEX_FN_ON_CALLBACK 1001u

/* The handle of port "USB" + n (n from 1 to 999): USB001 is 0x2001. */
#define TOLVEX_PORT_HANDLE(n) ((uint32_t)((((uint32_t)(n)) & 0x7FFu) | 0x2000u))

/* ---- Limits the service enforces ---------------------------------------------------------- */

/* The largest reply size of an exchange: the payload cap less the id, the return code, the
 * array's header and the returned length. */
#define TOLVEX_MAX_EXCHANGE_REPLY_SIZE 1048536u
/* The largest NPA packet (start byte, 2-byte length, 65535 bytes): a reply size that never cuts
 * an answer. */
#define TOLVEX_NPA_MAX_PACKET 65538u
/* Bytes 4 to 7 of the NPA-mode request, which the service answers itself. */
#define TOLVEX_NPA_MODE_MARK { 0xA4u, 0x5Bu, 0xA4u, 0x5Bu }
#define TOLVEX_NPA_MODE_MARK_OFFSET 4u

#define TOLVEX_DEFAULT_REPLY_TIMEOUT_MS 10000u
#define TOLVEX_MIN_REPLY_TIMEOUT_MS 1u
#define TOLVEX_MAX_REPLY_TIMEOUT_MS 120000u
#define TOLVEX_MAX_LANGUAGE_ID_DIGITS 8u

/* Characters of the callback endpoint text (its zero not counted); above: 122. */
#define TOLVEX_MAX_CALLBACK_TEXT 260u
/* Characters of a callback pipe name (after "\\.\pipe\"). It must not be empty, hold '/', ':' or
 * a control character, or have an empty, "." or ".." component between backslashes (so no
 * leading backslash); otherwise 123. */
#define TOLVEX_MAX_CALLBACK_PIPE_NAME 247u
/* The largest answer to a callback the service reads; a longer one counts as no answer. */
#define TOLVEX_MAX_CALLBACK_ANSWER 1024u

/* A connection must deliver its whole request within this, or it is closed without a reply. */
#define TOLVEX_REQUEST_DEADLINE_MS 10000u
/* A client that does not read its reply within this is dropped. */
#define TOLVEX_REPLY_WRITE_MS 10000u
/* Time a client has, after the reply, to read it and close. */
#define TOLVEX_AFTER_REPLY_MS 2000u
/* From opening a callback pipe to reading its answer, per alert and client. */
#define TOLVEX_CALLBACK_BOUND_MS 2000u
/* Connections served at once; one beyond is answered with its id and TOLVEX_ERROR_PIPE_BUSY,
 * if its request arrives within TOLVEX_BUSY_ANSWER_MS (else closed without a reply). */
#define TOLVEX_MAX_CONNECTIONS 64u
#define TOLVEX_BUSY_ANSWER_MS 250u
/* Alerts waiting per registered client; when full the oldest is dropped. */
#define TOLVEX_ALERT_QUEUE 64u
/* Callback records in the service, and client ids and registrations per user; 1450 beyond. */
#define TOLVEX_MAX_CALLBACK_RECORDS 4096u
#define TOLVEX_MAX_CLIENT_IDS_PER_USER 64u
#define TOLVEX_MAX_REGISTRATIONS_PER_USER 64u
#define TOLVEX_MAX_SESSIONS_WITHOUT_PRINTER 64u

/* ---- Alert mask ------------------------------------------------------------------------- */
/*
 * Mask bit n is 1 << n. Each class is one registration packet the printer is sent; all bits of a
 * class share it (masks 1 and 2 both register device status alerts, with different packet bits).
 * The printer is registered for the OR of every client's mask on it, and every alert it sends
 * goes to every client registered on it, whatever that client's own mask.
 */
#define TOLVEX_ALERT_DEVICE_STATUS 0x000003FFu      /* bits 0-9: "registerForDeviceStatusAlerts" */
#define TOLVEX_ALERT_EXTENSION 0x0007FC00u          /* bits 10-18: "registerForQuorvelExtensionAlerts" */
#define TOLVEX_ALERT_PANEL 0x00080000u              /* bit 19: "registerForPanelAlerts" */
#define TOLVEX_ALERT_EXTENDED 0x00100000u           /* bit 20: "registerForQuorvelExtendedAlerts" */
#define TOLVEX_ALERT_EXTENDED_LANGUAGE 0x03E00000u  /* bits 21-25: "registerForQuorvelExtendedAlertsWithLanguageId" */
/* Bits 26-31 belong to no class: a registration with only them asks the printer for nothing. */
#define TOLVEX_ALERT_UNASSIGNED 0xFC000000u
#define TOLVEX_ALERT_ALL 0x03FFFFFFu

/* ---- Return codes (Windows error numbers) ------------------------------------------------- */
/* What each means for each function is listed with the function above. */
#define TOLVEX_OK 0u
#define TOLVEX_ERROR_INVALID_FUNCTION 1u      /* no printer behind the port; not registered; pipes closed */
#define TOLVEX_ERROR_ACCESS_DENIED 5u         /* refused packet; another user's client id; unknown caller */
#define TOLVEX_ERROR_INVALID_HANDLE 6u        /* no session, or none the caller has opened */
#define TOLVEX_ERROR_INVALID_DATA 13u         /* a string without its zero at the end, or with one inside */
#define TOLVEX_ERROR_BAD_COMMAND 22u          /* the printer refused an alert registration */
#define TOLVEX_ERROR_BAD_LENGTH 24u           /* lengths disagree with the bytes sent */
#define TOLVEX_ERROR_WRITE_FAULT 29u          /* the printer took no bytes */
#define TOLVEX_ERROR_NOT_SUPPORTED 50u        /* no NPA printer; unknown setting name */
#define TOLVEX_ERROR_INVALID_PARAMETER 87u    /* a value out of its range */
#define TOLVEX_ERROR_INSUFFICIENT_BUFFER 122u /* reply size too small; callback text too long */
#define TOLVEX_ERROR_INVALID_NAME 123u        /* the callback endpoint names no local pipe */
#define TOLVEX_ERROR_BUSY 170u                /* the spooler prints on the port; or its last read thread runs */
#define TOLVEX_ERROR_PIPE_BUSY 231u           /* the service serves TOLVEX_MAX_CONNECTIONS already */
#define TOLVEX_ERROR_OPERATION_ABORTED 995u   /* the session ended or the service is stopping */
#define TOLVEX_ERROR_INTERNAL_ERROR 1359u     /* the service failed; a callback got no valid answer */
#define TOLVEX_ERROR_NO_SYSTEM_RESOURCES 1450u /* a limit of TOLVEX_MAX_* was reached */
#define TOLVEX_ERROR_TIMEOUT 1460u            /* the printer did not answer in time */
#define TOLVEX_ERROR_UNKNOWN_PORT 1796u       /* not a port name "USB" + three digits */

#endif /* TOLVEX_PROTOCOL_H */
