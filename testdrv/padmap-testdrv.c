#include <ntddk.h>

#include "testctl.h"

/* Declared in ntifs.h, which does not mix with ntddk.h. */
NTSYSAPI NTSTATUS NTAPI ZwDuplicateObject(HANDLE source_process, HANDLE source, HANDLE target_process, PHANDLE target,
                                          ACCESS_MASK access, ULONG attributes, ULONG options);

#define CTL_SET_FILTER 0x222010u
#define CTL_SET_EVENT 0x222040u
#define CTL_WRITE 0x222080u
#define CTL_READ 0x222100u
#define CTL_GET_HARDWARE_ID 0x222200u

#define KEYBOARDS 10
#define CONTROL_INDEX TESTCTL_DEVICES
#define QUEUE_RECORDS 64
#define DELIVERED_RECORDS 4096

typedef struct filter_device {
    BOOLEAN declared;
    BOOLEAN has_id;
    BOOLEAN filter_set;
    ULONG open_handles;
    ULONG id_units;
    WCHAR id[TESTCTL_ID_UNITS + 1];
    USHORT filter;
    PKEVENT event;
    BOOLEAN event_is_set;
    ULONG queue_head;
    ULONG queue_count;
    UCHAR queue[QUEUE_RECORDS][TESTCTL_RECORD_MAX];
    /* A TESTCTL_BURST: strokes still to type, and which record comes next. */
    ULONG burst_left;
    ULONG burst_next;
    UCHAR burst[2][12];
} filter_device;

/* A TESTCTL_SHORT_WRITE: waits for the client's next read of a record, then
   counts its write requests down to the one it spoils. */
typedef struct short_write {
    BOOLEAN used;
    BOOLEAN counting;
    BOOLEAN refuse;
    ULONG writes_left; /* counting: write requests until the spoiled one, that one included */
    ULONG bytes;
} short_write;

/* The test double's whole state; TESTCTL_RESET puts it back. */
static KSPIN_LOCK state_lock;
static filter_device devices[TESTCTL_DEVICES];
static testctl_delivered delivered[DELIVERED_RECORDS];
static ULONG delivered_head;
static ULONG delivered_count;
static ULONG pushed_total;
static ULONG consumed_total;
static ULONG delivered_total;
static ULONG lost_total;
static ULONG event_fallbacks;
static BOOLEAN session_ended;
/* Set by TESTCTL_END until a client read meets the end; see testctl.h. */
static BOOLEAN end_unseen;
static testctl_request requests[TESTCTL_REQUEST_RECORDS];
static ULONG requests_head;
static ULONG requests_count;
static ULONG requests_lost;
static ULONG requests_total;
/* Set by TESTCTL_BURST: delivered records are counted, not kept. */
static BOOLEAN delivered_counted_only;
static short_write short_writes[TESTCTL_SHORT_WRITES];
static PDEVICE_OBJECT device_objects[TESTCTL_DEVICES + 1];
static BOOLEAN dos_name_made[TESTCTL_DEVICES + 1];

static void make_names(ULONG index, WCHAR* device_name, WCHAR* dos_name);

/* Built with -nostdlib: no C runtime, so no memcpy/memset behind our back. */
static void copy_bytes(void* to, const void* from, ULONG size) {
    UCHAR* out = (UCHAR*)to;
    const UCHAR* in = (const UCHAR*)from;
    ULONG i;
    for (i = 0; i < size; ++i) out[i] = in[i];
}

static void zero_bytes(void* to, ULONG size) {
    volatile UCHAR* out = (volatile UCHAR*)to;
    ULONG i;
    for (i = 0; i < size; ++i) out[i] = 0;
}

/* Imported from hal.dll, where Wine has it (see testdrv/build). */
static LONGLONG now_count(void) {
    return KeQueryPerformanceCounter(NULL).QuadPart;
}

static ULONG record_size(ULONG index) {
    return index < KEYBOARDS ? 12u : 24u;
}

/* The input event follows the queue: set while records wait (or the session
   has ended), clear otherwise. The client never sets or clears it itself,
   so an event already as wanted is left alone, as a real driver's costs
   nothing; force is for an event just registered. Called with the lock
   held. */
