// Win32 back end of the serial services: a COM port opened for overlapped
// reads, as Windows programs that wait on many ports at once use it.
//
// Principles of operation. A Handle is the number of a record in a fixed
// table: the port's file handle, one read under way into the record's own
// buffer, and an event that read signals. wait() waits on the records' events
// and a wake event together; read_some() hands out what the completed read
// delivered and starts the next one. The reads are started by the thread that
// calls read_some (the engine's reader thread, which lives as long as the
// process): Windows cancels the reads of a thread that ends, so the opening
// thread, which may be short-lived, starts none, but signals the event so that
// the first wait() comes back and the reader starts the first read.
//
// Calls on one handle are made one at a time (the engine makes them under its
// lock); wait() and wake() may run beside them, from any thread.
#include "serial_backend.h"
#include "serial_win32.h"
#include "serial_win32_settings.h"

#include "engine.h"
#include "base/utf16.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

namespace serialdev {

namespace {

// Every port holds at most one device open (COM_PORTS records); as many again
// leave room for what opens devices beside the engine's ports (tools, tests)
// without costing a port its record.
constexpr int kRecords = 2 * COM_PORTS;
// One read takes at most this much: a sixth of a second at 921600 baud, so
// the reader is woken a few times a second at the fastest rate.
constexpr DWORD kReadBytes = 16384;
// All the ports and the wake event in one WaitForMultipleObjects.
static_assert(COM_PORTS + 1 <= MAXIMUM_WAIT_OBJECTS, "one wait covers every port and the wake event");

struct Record {
    HANDLE device = INVALID_HANDLE_VALUE; // INVALID_HANDLE_VALUE: the record is free
    OVERLAPPED overlapped{};
    bool pending = false;   // a read is under way, or completed and not yet collected
    bool cancelled = false; // by the back end itself (flush_input, close)
    DWORD delivered = 0;    // bytes the last collected read put into buffer
    DWORD handedOut = 0;    // of those, handed out by read_some
    std::atomic<bool> gone{false}; // a read failed: the device went away; wait() reads it
    LineCounts lines;       // the line's errors ClearCommError flagged since the open
    unsigned char buffer[kReadBytes];
};

std::mutex g_tableMutex; // taking and freeing records
Record g_records[kRecords];

// The records' events and the wake event, made once and never closed: the
// reader may be inside WaitForMultipleObjects on a record's event while
// another thread closes the port (the program's CloseCom, the reader itself
// taking a device as gone). Were the event closed, the wait would hold a
// handle that no longer exists, or one the system gave to something else. A
// record taken again by another port meanwhile is harmless: the reader checks
// the port's generation after the wait, and a manual-reset event that was
// set stays set until the next read on the record starts, so no completion
// is missed.
struct Events {
    HANDLE record[kRecords];
    HANDLE wake; // auto-reset: one wake() ends one wait()
    Events()
    {
        for (HANDLE &e : record)
            e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }
};

const Events &events()
{
    static const Events all;
    return all;
}

Record *record(Handle h)
{
    if (h < 0 || h >= kRecords || g_records[h].device == INVALID_HANDLE_VALUE)
        return nullptr;
    return &g_records[h];
}

// A free record for device, or -1 when the table is full.
Handle take_record(HANDLE device)
{
    std::lock_guard<std::mutex> lock(g_tableMutex);
    for (Handle h = 0; h < kRecords; ++h) {
        Record &r = g_records[h];
        if (r.device != INVALID_HANDLE_VALUE || events().record[h] == nullptr)
            continue;
        r.device = device;
        r.pending = false;
        r.cancelled = false;
        r.delivered = r.handedOut = 0;
        r.gone = false;
        r.lines = LineCounts{};
        // The first read is the reader's to start: its wait comes back at once.
        SetEvent(events().record[h]);
        return h;
    }
    return -1;
}

void free_record(Record &r)
{
    std::lock_guard<std::mutex> lock(g_tableMutex);
    r.device = INVALID_HANDLE_VALUE;
}

// Starts the next read into the record's buffer. A read that cannot even
// start leaves the event set, so that the reader comes to learn why.
void start_read(Handle h, Record &r)
{
    r.overlapped = OVERLAPPED{};
    r.overlapped.hEvent = events().record[h];
    r.delivered = r.handedOut = 0;
    r.cancelled = false;
    DWORD got = 0;
    if (ReadFile(r.device, r.buffer, kReadBytes, &got, &r.overlapped) || GetLastError() == ERROR_IO_PENDING) {
        r.pending = true; // done or not, the count comes from GetOverlappedResult
        return;
    }
    if (win32_read_error(GetLastError(), false) == COM_ERR_DEVICE_GONE)
        r.gone = true;
    SetEvent(events().record[h]);
}

// Takes in the read under way if it has completed: its bytes are then in
// the buffer, or the record is marked gone, or (cancelled, or empty) the next
// read is to be started.
void collect(Record &r)
{
    DWORD got = 0;
    if (GetOverlappedResult(r.device, &r.overlapped, &got, FALSE)) {
        r.pending = false;
        // Nothing read, no error: an idle port's read timed out empty; the
        // next one waits again.
        r.delivered = got;
        return;
    }
    const DWORD code = GetLastError();
    if (code == ERROR_IO_INCOMPLETE)
        return;
    r.pending = false;
    // A read that ends in an error may have taken bytes in before it did (a
    // device pulled out mid-read): they are handed out before the device is
    // reported gone.
    r.delivered = got;
    if (win32_read_error(code, r.cancelled) == COM_ERR_DEVICE_GONE)
        r.gone = true;
}

// Ends the read under way, if any, and waits until the system let go of the
// buffer. What the buffer holds is dropped, the rest of a completed read not
// yet handed out included: the caller discards the input.
void cancel_read(Record &r)
{
    r.delivered = r.handedOut = 0;
    if (!r.pending)
        return;
    r.cancelled = true;
    CancelIoEx(r.device, &r.overlapped);
    DWORD got = 0;
    GetOverlappedResult(r.device, &r.overlapped, &got, TRUE);
    r.pending = false;
}

} // namespace

// ClearCommError answers from the driver's state at once: no read or write
// of the device waits on it.
bool system_line_counts(Handle h, LineCounts &counts)
{
    Record *r = record(h);
    DWORD errors = 0;
    if (r == nullptr || !ClearCommError(r->device, &errors, nullptr))
        return false;
    add_comm_errors(errors, r->lines);
    counts = r->lines;
    return true;
}

bool valid(const Settings &s)
{
    return s.baud > 0 && s.parity >= 0 && s.parity <= 4 && s.dataBits >= 5 &&
           s.dataBits <= 8 && (s.stopBits == 1 || s.stopBits == 2);
}

Handle open(const char *path, const Settings &settings)
{
    if (!valid(settings))
        return COM_ERR_BAD_SETTING;
    std::wstring wide;
    if (!utf16::from_utf8(path, wide))
        return COM_ERR_NO_DEVICE;
    // No sharing: a COM port is exclusive by nature, and no other program
    // may take bytes meant for the log.
    HANDLE device = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return win32_open_error(GetLastError());
    int result = win32_take(device, settings);
    const Handle h = result == 0 ? take_record(device) : -1;
    if (result == 0 && h < 0)
        result = COM_ERR_SYSTEM; // more devices open than the table holds
    if (result != 0) {
        CloseHandle(device);
        return result;
    }
    return h;
}

int apply(Handle h, const Settings &settings)
{
    Record *r = record(h);
    return r == nullptr ? COM_ERR_SYSTEM : win32_apply(r->device, settings);
}

// Discards what the port holds: the read under way and what it took into the
// buffer, and the driver's input. The reader starts the next read.
void flush_input(Handle h)
{
    Record *r = record(h);
    if (r == nullptr)
        return;
    cancel_read(*r);
    PurgeComm(r->device, PURGE_RXABORT | PURGE_RXCLEAR);
    SetEvent(events().record[h]);
}

long read_some(Handle h, unsigned char *buffer, std::size_t max)
{
    Record *r = record(h);
    if (r == nullptr)
        return COM_ERR_DEVICE_GONE;
    if (r->pending)
        collect(*r);
    if (!r->pending && r->handedOut < r->delivered) {
        const DWORD left = r->delivered - r->handedOut;
        const DWORD n = max < left ? static_cast<DWORD>(max) : left;
        std::memcpy(buffer, r->buffer + r->handedOut, n);
        r->handedOut += n;
        if (r->handedOut == r->delivered && !r->gone)
            start_read(h, *r);
        return static_cast<long>(n);
    }
    if (r->gone)
        return COM_ERR_DEVICE_GONE;
    if (!r->pending)
        start_read(h, *r);
    return 0;
}

void close(Handle h)
{
    Record *r = record(h);
    if (r == nullptr)
        return;
    cancel_read(*r);
    CloseHandle(r->device);
    free_record(*r);
}

void wait(const Handle *devices, Readiness *ready, int count, int timeoutMs)
{
    HANDLE set[COM_PORTS + 1];
    if (count > COM_PORTS)
        count = COM_PORTS;
    int n = 0;
    for (int i = 0; i < count; ++i) {
        ready[i] = Idle;
        if (devices[i] >= 0 && devices[i] < kRecords)
            set[n++] = events().record[devices[i]];
    }
    set[n] = events().wake;
    WaitForMultipleObjects(static_cast<DWORD>(n + 1), set, FALSE,
                           timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    // One object ended the wait; all that are set now are reported.
    for (int i = 0; i < count; ++i) {
        const Handle h = devices[i];
        if (h < 0 || h >= kRecords || WaitForSingleObject(events().record[h], 0) != WAIT_OBJECT_0)
            continue;
        ready[i] = g_records[h].gone ? HungUp : Readable;
    }
}

void wake()
{
    SetEvent(events().wake);
}

} // namespace serialdev
