/*
 * Drives the C API for the black-box suites: one subcommand a scenario, one
 * line a result, which the suites compare with the simulated board's events.
 *
 *   api_driver open PORT...             open and close each port: "open STATUS TEXT"
 *   api_driver firmware PORT            "firmware STATUS TEXT"
 *   api_driver leds PORT COUNT MS       LED 1 on, 2 on, 1 off, 2 off, a blink of LED 2
 *   api_driver acquire PORT PRE DATA MS RUNS
 *                                       RUNS acquisitions on one handle: "acquire
 *                                       STATUS", "text", "clock", "info", "values S ..."
 *   api_driver refuse PORT              every refused call: "refuse NAME STATUS"
 *   api_driver cancel PORT WAIT_MS      zv_cancel from a second thread during a
 *                                       10 x 1500 ms acquisition, then one of 1 x 100 ms
 *   api_driver two PORT PORT            one acquisition on each board, in two threads
 *   api_driver lost PORT                firmware, then waits for a line on standard
 *                                       input (the board is gone), then the calls after it
 *   api_driver status CODE...           "status CODE TEXT"
 *   api_driver bench PORT OPENS PRE DATA MS
 *                                       OPENS opens and closes, "open_ms A close_ms B"
 *                                       each; then one acquisition a line of standard
 *                                       input on one handle: "acquire STATUS MS"
 */
#if !defined(_WIN32)
#define _POSIX_C_SOURCE 200809L
#endif

#include "zorvidlk/zorvidlk.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#include <time.h>
#endif

#define MAX_SCANS 10

/* Milliseconds of a clock that only goes forward, and of UTC since 1970. */
static double monotonic_ms(void) {
#if defined(_WIN32)
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return (double)count.QuadPart * 1000.0 / (double)frequency.QuadPart;
#else
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec * 1000.0 + (double)now.tv_nsec / 1e6;
#endif
}

static long long utc_ms(void) {
#if defined(_WIN32)
    FILETIME now;
    ULARGE_INTEGER ticks;
    GetSystemTimeAsFileTime(&now);
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    /* 100 ns ticks since 1601-01-01. */
    return (long long)(ticks.QuadPart / 10000ULL) - 11644473600000LL;
#else
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return (long long)now.tv_sec * 1000LL + now.tv_nsec / 1000000L;
#endif
}

static void sleep_ms(unsigned ms) {
#if defined(_WIN32)
    Sleep(ms);
#else
    struct timespec pause;
    pause.tv_sec = ms / 1000;
    pause.tv_nsec = (long)(ms % 1000) * 1000000L;
    nanosleep(&pause, NULL);
#endif
}

/* A thread running job(arg). */
typedef void (*job_fn)(void* arg);
typedef struct {
    job_fn job;
    void* arg;
#if defined(_WIN32)
    HANDLE handle;
#else
    pthread_t handle;
#endif
} thread_run;

#if defined(_WIN32)
static DWORD WINAPI thread_entry(LPVOID run) {
    ((thread_run*)run)->job(((thread_run*)run)->arg);
    return 0;
}
#else
static void* thread_entry(void* run) {
    ((thread_run*)run)->job(((thread_run*)run)->arg);
    return NULL;
}
#endif

static int thread_start(thread_run* run, job_fn job, void* arg) {
    run->job = job;
    run->arg = arg;
#if defined(_WIN32)
    run->handle = CreateThread(NULL, 0, thread_entry, run, 0, NULL);
    return run->handle != NULL;
#else
    return pthread_create(&run->handle, NULL, thread_entry, run) == 0;
#endif
}

static void thread_join(thread_run* run) {
#if defined(_WIN32)
    WaitForSingleObject(run->handle, INFINITE);
    CloseHandle(run->handle);
#else
    pthread_join(run->handle, NULL);
#endif
}

static zv_board* open_or_report(const char* port) {
    zv_board* board = NULL;
    const int status = zv_open(port, 115200, &board);
    if (status != ZV_OK) {
        printf("open %d %s\n", status, zv_error_text(NULL));
    }
    return board;
}

/* One acquisition and its report; the values go out as lines of their own
 * when `values_out` is given, else to the caller's buffer only. */
typedef struct {
    zv_board* board;
    const char* port; /* for a job that opens the board itself */
    zv_settings settings;
    uint16_t values[MAX_SCANS * ZV_PIXELS];
    zv_acquisition info;
    int status;
    long long before_utc, after_utc;
    double returned_ms;
    char text[256];
} acquisition_run;