static void sync_event(filter_device* dev, BOOLEAN force) {
    BOOLEAN want = dev->queue_count > 0 || session_ended;
    if (dev->event == NULL) return;
    if (!force && dev->event_is_set == want) return;
    if (want) {
        KeSetEvent(dev->event, IO_NO_INCREMENT, FALSE);
    } else {
        KeClearEvent(dev->event);
    }
    dev->event_is_set = want;
}

static void update_event(filter_device* dev) {
    sync_event(dev, FALSE);
}

/* Called with the lock held. Returns FALSE (and counts the loss) when the
   store is full, so a writer learns that the record was not taken. */
static BOOLEAN deliver(ULONG index, const UCHAR* record) {
    ULONG size = record_size(index);
    testctl_delivered* slot;
    if (delivered_counted_only) {
        ++delivered_total;
        return TRUE;
    }
    if (delivered_count == DELIVERED_RECORDS) {
        ++lost_total;
        return FALSE;
    }
    slot = &delivered[(delivered_head + delivered_count) % DELIVERED_RECORDS];
    zero_bytes(slot, sizeof *slot);
    slot->device = index + 1;
    slot->size = size;
    copy_bytes(slot->record, record, size);
    slot->time = now_count();
    ++delivered_count;
    ++delivered_total;
    return TRUE;
}

/* Keeps a burst's keyboard queue full while strokes of it are left. Called
   with the lock held. */
static void top_up_burst(filter_device* dev) {
    while (dev->burst_left > 0 && dev->queue_count < QUEUE_RECORDS) {
        UCHAR* slot = dev->queue[(dev->queue_head + dev->queue_count) % QUEUE_RECORDS];
        zero_bytes(slot, TESTCTL_RECORD_MAX);
        copy_bytes(slot, dev->burst[dev->burst_next], 12);
        dev->burst_next ^= 1;
        --dev->burst_left;
        ++dev->queue_count;
        ++pushed_total;
    }
}

/* Called with the lock held. */
static void set_id(filter_device* dev, BOOLEAN has_id, ULONG units, const WCHAR* id) {
    dev->has_id = has_id;
    dev->id_units = has_id ? units : 0;
    copy_bytes(dev->id, id, dev->id_units * 2);
    dev->id[dev->id_units] = 0;
}

/* Called with the lock held, for a read that handed over a record. */
static void start_short_writes(void) {
    ULONG i;
    for (i = 0; i < TESTCTL_SHORT_WRITES; ++i) {
        if (short_writes[i].used) short_writes[i].counting = TRUE;
    }
}

/* Called with the lock held, once for every write request. Returns TRUE
   when the request is refused; otherwise lowers *limit to what a short
   write due now takes and sets *shortened. */
static BOOLEAN spoil_write(ULONG* limit, BOOLEAN* shortened) {
    BOOLEAN refused = FALSE;
    ULONG i;
    *shortened = FALSE;
    for (i = 0; i < TESTCTL_SHORT_WRITES; ++i) {
        short_write* spoil = &short_writes[i];
        if (!spoil->used || !spoil->counting || --spoil->writes_left > 0) continue;
        spoil->used = FALSE;
        if (spoil->refuse) {
            refused = TRUE;
            continue;
        }
        *shortened = TRUE;
        if (spoil->bytes < *limit) *limit = spoil->bytes;
    }
    return refused;
}

/* Called with the lock held. */
static NTSTATUS add_short_write(const testctl_short_write_request* request) {
    ULONG i;
    if (request->number == 0) return STATUS_INVALID_PARAMETER;
    for (i = 0; i < TESTCTL_SHORT_WRITES; ++i) {
        short_write* spoil = &short_writes[i];
        if (spoil->used) continue;
        spoil->used = TRUE;
        spoil->counting = FALSE;
        spoil->refuse = request->refuse != 0;
        spoil->writes_left = request->number;
        spoil->bytes = request->bytes;
        return STATUS_SUCCESS;
    }
    return STATUS_INSUFFICIENT_RESOURCES;
}

/* Called with the lock held. A full record keeps what it has: the oldest
   requests matter most to a test that compares records from the start. */
static void record_request(const testctl_request* request) {
    if (request->kind == TESTCTL_REQUEST_CONTROL) ++requests_total;
    if (requests_count == TESTCTL_REQUEST_RECORDS) {
        ++requests_lost;
        return;
    }
    copy_bytes(&requests[(requests_head + requests_count) % TESTCTL_REQUEST_RECORDS], request, sizeof *request);
    ++requests_count;
}

