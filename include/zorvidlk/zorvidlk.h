/*
 * zorvidlk: the spectrometer board (a 256-pixel spectrometer and two status
 * LEDs on a serial line) as a C library.
 *
 * Every function returns an int status: 0 for success, a negative code from
 * the table below for a failure. zv_status_text() names any status;
 * zv_error_text() gives the details of the last failure on a handle.
 *
 * Status codes
 *   0     ZV_OK
 *   Opening a port (the serial service's codes):
 *   -1    ZV_ERR_INVALID_PORT      "Invalid COM port": a COM number outside 1..256
 *   -2    ZV_ERR_PORT_IN_USE       "COM port already open": held by this process or another,
 *                                  the system console or the caller's own terminal, or an
 *                                  RFC 2217 server busy with another client
 *   -3    ZV_ERR_CANNOT_OPEN       "Cannot open COM port"
 *   -4    ZV_ERR_NO_MEMORY         "Cannot allocate memory"
 *   -5    ZV_ERR_PARAMETERS        "Error in default parameters": the device refused 8N1
 *   -10   ZV_ERR_NO_HARDWARE       "COM port hardware not present": nothing at that name
 *   -11   ZV_ERR_BYTE_SIZE         "Unsupported byte size"
 *   -12   ZV_ERR_BAUD_RATE         "Unsupported baud rate"
 *   -13   ZV_ERR_NOT_READY         "Event I/O error (virtual port not ready ?)": a link to a
 *                                  missing device, a socket or server nobody serves
 *   -103  ZV_ERR_SYSTEM            an operating-system error; zv_error_text() gives its text
 *   -107  ZV_ERR_TIMED_OUT         "Operation timed out"
 *   An acquisition's failure (the board did not keep to its handshake):
 *   -206  ZV_ERR_CTS_TIMEOUT       CTS not asserted after "S", not released at the scan's
 *                                  end or after the last byte
 *   -207  ZV_ERR_DATA_READY_TIMEOUT CTS not asserted after "g"
 *   -208  ZV_ERR_DATA_TIMEOUT      a pixel byte did not come
 *   The library's own:
 *   -301  ZV_ERR_ARGUMENT          a NULL argument, a value out of range, a struct whose
 *                                  size field is 0 or smaller than this version's
 *   -302  ZV_ERR_BUFFER            the caller's buffer is too small
 *   -303  ZV_ERR_CANCELLED         zv_cancel() ended the operation
 *   -304  ZV_ERR_PORT_LOST         the port itself is gone (device removed, I/O error or
 *                                  hang-up, the network peer closed): every later call on
 *                                  the handle returns it too; close and open again
 *   -305  ZV_ERR_NO_REPLY          the board did not answer the firmware query in time
 *   -306  ZV_ERR_NOT_RECOGNISED    the board's answer did not carry its signature
 *
 * A time-out (-206, -207, -208, -305) leaves the handle usable: retry. A lost
 * port (-304) needs a new handle.
 *
 * Threads: a handle is used by one thread at a time; zv_cancel() is the one
 * call that may come from another thread. Handles are independent: two boards
 * can be driven from two threads at once.
 *
 * The library never prints, never installs signal handlers, never touches the
 * terminal and never ends the process.
 */
#ifndef ZORVIDLK_ZORVIDLK_H
#define ZORVIDLK_ZORVIDLK_H

#include <stddef.h>
#include <stdint.h>

#if defined(ZORVIDLK_STATIC)
#define ZV_API
#elif defined(_WIN32)
#if defined(ZORVIDLK_BUILDING_LIBRARY)
#define ZV_API __declspec(dllexport)
#else
#define ZV_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define ZV_API __attribute__((visibility("default")))
#else
#define ZV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define ZV_OK 0
#define ZV_ERR_INVALID_PORT (-1)
#define ZV_ERR_PORT_IN_USE (-2)
#define ZV_ERR_CANNOT_OPEN (-3)
#define ZV_ERR_NO_MEMORY (-4)
#define ZV_ERR_PARAMETERS (-5)
#define ZV_ERR_NO_HARDWARE (-10)
#define ZV_ERR_BYTE_SIZE (-11)
#define ZV_ERR_BAUD_RATE (-12)
#define ZV_ERR_NOT_READY (-13)
#define ZV_ERR_SYSTEM (-103)
#define ZV_ERR_TIMED_OUT (-107)
#define ZV_ERR_CTS_TIMEOUT (-206)
#define ZV_ERR_DATA_READY_TIMEOUT (-207)
#define ZV_ERR_DATA_TIMEOUT (-208)
#define ZV_ERR_ARGUMENT (-301)
#define ZV_ERR_BUFFER (-302)
#define ZV_ERR_CANCELLED (-303)
#define ZV_ERR_PORT_LOST (-304)
#define ZV_ERR_NO_REPLY (-305)
#define ZV_ERR_NOT_RECOGNISED (-306)

/* Pixels in one scan. */
#define ZV_PIXELS 256