static void acquire_job(void* arg) {
    acquisition_run* run = (acquisition_run*)arg;
    memset(&run->info, 0, sizeof run->info);
    run->info.size = sizeof run->info;
    run->before_utc = utc_ms();
    run->status = zv_acquire(run->board, &run->settings, run->values,
                             sizeof run->values / sizeof run->values[0], &run->info);
    run->returned_ms = monotonic_ms();
    run->after_utc = utc_ms();
    snprintf(run->text, sizeof run->text, "%s", zv_error_text(run->board));
}

static void print_acquisition(const char* tag, const acquisition_run* run) {
    int scan, pixel;
    printf("%sacquire %d\n", tag, run->status);
    printf("%stext %s\n", tag, run->text);
    if (run->status != ZV_OK) {
        return;
    }
    printf("%sclock %lld %lld\n", tag, run->before_utc, run->after_utc);
    printf("%sinfo %lld %lld %u %u %u %lu\n", tag, (long long)run->info.start_utc_ms,
           (long long)run->info.end_utc_ms, (unsigned)run->info.settings.size,
           (unsigned)run->info.settings.pre_scans, (unsigned)run->info.settings.data_scans,
           (unsigned long)run->info.settings.period_ms);
    for (scan = 0; scan < run->settings.data_scans; ++scan) {
        printf("%svalues %d", tag, scan);
        for (pixel = 0; pixel < ZV_PIXELS; ++pixel) {
            printf(" %u", (unsigned)run->values[scan * ZV_PIXELS + pixel]);
        }
        printf("\n");
    }
}

static void set_settings(zv_settings* settings, int pre, int data, long period) {
    settings->size = sizeof *settings;
    settings->pre_scans = (uint16_t)pre;
    settings->data_scans = (uint16_t)data;
    settings->period_ms = (uint32_t)period;
}

static acquisition_run* new_run(zv_board* board, int pre, int data, long period) {
    acquisition_run* run = (acquisition_run*)calloc(1, sizeof *run);
    if (run == NULL) {
        fprintf(stderr, "out of memory\n");
        exit(2);
    }
    run->board = board;
    set_settings(&run->settings, pre, data, period);
    return run;
}

static int do_open(int argc, char** argv) {
    int i;
    for (i = 0; i < argc; ++i) {
        zv_board* board = NULL;
        int status;
        if (i > 0) {
            /* A simulated board refuses a new client (-2) until it has seen
             * the last one gone, which takes it a moment after zv_close. */
            sleep_ms(200);
        }
        status = zv_open(argv[i], 115200, &board);
        printf("open %d %s\n", status, status == ZV_OK ? "" : zv_error_text(NULL));
        if (status == ZV_OK) {
            printf("close %d\n", zv_close(board));
        } else if (board != NULL) {
            printf("open left a handle\n");
        }
    }
    return 0;
}

static int do_firmware(const char* port) {
    char text[128];
    int status;
    zv_board* board = open_or_report(port);
    if (board == NULL) {
        return 1;
    }
    status = zv_firmware(board, text, sizeof text);
    printf("firmware %d %s\n", status, status == ZV_OK ? text : zv_error_text(board));
    zv_close(board);
    return 0;
}

static int do_leds(const char* port, int count, unsigned period_ms) {
    static const int steps[4][2] = {{1, 1}, {2, 1}, {1, 0}, {2, 0}};
    int i;
    double started;
    zv_board* board = open_or_report(port);
    if (board == NULL) {
        return 1;
    }
    for (i = 0; i < 4; ++i) {
        printf("led %d %d %d\n", steps[i][0], steps[i][1], zv_led(board, steps[i][0], steps[i][1]));
    }
    started = monotonic_ms();
    printf("blink %d", zv_blink(board, 2, count, period_ms));
    printf(" %.0f\n", monotonic_ms() - started);
    zv_close(board);
    return 0;
}

static int do_acquire(const char* port, int pre, int data, long period, int runs) {
    int i;
    acquisition_run* run;
    zv_board* board = open_or_report(port);
    if (board == NULL) {
        return 1;
    }
    run = new_run(board, pre, data, period);
    for (i = 0; i < runs; ++i) {
        acquire_job(run);
        print_acquisition("", run);
    }
    free(run);
    zv_close(board);
    return 0;
}