/* Called with the lock held. */
static void record_end(void) {
    testctl_request marker;
    zero_bytes(&marker, sizeof marker);
    marker.kind = TESTCTL_REQUEST_END;
    record_request(&marker);
}

/* The client's handle is only valid in its own process. Referencing it for
   UserMode works on Windows; where the request is served from another process
   the handle is first copied into ours. */
static NTSTATUS reference_client_event(HANDLE handle, PKEVENT* event) {
    NTSTATUS status;
    HANDLE process = NULL;
    HANDLE copy = NULL;
    OBJECT_ATTRIBUTES attributes;
    CLIENT_ID client;

    status = ObReferenceObjectByHandle(handle, EVENT_MODIFY_STATE, (POBJECT_TYPE)ExEventObjectType, UserMode,
                                       (PVOID*)event, NULL);
    if (NT_SUCCESS(status)) return status;

    InitializeObjectAttributes(&attributes, NULL, OBJ_KERNEL_HANDLE, NULL, NULL);
    client.UniqueProcess = PsGetCurrentProcessId();
    client.UniqueThread = NULL;
    status = ZwOpenProcess(&process, PROCESS_DUP_HANDLE, &attributes, &client);
    if (!NT_SUCCESS(status)) return status;
    status = ZwDuplicateObject(process, handle, NtCurrentProcess(), &copy, 0, 0, DUPLICATE_SAME_ACCESS);
    ZwClose(process);
    if (!NT_SUCCESS(status)) return status;
    status = ObReferenceObjectByHandle(copy, EVENT_MODIFY_STATE, (POBJECT_TYPE)ExEventObjectType, KernelMode,
                                       (PVOID*)event, NULL);
    ZwClose(copy);
    if (NT_SUCCESS(status)) ++event_fallbacks;
    return status;
}

/* names_event tells the request record whether the field was the client's
   form of an event handle: zero above the low four bytes. */
static NTSTATUS set_event(filter_device* dev, const UCHAR* in, ULONG in_size, BOOLEAN* names_event) {
    ULONG64 raw;
    PKEVENT event = NULL;
    PKEVENT old;
    KIRQL irql;
    NTSTATUS status;
    if (in_size < 8) return STATUS_INVALID_PARAMETER;
    copy_bytes(&raw, in, 8);
    status = reference_client_event((HANDLE)(ULONG_PTR)raw, &event);
    if (!NT_SUCCESS(status)) return status;
    *names_event = (raw >> 32) == 0;
    KeAcquireSpinLock(&state_lock, &irql);
    old = dev->event;
    dev->event = event;
    sync_event(dev, TRUE);
    KeReleaseSpinLock(&state_lock, irql);
    if (old != NULL) ObDereferenceObject(old);
    return STATUS_SUCCESS;
}

static NTSTATUS filter_control(ULONG index, ULONG code, UCHAR* buffer, ULONG in_size, ULONG out_size,
                               ULONG_PTR* returned, BOOLEAN* names_event) {
    filter_device* dev = &devices[index];
    ULONG size = record_size(index);
    NTSTATUS status = STATUS_SUCCESS;
    BOOLEAN shortened;
    KIRQL irql;
    ULONG limit;
    ULONG n;

    if (code == CTL_SET_EVENT) return set_event(dev, buffer, in_size, names_event);

    KeAcquireSpinLock(&state_lock, &irql);
    switch (code) {
    case CTL_SET_FILTER:
        if (in_size < 2) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        copy_bytes(&dev->filter, buffer, 2);
        dev->filter_set = TRUE;
        break;
    case CTL_WRITE:
        limit = in_size;
        if (spoil_write(&limit, &shortened)) {
            status = STATUS_UNSUCCESSFUL;
            break;
        }
        for (n = 0; n < limit / size; ++n) {
            if (!deliver(index, buffer + n * size)) break;
        }
        *returned = shortened && n == limit / size ? limit : n * size;
        break;
    case CTL_READ:
        for (n = 0; n < out_size / size && dev->queue_count > 0; ++n) {
            copy_bytes(buffer + n * size, dev->queue[dev->queue_head], size);
            dev->queue_head = (dev->queue_head + 1) % QUEUE_RECORDS;
            --dev->queue_count;
            ++consumed_total;
        }
        top_up_burst(dev);
        update_event(dev);
        *returned = n * size;
        if (n > 0) start_short_writes();
        /* Only a read that finds nothing shows the client the end: before it
           the client was still busy with its last stroke. */
        if (n == 0 && end_unseen) {
            record_end();
            end_unseen = FALSE;
        }
        break;
    case CTL_GET_HARDWARE_ID:
        if (!dev->has_id) {
            status = STATUS_UNSUCCESSFUL;
            break;
        }
        n = (dev->id_units + 1) * 2;
        if (n > out_size) n = out_size;
        copy_bytes(buffer, dev->id, n);
        *returned = n;
        break;
    default: status = STATUS_INVALID_DEVICE_REQUEST; break;
    }
    KeReleaseSpinLock(&state_lock, irql);
    return status;
}

