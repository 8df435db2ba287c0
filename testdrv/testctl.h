#ifndef PADMAP_TESTDRV_TESTCTL_H
#define PADMAP_TESTDRV_TESTCTL_H

/* The test driver's control device, shared by the driver (C) and the harness
   (C++). The driver also offers the 20 filter devices \\.\interception00..19
   with the keyboard filter driver's own control codes; this device is for the
   test side only: it plays the user's keyboards and the rest of the system. */

#include <stdint.h>

#define TESTCTL_DOS_NAME "\\\\.\\padmaptestctl"

/* Times are counts of the performance counter (KeQueryPerformanceCounter),
   the count a program's QueryPerformanceCounter gives at the same moment. */

/* Device-control codes: FILE_DEVICE_UNKNOWN, METHOD_BUFFERED, FILE_ANY_ACCESS. */
#define TESTCTL_CODE(function) ((0x22u << 16) | ((function) << 2))

/* Forgets every device, stroke, filter, event, delivered record and request
   record, and opens a new session. No buffers. */
#define TESTCTL_RESET TESTCTL_CODE(0x900u)

/* Declares one device (input: testctl_declare). Fails for a number outside
   1-20. A later declaration of the same number replaces the earlier one. Only
   declared devices can be opened. */
#define TESTCTL_DECLARE TESTCTL_CODE(0x901u)

/* Types one stroke (input: testctl_push). On a device whose filter is non-zero
   the record is queued for the client and its input event set; otherwise it
   goes straight to the system. Fails for an undeclared device or when the
   queue is full. With an output buffer of 8 bytes or more it answers the
   time the stroke was typed (int64_t). */
#define TESTCTL_PUSH TESTCTL_CODE(0x902u)

/* Reports the driver's state (output: testctl_status). */
#define TESTCTL_STATUS TESTCTL_CODE(0x903u)

/* Takes the oldest delivered records (output: as many testctl_delivered as fit)
   and removes them; the returned byte count says how many. */
#define TESTCTL_TAKE_DELIVERED TESTCTL_CODE(0x904u)

/* Ends the session: every registered input event is set and stays set, and a
   read finding its queue empty answers 0 bytes, so a client loop that reads
   until nothing comes ends. No buffers.
   The end-of-session marker enters the request record where the client
   meets the end: just before its first read after this request that finds
   its queue empty. Requests the client was still making for its last stroke
   when the end came therefore stand before the marker, as they would before
   a wait that finds no more input. A client that never reads again gets no
   marker. */
#define TESTCTL_END TESTCTL_CODE(0x905u)

/* Takes the oldest request records (output: as many testctl_request as fit)
   and removes them; the returned byte count says how many. Every device
   control on a filter device is recorded as it completes, in arrival order. */
#define TESTCTL_TAKE_REQUESTS TESTCTL_CODE(0x906u)

/* Gives a declared device another hardware id (input: testctl_declare), as
   when a keyboard is unplugged and another plugged in: the next hardware-id
   request on it answers with the new id. Telling the client is the test
   side's business, as the system's notification is. Fails for a device not
   declared. */
#define TESTCTL_CHANGE_ID TESTCTL_CODE(0x907u)

/* Makes one of the client's write requests short or refused (input:
   testctl_short_write_request), as a driver that takes fewer bytes than it is offered,
   or none, would. The count starts at the client's next read that hands over
   a record: number 1 is its first write request on any filter device after
   that read. That request takes at most bytes bytes: the whole records among
   them reach the system, and it reports the bytes taken, whole records or not
   (all it was offered, when that is less); with refuse set it fails instead.
   Of two short writes due at one request the fewer bytes hold; a refusal wins
   over them. Fails for number 0, or when TESTCTL_SHORT_WRITES wait already. */
#define TESTCTL_SHORT_WRITE TESTCTL_CODE(0x908u)

/* Types a burst of strokes on one keyboard (input: testctl_burst) with no
   request per stroke: the keyboard's queue is filled at once and topped up
   again at each read of the client, until count strokes were typed,
   alternating the two records (a press and its release, say). For measuring
   a client: from here until the reset, delivered records are counted and
   not kept, so that a long burst cannot fill the store. Fails for an
   undeclared device, a mouse, a keyboard with no filter, or count 0. */