/* Every call the library must refuse before anything goes to the board. */
static int do_refuse(const char* port) {
    static uint16_t values[MAX_SCANS * ZV_PIXELS];
    char text[128];
    zv_settings settings;
    zv_acquisition info;
    zv_board* board = open_or_report(port);
    zv_board* none;
    if (board == NULL) {
        return 1;
    }
    none = board; /* a failed open must set it to NULL */
#define REFUSE(name, call) printf("refuse %s %d\n", name, call)
#define SETTINGS(pre, data, period)                                                                \
    (set_settings(&settings, pre, data, period),                                                   \
     zv_acquire(board, &settings, values, sizeof values / sizeof values[0], NULL))
    REFUSE("pre_scans=11", SETTINGS(11, 1, 100));
    REFUSE("data_scans=0", SETTINGS(0, 0, 100));
    REFUSE("data_scans=11", SETTINGS(0, 11, 100));
    REFUSE("period=99", SETTINGS(0, 1, 99));
    REFUSE("period=1501", SETTINGS(0, 1, 1501));
    set_settings(&settings, 0, 1, 100);
    settings.size = 0;
    REFUSE("settings.size=0", zv_acquire(board, &settings, values, ZV_PIXELS, NULL));
    settings.size = sizeof settings - 1;
    REFUSE("settings.size-1", zv_acquire(board, &settings, values, ZV_PIXELS, NULL));
    set_settings(&settings, 0, 3, 100);
    REFUSE("values=NULL", zv_acquire(board, &settings, NULL, 3 * ZV_PIXELS, NULL));
    REFUSE("count=3x256-1", zv_acquire(board, &settings, values, 3 * ZV_PIXELS - 1, NULL));
    REFUSE("default-count=3x256-1", zv_acquire(board, NULL, values, 3 * ZV_PIXELS - 1, NULL));
    info.size = sizeof info - 1;
    REFUSE("info.size-1", zv_acquire(board, &settings, values, 3 * ZV_PIXELS, &info));
    REFUSE("acquire-board=NULL", zv_acquire(NULL, &settings, values, 3 * ZV_PIXELS, NULL));
    REFUSE("firmware-text=NULL", zv_firmware(board, NULL, sizeof text));
    REFUSE("firmware-size=0", zv_firmware(board, text, 0));
    REFUSE("firmware-board=NULL", zv_firmware(NULL, text, sizeof text));
    REFUSE("led=0", zv_led(board, 0, 1));
    REFUSE("led=3", zv_led(board, 3, 1));
    REFUSE("led-board=NULL", zv_led(NULL, 1, 1));
    REFUSE("blink-led=3", zv_blink(board, 3, 1, 10));
    REFUSE("blink-count=0", zv_blink(board, 1, 0, 10));
    REFUSE("blink-count=10001", zv_blink(board, 1, 10001, 10));
    REFUSE("blink-period=0", zv_blink(board, 1, 1, 0));
    REFUSE("blink-period=10001", zv_blink(board, 1, 1, 10001));
    REFUSE("blink-board=NULL", zv_blink(NULL, 1, 1, 10));
    REFUSE("timeout-scale=99", zv_set_timeout_scale(board, 99));
    REFUSE("timeout-scale=1001", zv_set_timeout_scale(board, 1001));
    REFUSE("timeout-scale-board=NULL", zv_set_timeout_scale(NULL, 100));
    REFUSE("cancel-board=NULL", zv_cancel(NULL));
    REFUSE("open-port=NULL", zv_open(NULL, 115200, &none));
    printf("refuse open-port=NULL-handle %s\n", none == NULL ? "NULL" : "set");
    REFUSE("open-board=NULL", zv_open(port, 115200, NULL));
    printf("text %s\n", zv_error_text(board));
    /* The handle still works after all of them. */
    printf("firmware %d\n", zv_firmware(board, text, sizeof text));
#undef SETTINGS
#undef REFUSE
    zv_close(board);
    return 0;
}

static void cancel_job(void* arg) {
    acquire_job(arg);
}

static int do_cancel(const char* port, unsigned wait_ms) {
    thread_run thread;
    acquisition_run* run;
    double cancelled;
    zv_board* board = open_or_report(port);
    if (board == NULL) {
        return 1;
    }
    run = new_run(board, 0, 10, 1500);
    if (!thread_start(&thread, cancel_job, run)) {
        printf("no thread\n");
        return 1;
    }
    sleep_ms(wait_ms);
    cancelled = monotonic_ms();
    printf("cancel %d\n", zv_cancel(board));
    thread_join(&thread);
    printf("cancelled %d %.1f ms\n", run->status, run->returned_ms - cancelled);
    printf("text %s\n", run->text);
    set_settings(&run->settings, 0, 1, 100);
    acquire_job(run);
    print_acquisition("", run);
    free(run);
    zv_close(board);
    return 0;
}

static void open_and_acquire_job(void* arg) {
    acquisition_run* run = (acquisition_run*)arg;
    zv_board* board = NULL;
    run->status = zv_open(run->port, 115200, &board);
    if (run->status != ZV_OK) {
        snprintf(run->text, sizeof run->text, "%s", zv_error_text(NULL));
        return;
    }
    run->board = board;
    acquire_job(run);
    zv_close(board);
}