/* Called with the lock held. */
static NTSTATUS push_stroke(const testctl_push* push, LONGLONG* typed_at) {
    ULONG index;
    filter_device* dev;
    *typed_at = now_count();
    if (push->device < 1 || push->device > TESTCTL_DEVICES) return STATUS_INVALID_PARAMETER;
    index = push->device - 1;
    dev = &devices[index];
    if (!dev->declared) return STATUS_NO_SUCH_DEVICE;
    if (dev->filter == 0) {
        if (!deliver(index, push->record)) return STATUS_INSUFFICIENT_RESOURCES;
        ++pushed_total;
        return STATUS_SUCCESS;
    }
    if (dev->queue_count == QUEUE_RECORDS) return STATUS_INSUFFICIENT_RESOURCES;
    copy_bytes(dev->queue[(dev->queue_head + dev->queue_count) % QUEUE_RECORDS], push->record, record_size(index));
    ++dev->queue_count;
    ++pushed_total;
    update_event(dev);
    return STATUS_SUCCESS;
}

/* Called with the lock held, after the request was checked. */
static void declare_device(const testctl_declare* declare) {
    filter_device* dev = &devices[declare->device - 1];
    dev->declared = TRUE;
    set_id(dev, declare->has_id != 0, declare->id_units, declare->id);
}

/* Called with the lock held, after the request was checked. */
static NTSTATUS change_id(const testctl_declare* change) {
    filter_device* dev = &devices[change->device - 1];
    if (!dev->declared) return STATUS_NO_SUCH_DEVICE;
    set_id(dev, change->has_id != 0, change->id_units, change->id);
    return STATUS_SUCCESS;
}

/* Called with the lock held. */
static NTSTATUS start_burst(const testctl_burst* burst) {
    filter_device* dev;
    if (burst->device < 1 || burst->device > KEYBOARDS || burst->count == 0) return STATUS_INVALID_PARAMETER;
    dev = &devices[burst->device - 1];
    if (!dev->declared) return STATUS_NO_SUCH_DEVICE;
    if (dev->filter == 0) return STATUS_INVALID_DEVICE_STATE;
    copy_bytes(dev->burst, burst->records, sizeof dev->burst);
    dev->burst_left = burst->count;
    dev->burst_next = 0;
    delivered_counted_only = TRUE;
    top_up_burst(dev);
    update_event(dev);
    return STATUS_SUCCESS;
}

/* Called with the lock held. */
static void report_status(testctl_status* out) {
    ULONG i;
    zero_bytes(out, sizeof *out);
    out->pushed = pushed_total;
    out->consumed = consumed_total;
    out->delivered = delivered_total;
    out->waiting = delivered_count;
    out->lost = lost_total;
    out->ended = session_ended;
    out->event_fallback = event_fallbacks;
    out->requests_lost = requests_lost;
    out->requests_total = requests_total;
    for (i = 0; i < TESTCTL_DEVICES; ++i) {
        out->burst_left += devices[i].burst_left;
        out->declared[i] = devices[i].declared;
        out->opened[i] = devices[i].open_handles > 0;
        out->has_event[i] = devices[i].event != NULL;
        out->event_set[i] = devices[i].event_is_set;
        out->filter_set[i] = devices[i].filter_set;
        out->queued[i] = (UCHAR)devices[i].queue_count;
        out->filter[i] = devices[i].filter;
    }
}