/* An open board; opaque. */
typedef struct zv_board zv_board;

/* Acquisition settings. `size` is sizeof(zv_settings): the struct may grow,
 * and a larger size is accepted (fields beyond this version's are ignored). */
typedef struct zv_settings {
    uint32_t size;
    uint16_t pre_scans;  /* 0..10 scans of 4 ms before the data scans */
    uint16_t data_scans; /* 1..10 */
    uint32_t period_ms;  /* integration period of each data scan, 100..1500 ms */
} zv_settings;

/* What an acquisition did. The caller sets `size` to sizeof(zv_acquisition);
 * the library writes no field beyond it. */
typedef struct zv_acquisition {
    uint32_t size;
    int64_t start_utc_ms; /* when the settings went out, ms since 1970-01-01 UTC */
    int64_t end_utc_ms;   /* when the last value arrived */
    zv_settings settings; /* what was used */
} zv_acquisition;

/* The interactive program's settings: zv_settings s = ZV_SETTINGS_DEFAULT; */
#define ZV_SETTINGS_DEFAULT {sizeof(zv_settings), 3, 3, 650}

/* Opens the board on `port` at `baud` bits per second (8N1, DTR and RTS on).
 * `port`: "3" or "COM3" is COM 3, through the port directory
 * ($ZORVIDLK_PORT_DIR: a COM<n> entry or a port<n>.rfc2217 file) or, without
 * it, the fixed table (Linux: COM1-32 /dev/ttyS0-31, COM33-64 /dev/ttyUSB0-31,
 * COM65-96 /dev/ttyACM0-31; Windows: \\.\COMn); a path is that device
 * (/dev/ttyUSB0, /dev/serial/by-id/..., \\.\COM12); "rfc2217://HOST:PORT" is
 * an RFC 2217 server on the network. The port is taken exclusively; the
 * system console and the caller's own terminal are refused (-2).
 * On success *board is the new handle; on failure it is NULL and
 * zv_error_text(NULL) gives the details on this thread. */
ZV_API int zv_open(const char *port, long baud, zv_board **board);

/* Closes the port (RTS dropped, unsent output discarded, the device's
 * settings given back) and frees the handle, whatever its state. NULL is
 * fine. Returns 0. */
ZV_API int zv_close(zv_board *board);

/* The board's firmware text (what follows its signature's start in its
 * answer to "V", at most 127 characters, no line end), NUL-terminated in
 * `text` of `size` bytes. -305 when no answer came within 2 s, -306 when the
 * answer did not carry the signature, -302 when `size` is too small. */
ZV_API int zv_firmware(zv_board *board, char *text, size_t size);

/* Switches LED 1 or 2 on (on != 0) or off; takes 100 ms. */
ZV_API int zv_led(zv_board *board, int led, int on);

/* Blinks LED 1 or 2 `count` times (1..10000): on for `period_ms`
 * (1..10000 ms), then off for `period_ms`. The LED ends off. Cancellable. */
ZV_API int zv_blink(zv_board *board, int led, int count, unsigned period_ms);

/* One acquisition with `settings` (NULL: ZV_SETTINGS_DEFAULT). `values`
 * receives data_scans x 256 counts, scan-major: values[s * 256 + p] is pixel
 * p (0..255) of data scan s. `count` is the number of elements `values` has
 * room for (-302 below data_scans x 256). `info`, when not NULL, receives the
 * times and settings. On failure the content of `values` is unspecified and
 * the status is the failure's own code (-206, -207, -208), -303 when
 * cancelled or -304 when the port is gone. Takes about 0.4 s plus, per data
 * scan, pre_scans x 4 ms + period_ms and the transfer. Cancellable. */
ZV_API int zv_acquire(zv_board *board, const zv_settings *settings, uint16_t *values,
                      size_t count, zv_acquisition *info);

/* From another thread: ends the acquisition or blink running on `board`
 * within 50 ms; it returns -303 and the handle stays usable (the board's scan
 * is cleared). With nothing running, nothing happens. Returns 0. */
ZV_API int zv_cancel(zv_board *board);

/* Lengthens every time-out of the board's operations to `percent` of its
 * own value (100..1000; 100 by default), for a slow network path. */
ZV_API int zv_set_timeout_scale(zv_board *board, unsigned percent);

/* The last failure on `board` in words (a failed acquisition's line, e.g.
 * "S Command Timeout, Spectrometer CTS never asserted after 503 msecs"), ""
 * when there was none. With NULL, the last failed zv_open on this thread.
 * Valid until the next call on the handle. Never NULL. */
ZV_API const char *zv_error_text(const zv_board *board);

/* Any status in words; never NULL. */
ZV_API const char *zv_status_text(int status);

/* The library's version, "MAJOR.MINOR.PATCH". */
ZV_API const char *zv_version(void);

#ifdef __cplusplus
}
#endif

#endif /* ZORVIDLK_ZORVIDLK_H */