static int do_two(const char* first, const char* second) {
    const char* ports[2];
    acquisition_run* runs[2];
    thread_run threads[2];
    int i;
    ports[0] = first;
    ports[1] = second;
    for (i = 0; i < 2; ++i) {
        runs[i] = new_run(NULL, 3, 3, 650);
        runs[i]->port = ports[i];
        if (!thread_start(&threads[i], open_and_acquire_job, runs[i])) {
            printf("no thread\n");
            return 1;
        }
    }
    for (i = 0; i < 2; ++i) {
        thread_join(&threads[i]);
    }
    for (i = 0; i < 2; ++i) {
        print_acquisition(i == 0 ? "1 " : "2 ", runs[i]);
        free(runs[i]);
    }
    return 0;
}

static int do_lost(const char* port) {
    int status;
    char text[128];
    char line[16];
    acquisition_run* run;
    zv_board* board = open_or_report(port);
    if (board == NULL) {
        return 1;
    }
    printf("firmware %d\n", zv_firmware(board, text, sizeof text));
    printf("ready\n");
    fflush(stdout);
    if (fgets(line, sizeof line, stdin) == NULL) {
        return 1;
    }
    run = new_run(board, 0, 1, 100);
    acquire_job(run);
    printf("acquire %d %s\n", run->status, run->text);
    status = zv_firmware(board, text, sizeof text);
    printf("firmware %d %s\n", status, zv_error_text(board));
    printf("led %d\n", zv_led(board, 1, 1));
    printf("close %d\n", zv_close(board));
    free(run);
    return 0;
}

static int do_status(int argc, char** argv) {
    int i;
    for (i = 0; i < argc; ++i) {
        const int code = atoi(argv[i]);
        printf("status %d %s\n", code, zv_status_text(code));
    }
    return 0;
}

/* Figures for the benchmark: the time of an open and of a close, and of
 * acquisitions started one at a time by the benchmark. */
static int do_bench(const char* port, int opens, int pre, int data, long period) {
    char line[16];
    int i;
    acquisition_run* run;
    zv_board* board;
    for (i = 0; i < opens; ++i) {
        double opened, started;
        /* The simulated board takes a moment to see the last client gone:
         * an open right after a close finds it busy (-2). */
        sleep_ms(100);
        started = monotonic_ms();
        board = open_or_report(port);
        if (board == NULL) {
            return 1;
        }
        opened = monotonic_ms();
        zv_close(board);
        printf("open_ms %.3f close_ms %.3f\n", opened - started, monotonic_ms() - opened);
    }
    sleep_ms(100);
    board = open_or_report(port);
    if (board == NULL) {
        return 1;
    }
    run = new_run(board, pre, data, period);
    printf("ready\n");
    fflush(stdout);
    while (fgets(line, sizeof line, stdin) != NULL) {
        const double started = monotonic_ms();
        acquire_job(run);
        printf("acquire %d %.3f\n", run->status, run->returned_ms - started);
        fflush(stdout);
    }
    free(run);
    zv_close(board);
    return 0;
}

int main(int argc, char** argv) {
    const char* command = argc > 1 ? argv[1] : "";
    int status = 2;
    setvbuf(stdout, NULL, _IOLBF, 4096);
    if (strcmp(command, "open") == 0) {
        status = do_open(argc - 2, argv + 2);
    } else if (strcmp(command, "firmware") == 0 && argc == 3) {
        status = do_firmware(argv[2]);
    } else if (strcmp(command, "leds") == 0 && argc == 5) {
        status = do_leds(argv[2], atoi(argv[3]), (unsigned)atoi(argv[4]));
    } else if (strcmp(command, "acquire") == 0 && argc == 7) {
        status = do_acquire(argv[2], atoi(argv[3]), atoi(argv[4]), atol(argv[5]), atoi(argv[6]));
    } else if (strcmp(command, "refuse") == 0 && argc == 3) {
        status = do_refuse(argv[2]);
    } else if (strcmp(command, "cancel") == 0 && argc == 4) {
        status = do_cancel(argv[2], (unsigned)atoi(argv[3]));
    } else if (strcmp(command, "two") == 0 && argc == 4) {
        status = do_two(argv[2], argv[3]);
    } else if (strcmp(command, "lost") == 0 && argc == 3) {
        status = do_lost(argv[2]);
    } else if (strcmp(command, "bench") == 0 && argc == 7) {
        status = do_bench(argv[2], atoi(argv[3]), atoi(argv[4]), atoi(argv[5]), atol(argv[6]));
    } else if (strcmp(command, "status") == 0) {
        status = do_status(argc - 2, argv + 2);
    } else {
        fprintf(stderr, "usage: api_driver open|firmware|leds|acquire|refuse|cancel|two|lost|"
                        "status|bench ... (see the source)\n");
    }
    fflush(stdout);
    return status;
}