/* Called with the lock held. */
static ULONG take_delivered(UCHAR* out, ULONG out_size) {
    ULONG n;
    for (n = 0; n < out_size / sizeof(testctl_delivered) && delivered_count > 0; ++n) {
        copy_bytes(out + n * sizeof(testctl_delivered), &delivered[delivered_head], sizeof(testctl_delivered));
        delivered_head = (delivered_head + 1) % DELIVERED_RECORDS;
        --delivered_count;
    }
    return n * sizeof(testctl_delivered);
}

/* Called with the lock held. */
static ULONG take_requests(UCHAR* out, ULONG out_size) {
    ULONG n;
    for (n = 0; n < out_size / sizeof(testctl_request) && requests_count > 0; ++n) {
        copy_bytes(out + n * sizeof(testctl_request), &requests[requests_head], sizeof(testctl_request));
        requests_head = (requests_head + 1) % TESTCTL_REQUEST_RECORDS;
        --requests_count;
    }
    return n * sizeof(testctl_request);
}

/* A device's DOS name exists only while it is declared, so opening an
   undeclared device fails as when the driver does not provide it (an open
   cannot be refused from the create request everywhere). */
static NTSTATUS make_dos_name(ULONG index) {
    WCHAR device_name[64];
    WCHAR dos_name[64];
    UNICODE_STRING name;
    UNICODE_STRING link;
    NTSTATUS status;
    if (dos_name_made[index]) return STATUS_SUCCESS;
    make_names(index, device_name, dos_name);
    RtlInitUnicodeString(&name, device_name);
    RtlInitUnicodeString(&link, dos_name);
    status = IoCreateSymbolicLink(&link, &name);
    if (NT_SUCCESS(status)) dos_name_made[index] = TRUE;
    return status;
}

static void remove_dos_name(ULONG index) {
    WCHAR device_name[64];
    WCHAR dos_name[64];
    UNICODE_STRING link;
    if (!dos_name_made[index]) return;
    make_names(index, device_name, dos_name);
    RtlInitUnicodeString(&link, dos_name);
    IoDeleteSymbolicLink(&link);
    dos_name_made[index] = FALSE;
}

static void reset_state(void) {
    PKEVENT events[TESTCTL_DEVICES];
    ULONG opened[TESTCTL_DEVICES];
    KIRQL irql;
    ULONG i;
    KeAcquireSpinLock(&state_lock, &irql);
    for (i = 0; i < TESTCTL_DEVICES; ++i) {
        events[i] = devices[i].event;
        opened[i] = devices[i].open_handles;
    }
    zero_bytes(devices, sizeof devices);
    for (i = 0; i < TESTCTL_DEVICES; ++i) devices[i].open_handles = opened[i];
    delivered_head = 0;
    delivered_count = 0;
    pushed_total = 0;
    consumed_total = 0;
    delivered_total = 0;
    lost_total = 0;
    session_ended = FALSE;
    end_unseen = FALSE;
    requests_head = 0;
    requests_count = 0;
    requests_lost = 0;
    requests_total = 0;
    delivered_counted_only = FALSE;
    zero_bytes(short_writes, sizeof short_writes);
    KeReleaseSpinLock(&state_lock, irql);
    for (i = 0; i < TESTCTL_DEVICES; ++i) {
        if (events[i] != NULL) ObDereferenceObject(events[i]);
        remove_dos_name(i);
    }
}