#define TESTCTL_BURST TESTCTL_CODE(0x909u)

#define TESTCTL_DEVICES 20
#define TESTCTL_RECORD_MAX 24
/* Longest hardware id kept, in UTF-16 units. An answer is 2*(units+1) bytes
   capped at the client's buffer, so a longer id fills any 1000-byte buffer. */
#define TESTCTL_ID_UNITS 1024
/* Request records kept until taken; later ones are counted as lost. */
#define TESTCTL_REQUEST_RECORDS 8192
/* Short or refused writes that may wait at once. */
#define TESTCTL_SHORT_WRITES 16

typedef struct testctl_declare {
    uint32_t device;   /* 1-10 keyboard, 11-20 mouse */
    uint32_t has_id;   /* 0: the hardware-id request fails */
    uint32_t id_units; /* units of id used, at most TESTCTL_ID_UNITS */
    uint16_t id[TESTCTL_ID_UNITS];
} testctl_declare;

typedef struct testctl_push {
    uint32_t device;
    uint8_t record[TESTCTL_RECORD_MAX]; /* the device's wire record: 12 bytes for a keyboard, 24 for a mouse */
} testctl_push;

typedef struct testctl_status {
    uint32_t pushed;         /* strokes typed since the reset */
    uint32_t consumed;       /* of those, records handed out by reads */
    uint32_t delivered;      /* records that reached the system since the reset */
    uint32_t waiting;        /* delivered records not yet taken */
    uint32_t lost;           /* records dropped because the delivered store was full */
    uint32_t ended;          /* TESTCTL_END was issued */
    uint32_t event_fallback; /* events referenced through the client's process, since the driver started */
    uint8_t declared[TESTCTL_DEVICES];
    uint8_t opened[TESTCTL_DEVICES];     /* a client handle is open now */
    uint8_t has_event[TESTCTL_DEVICES];  /* an input event is registered */
    uint8_t event_set[TESTCTL_DEVICES];  /* the driver's view of that event */
    uint8_t filter_set[TESTCTL_DEVICES]; /* a filter request arrived since the reset */
    uint8_t queued[TESTCTL_DEVICES];     /* records waiting to be read */
    uint16_t filter[TESTCTL_DEVICES];
    uint32_t requests_lost;  /* request records dropped because the record was full */
    uint32_t requests_total; /* device controls on the filter devices since the reset, kept or not */
    uint32_t burst_left;     /* strokes of a burst not yet typed */
} testctl_status;

typedef struct testctl_short_write_request {
    uint32_t number; /* 1: the first write request after the next read of a record */
    uint32_t bytes;  /* the most that request takes */
    uint32_t refuse; /* non-zero: the request fails instead */
} testctl_short_write_request;

typedef struct testctl_burst {
    uint32_t device; /* a keyboard, 1-10 */
    uint32_t count;
    uint8_t records[2][12]; /* the first typed first */
} testctl_burst;

typedef struct testctl_delivered {
    uint32_t device;
    uint32_t size; /* 12 or 24 */
    uint8_t record[TESTCTL_RECORD_MAX];
    int64_t time; /* when the record reached the system */
} testctl_delivered;

enum testctl_request_kind {
    TESTCTL_REQUEST_CONTROL = 1, /* a device control on a filter device */
    TESTCTL_REQUEST_END = 2      /* the end-of-session marker; nothing else is set */
};

typedef struct testctl_request {
    uint32_t kind;
    uint32_t device; /* 1-20 */
    uint32_t code;
    uint32_t input_size;
    uint32_t output_size;
    uint32_t returned;          /* bytes reported, 0 when the request failed */
    uint16_t filter;            /* set-filter with 2 or more input bytes: the first two, little-endian */
    uint8_t handle_names_event; /* set-event: the 8-byte field is zero above its low 4 bytes and names an event */
    uint8_t done;               /* the request succeeded */
    int64_t time;               /* when the request was served; 0 for the marker */
} testctl_request;

#endif