static NTSTATUS test_control(ULONG code, UCHAR* buffer, ULONG in_size, ULONG out_size, ULONG_PTR* returned) {
    NTSTATUS status = STATUS_SUCCESS;
    LONGLONG typed_at;
    KIRQL irql;
    ULONG i;

    if (code == TESTCTL_RESET) {
        reset_state();
        return STATUS_SUCCESS;
    }
    if (code == TESTCTL_DECLARE || code == TESTCTL_CHANGE_ID) {
        const testctl_declare* declare = (const testctl_declare*)buffer;
        if (in_size < FIELD_OFFSET(testctl_declare, id)) return STATUS_INVALID_PARAMETER;
        if (declare->device < 1 || declare->device > TESTCTL_DEVICES) return STATUS_INVALID_PARAMETER;
        if (declare->id_units > TESTCTL_ID_UNITS) return STATUS_INVALID_PARAMETER;
        if (in_size < FIELD_OFFSET(testctl_declare, id) + declare->id_units * 2) return STATUS_INVALID_PARAMETER;
    }
    if (code == TESTCTL_DECLARE) {
        status = make_dos_name(((const testctl_declare*)buffer)->device - 1);
        if (!NT_SUCCESS(status)) return status;
    }
    KeAcquireSpinLock(&state_lock, &irql);
    switch (code) {
    case TESTCTL_DECLARE: declare_device((const testctl_declare*)buffer); break;
    case TESTCTL_CHANGE_ID: status = change_id((const testctl_declare*)buffer); break;
    case TESTCTL_PUSH:
        if (in_size < sizeof(testctl_push)) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        status = push_stroke((const testctl_push*)buffer, &typed_at);
        /* The buffer is shared with the output: the record was read first. */
        if (NT_SUCCESS(status) && out_size >= sizeof typed_at) {
            copy_bytes(buffer, &typed_at, sizeof typed_at);
            *returned = sizeof typed_at;
        }
        break;
    case TESTCTL_STATUS:
        if (out_size < sizeof(testctl_status)) {
            status = STATUS_BUFFER_TOO_SMALL;
            break;
        }
        report_status((testctl_status*)buffer);
        *returned = sizeof(testctl_status);
        break;
    case TESTCTL_SHORT_WRITE:
        if (in_size < sizeof(testctl_short_write_request)) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        status = add_short_write((const testctl_short_write_request*)buffer);
        break;
    case TESTCTL_BURST:
        if (in_size < sizeof(testctl_burst)) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        status = start_burst((const testctl_burst*)buffer);
        break;
    case TESTCTL_TAKE_DELIVERED: *returned = take_delivered(buffer, out_size); break;
    case TESTCTL_TAKE_REQUESTS: *returned = take_requests(buffer, out_size); break;
    case TESTCTL_END:
        if (!session_ended) end_unseen = TRUE;
        session_ended = TRUE;
        for (i = 0; i < TESTCTL_DEVICES; ++i) update_event(&devices[i]);
        break;
    default: status = STATUS_INVALID_DEVICE_REQUEST; break;
    }
    KeReleaseSpinLock(&state_lock, irql);
    return status;
}

static ULONG device_index(PDEVICE_OBJECT object) {
    return *(ULONG*)object->DeviceExtension;
}

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR returned) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = NT_SUCCESS(status) ? returned : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS dispatch_create(PDEVICE_OBJECT object, PIRP irp) {
    ULONG index = device_index(object);
    NTSTATUS status = STATUS_SUCCESS;
    KIRQL irql;
    if (index == CONTROL_INDEX) return complete(irp, STATUS_SUCCESS, 0);
    KeAcquireSpinLock(&state_lock, &irql);
    if (devices[index].declared) {
        ++devices[index].open_handles;
    } else {
        status = STATUS_NO_SUCH_DEVICE;
    }
    KeReleaseSpinLock(&state_lock, irql);
    return complete(irp, status, 0);
}

/* When its client goes away a device stops capturing: strokes reach the system
   again, including any the client left unread; what a burst had left to type
   is dropped. */
static NTSTATUS dispatch_close(PDEVICE_OBJECT object, PIRP irp) {
    ULONG index = device_index(object);
    filter_device* dev;
    PKEVENT event;
    KIRQL irql;
    if (index == CONTROL_INDEX) return complete(irp, STATUS_SUCCESS, 0);
    dev = &devices[index];
    KeAcquireSpinLock(&state_lock, &irql);
    if (dev->open_handles > 0) --dev->open_handles;
    event = dev->event;
    dev->event = NULL;
    dev->event_is_set = FALSE;
    dev->filter = 0;
    dev->burst_left = 0;
    while (dev->queue_count > 0 && deliver(index, dev->queue[dev->queue_head])) {
        dev->queue_head = (dev->queue_head + 1) % QUEUE_RECORDS;
        --dev->queue_count;
    }
    KeReleaseSpinLock(&state_lock, irql);
    if (event != NULL) ObDereferenceObject(event);
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS dispatch_cleanup(PDEVICE_OBJECT object, PIRP irp) {
    (void)object;
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS dispatch_control(PDEVICE_OBJECT object, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG in_size = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out_size = stack->Parameters.DeviceIoControl.OutputBufferLength;
    UCHAR* buffer = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
    ULONG index = device_index(object);
    ULONG_PTR returned = 0;
    BOOLEAN names_event = FALSE;
    testctl_request note;
    NTSTATUS status;
    KIRQL irql;
    if (index == CONTROL_INDEX) {
        if (buffer == NULL && (in_size > 0 || out_size > 0)) return complete(irp, STATUS_INVALID_PARAMETER, 0);
        status = test_control(code, buffer, in_size, out_size, &returned);
        return complete(irp, status, returned);
    }

    zero_bytes(&note, sizeof note);
    note.kind = TESTCTL_REQUEST_CONTROL;
    note.device = index + 1;
    note.code = code;
    note.input_size = in_size;
    note.output_size = out_size;
    /* The buffer is shared with the output: the input is read before the
       request is served. */
    if (code == CTL_SET_FILTER && in_size >= 2 && buffer != NULL) copy_bytes(&note.filter, buffer, 2);
    if (buffer == NULL && (in_size > 0 || out_size > 0)) {
        status = STATUS_INVALID_PARAMETER;
    } else {
        status = filter_control(index, code, buffer, in_size, out_size, &returned, &names_event);
    }
    note.time = now_count();
    note.done = NT_SUCCESS(status);
    note.returned = note.done ? (ULONG)returned : 0;
    note.handle_names_event = note.done && names_event;
    KeAcquireSpinLock(&state_lock, &irql);
    record_request(&note);
    KeReleaseSpinLock(&state_lock, irql);
    return complete(irp, status, returned);
}

static void make_names(ULONG index, WCHAR* device_name, WCHAR* dos_name) {
    static const WCHAR device_prefix[] = L"\\Device\\Interception";
    static const WCHAR dos_prefix[] = L"\\DosDevices\\interception";
    static const WCHAR control_device[] = L"\\Device\\PadmapTestCtl";
    static const WCHAR control_dos[] = L"\\DosDevices\\padmaptestctl";
    ULONG n;
    if (index == CONTROL_INDEX) {
        copy_bytes(device_name, control_device, sizeof control_device);
        copy_bytes(dos_name, control_dos, sizeof control_dos);
        return;
    }
    n = sizeof device_prefix / sizeof(WCHAR) - 1;
    copy_bytes(device_name, device_prefix, n * sizeof(WCHAR));
    device_name[n] = (WCHAR)(L'0' + index / 10);
    device_name[n + 1] = (WCHAR)(L'0' + index % 10);
    device_name[n + 2] = 0;
    n = sizeof dos_prefix / sizeof(WCHAR) - 1;
    copy_bytes(dos_name, dos_prefix, n * sizeof(WCHAR));
    dos_name[n] = (WCHAR)(L'0' + index / 10);
    dos_name[n + 1] = (WCHAR)(L'0' + index % 10);
    dos_name[n + 2] = 0;
}

static void remove_devices(void) {
    ULONG i;
    for (i = 0; i <= CONTROL_INDEX; ++i) {
        remove_dos_name(i);
        if (device_objects[i] == NULL) continue;
        IoDeleteDevice(device_objects[i]);
        device_objects[i] = NULL;
    }
}

static void driver_unload(PDRIVER_OBJECT driver) {
    (void)driver;
    reset_state();
    remove_devices();
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
    WCHAR device_name[64];
    WCHAR dos_name[64];
    UNICODE_STRING name;
    NTSTATUS status;
    ULONG i;
    (void)registry_path;

    KeInitializeSpinLock(&state_lock);
    driver->MajorFunction[IRP_MJ_CREATE] = dispatch_create;
    driver->MajorFunction[IRP_MJ_CLEANUP] = dispatch_cleanup;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_close;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch_control;
    driver->DriverUnload = driver_unload;

    for (i = 0; i <= CONTROL_INDEX; ++i) {
        make_names(i, device_name, dos_name);
        RtlInitUnicodeString(&name, device_name);
        status = IoCreateDevice(driver, sizeof(ULONG), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device_objects[i]);
        if (!NT_SUCCESS(status)) {
            device_objects[i] = NULL;
            remove_devices();
            return status;
        }
        *(ULONG*)device_objects[i]->DeviceExtension = i;
        device_objects[i]->Flags &= ~DO_DEVICE_INITIALIZING;
    }
    status = make_dos_name(CONTROL_INDEX);
    if (!NT_SUCCESS(status)) remove_devices();
    return status;
}
