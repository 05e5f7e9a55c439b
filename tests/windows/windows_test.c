/*
 * NXTKA.dll as a Windows measuring application uses it: loaded with
 * LoadLibrary, every export found by its plain name, one COM port activated,
 * identified, read from and commanded, released, and the library unloaded
 * while a port is still active.
 *
 * Needs the simulated amplifier on the port (tests/windows/run maps COM5 to
 * it): protocol level 3, a constant value, values streaming.
 *
 * usage: nxtka_windows_test [--dll PATH] [--port N] [--model N] [--value X]
 *        (--child exit: the helper process of one test)
 * Prints every failed check and ends with "N passed, N failed"; the exit
 * status is 1 when a check failed.
 */
#include <windows.h>

#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "nxtka.h"
#include "export_names.h"

#define kExportCount ((int)(sizeof kExportNames / sizeof kExportNames[0]))

/* The library's version resource says 1.53.0.32. */
#define kExpectedVersion 0x00010035
#define kExpectedRevision 0x00000020

/* Every export the program calls, typed as the header declares it. */
#define API(X)                                                                                       \
    X(TKAactivateExtended) X(TKAactivate) X(TKArelease) X(TKAgetLocalBaudRate) X(TKAversion)         \
    X(TKArevision) X(TKAmodel) X(TKAread) X(TKAreadMultiple) X(TKAreceived) X(NXinternalStatus)      \
    X(TKAflushBuffer) X(TKAclearBuffer) X(TKAstopTransmit) X(TKAstartTransmit) X(TKAgetValues)       \
    X(NXsendBytes) X(NXasynchronousSendBytes) X(NXsynchronizeSendBytes) X(NXrequestEvent)            \
    X(NXgetDeviceName)

#define DECLARE(name) static __typeof__(&name) p##name;
API(DECLARE)

static int passed, failed;

static void check(int ok, int line, const char *fmt, ...) {
    va_list ap;
    if (ok) {
        ++passed;
        return;
    }
    ++failed;
    printf("FAIL line %d: ", line);
    va_start(ap, fmt);
    vprintf(fmt, ap);
    va_end(ap);
    printf("\n");
    fflush(stdout);
}

#define CHECK(cond, ...) check((cond) ? 1 : 0, __LINE__, __VA_ARGS__)

static struct {
    const char *dll;
    const char *child;
    uint32_t port;
    int32_t model;
    double value;
} opt = {"NXTKA.dll", NULL, 5, 3, 0.25};

/* A value as the amplifier sends it: 24-bit codes, so well within 1e-3. */
static int isExpected(double v) { return fabs(v - opt.value) < 1e-3; }

/* Loads the library and finds the exports; false when any is missing. */
static HMODULE load(void) {
    HMODULE dll = LoadLibraryA(opt.dll);
    int i, missing = 0;
    CHECK(dll != NULL, "LoadLibrary(%s) failed with error %lu", opt.dll, (unsigned long)GetLastError());
    if (dll == NULL) return NULL;
    for (i = 0; i < kExportCount; ++i) {
        if (GetProcAddress(dll, kExportNames[i]) == NULL) {
            ++missing;
            CHECK(0, "export %s is not found by its plain name", kExportNames[i]);
        }
    }
    CHECK(missing == 0, "%d of %d exports are missing", missing, kExportCount);
#define RESOLVE(name) p##name = (__typeof__(&name))(void (*)(void))GetProcAddress(dll, #name);
    API(RESOLVE)
    return missing == 0 ? dll : NULL;
}

/* Waits up to `ms` for a value to be waiting on the port. */
static int waitForValue(DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        if (pTKAreceived(opt.port) == 1) return 1;
        Sleep(10);
    } while (GetTickCount() - start < ms);
    return 0;
}

/* Steps that hang when the library cannot end a pending read or is unloaded
 * under the loader lock: a watchdog ends the program when one takes longer
 * than its limit. It runs from the start, since a new thread waits for the
 * loader lock before it runs. */
static volatile LONG watchArmed;
static volatile DWORD watchDeadline;
static const char *volatile watchWhat;

static DWORD WINAPI watchdog(LPVOID arg) {
    (void)arg;
    for (;; Sleep(100)) {
        if (watchArmed && (LONG)(GetTickCount() - watchDeadline) > 0) {
            printf("FAIL: %s did not return in time\n", watchWhat);
            printf("%d passed, %d failed\n", passed, failed + 1);
            TerminateProcess(GetCurrentProcess(), 2);
        }
    }
    return 0;
}

static void arm(const char *what, DWORD ms) {
    watchWhat = what;
    watchDeadline = GetTickCount() + ms;
    InterlockedExchange(&watchArmed, 1);
}

static void disarm(void) { InterlockedExchange(&watchArmed, 0); }

/* Activation records the library cannot read are refused before it opens
 * anything: an address nothing is mapped at, and a record whose size field
 * is readable but whose rest lies on a page without access. */
static void unreadableRecords(void) {
    SYSTEM_INFO si;
    unsigned char *pages;
    DWORD old = 0;
    GetSystemInfo(&si);
    CHECK(pTKAactivateExtended(opt.port, (const ActivationParams *)(uintptr_t)16) == -1,
          "activation with a record at address 16");
    pages = (unsigned char *)VirtualAlloc(NULL, 2 * (SIZE_T)si.dwPageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    CHECK(pages != NULL, "VirtualAlloc");
    if (pages == NULL) return;
    if (VirtualProtect(pages + si.dwPageSize, si.dwPageSize, PAGE_NOACCESS, &old)) {
        const int32_t head[2] = {16, 100};
        unsigned char *record = pages + si.dwPageSize - sizeof head;
        memcpy(record, head, sizeof head);
        CHECK(pTKAactivateExtended(opt.port, (const ActivationParams *)(void *)record) == -1,
              "activation with a record running into a page without access");
        CHECK(pTKAmodel(opt.port) == -1, "port active after a refused record");
    } else {
        CHECK(0, "VirtualProtect");
    }
    VirtualFree(pages, 0, MEM_RELEASE);
}

static void identification(void) {
    char name[NXTKA_DEVICE_NAME_MAX], want[64];
    CHECK(pTKAversion() == kExpectedVersion, "TKAversion() = 0x%08lx", (unsigned long)pTKAversion());
    CHECK(pTKArevision() == kExpectedRevision, "TKArevision() = 0x%08lx", (unsigned long)pTKArevision());
    snprintf(want, sizeof want, "\\\\.\\COM%lu", (unsigned long)opt.port);
    CHECK(pNXgetDeviceName(opt.port, name, (int32_t)sizeof name) == (int32_t)strlen(want) && strcmp(name, want) == 0,
          "default device name is not %s", want);
    CHECK(pTKAmodel(opt.port) == -1, "TKAmodel before activation");
    unreadableRecords();
    /* No COM200 is mapped: the device does not open. */
    CHECK(pTKAactivate(200, 100) == -1, "activation of a port without a device");
}

static void values(void) {
    double v = -1.0, many[64];
    int32_t n = -1, i, allNear = 1;
    NXTKA_EVENT data = pNXrequestEvent(opt.port);

    CHECK(data != 0, "NXrequestEvent gives no event");
    if (data != 0) CHECK(WaitForSingleObject(data, 5000) == WAIT_OBJECT_0, "data event not signalled within 5 s");
    CHECK(waitForValue(5000), "no value within 5 s");
    CHECK(pTKAread(opt.port, &v) == 1 && isExpected(v), "TKAread gives %g, not %g", v, opt.value);
    CHECK(waitForValue(5000), "no second value within 5 s");
    CHECK(pTKAreadMultiple(opt.port, many, 64, &n) == 1 && n >= 1 && n <= 64, "TKAreadMultiple delivered %ld",
          (long)n);
    for (i = 0; i < n && i < 64; ++i) allNear = allNear && isExpected(many[i]);
    CHECK(allNear, "TKAreadMultiple gives values other than %g", opt.value);
}

/* With transmission stopped, exactly one value follows one request. */
static void oneValueAfter(const char *what) {
    double v = -1.0;
    CHECK(waitForValue(3000), "%s: no value within 3 s", what);
    CHECK(pTKAread(opt.port, &v) == 1 && isExpected(v), "%s: TKAread gives %g", what, v);
    Sleep(300);
    CHECK(pTKAread(opt.port, &v) == 0, "%s: more than one value", what);
}

static void exchanges(void) {
    const unsigned char single = 59; /* one value now */
    NXTKA_EVENT done = 0;
    double v = -1.0;
    int32_t r;

    r = pTKAflushBuffer(opt.port);
    CHECK(r == 0 || r == 1, "TKAflushBuffer = %ld", (long)r);
    CHECK(pNXinternalStatus(opt.port) == 1, "NXinternalStatus: the COM port does not flush");
    CHECK(pTKAgetLocalBaudRate(opt.port) == 38400, "TKAgetLocalBaudRate = %ld", (long)pTKAgetLocalBaudRate(opt.port));

    CHECK(pTKAstopTransmit(opt.port) == 0, "TKAstopTransmit");
    CHECK(pTKAread(opt.port, &v) == 0, "a value right after TKAstopTransmit");
    Sleep(300);
    CHECK(pTKAread(opt.port, &v) == 0, "values still come after TKAstopTransmit");

    CHECK(pNXsendBytes(opt.port, &single, 1) == 0, "NXsendBytes");
    oneValueAfter("NXsendBytes");

    r = pNXasynchronousSendBytes(opt.port, &single, 1, &done);
    CHECK(r == 0 || r == 1, "NXasynchronousSendBytes = %ld", (long)r);
    if (r == 1) {
        CHECK(done != 0, "pending NXasynchronousSendBytes gives no event");
        if (done != 0) CHECK(WaitForSingleObject(done, 3000) == WAIT_OBJECT_0, "write event not signalled in 3 s");
        CHECK(pNXsynchronizeSendBytes(opt.port) == 0, "NXsynchronizeSendBytes");
    } else {
        CHECK(done == 0, "completed NXasynchronousSendBytes gives an event");
    }
    if (r >= 0) oneValueAfter("NXasynchronousSendBytes");

    {
        const int32_t ports[1] = {(int32_t)opt.port};
        CHECK(pTKAgetValues(ports, 1) == 0, "TKAgetValues");
        oneValueAfter("TKAgetValues");
    }

    CHECK(pTKAstartTransmit(opt.port) == 0, "TKAstartTransmit");
    CHECK(waitForValue(5000), "no value within 5 s after TKAstartTransmit");
    CHECK(pTKAclearBuffer(opt.port) == 0, "TKAclearBuffer");
}

static void releasedPortFails(void) {
    const unsigned char single = 59;
    double v = -1.0;
    int32_t n = -1;
    pTKArelease(opt.port);
    CHECK(pTKAmodel(opt.port) == -1, "TKAmodel after release");
    CHECK(pTKAread(opt.port, &v) == -1 && v == -1.0, "TKAread after release");
    CHECK(pTKAreadMultiple(opt.port, &v, 1, &n) == -1 && n == -1, "TKAreadMultiple after release");
    CHECK(pTKAreceived(opt.port) == -1, "TKAreceived after release");
    CHECK(pTKAflushBuffer(opt.port) == -1, "TKAflushBuffer after release");
    CHECK(pTKAstopTransmit(opt.port) == -1, "TKAstopTransmit after release");
    CHECK(pTKAstartTransmit(opt.port) == -1, "TKAstartTransmit after release");
    CHECK(pNXsendBytes(opt.port, &single, 1) == -1, "NXsendBytes after release");
    {
        /* A failure stores a null event, so gathered events never hold garbage. */
        NXTKA_EVENT kept = (NXTKA_EVENT)(intptr_t)0x1234;
        CHECK(pNXasynchronousSendBytes(opt.port, &single, 1, &kept) == -1 && kept == (NXTKA_EVENT)0,
              "NXasynchronousSendBytes after release");
    }
    CHECK(pNXinternalStatus(opt.port) == -1, "NXinternalStatus after release");
    CHECK(pTKAgetLocalBaudRate(opt.port) == -1, "TKAgetLocalBaudRate after release");
    CHECK(pNXrequestEvent(opt.port) == 0, "NXrequestEvent after release");
    pTKArelease(opt.port); /* harmless */
}

/* The port can be taken again, at another speed. */
static void activateAgain(void) {
    const ActivationParams p = {16, 100, NXTKA_FLAG_BAUDRATE, 115200};
    CHECK(pTKAactivateExtended(opt.port, &p) == 0, "second activation");
    CHECK(pTKAmodel(opt.port) == opt.model, "TKAmodel after the second activation");
    CHECK(pTKAgetLocalBaudRate(opt.port) == 115200, "speed after the second activation = %ld",
          (long)pTKAgetLocalBaudRate(opt.port));
    CHECK(waitForValue(5000), "no value after the second activation");
    /* Nothing comes in while transmission is off: release must end the
     * receive thread's pending read itself. */
    CHECK(pTKAstopTransmit(opt.port) == 0, "TKAstopTransmit before release");
    arm("TKArelease with transmission stopped", 10000);
    pTKArelease(opt.port);
    disarm();
    CHECK(pTKAmodel(opt.port) == -1, "TKAmodel after the second release");
    /* Transmission stays off across sessions: start it for the next one. */
    CHECK(pTKAactivate(opt.port, 100) == 0 && pTKAstartTransmit(opt.port) == 0, "restart transmission");
    pTKArelease(opt.port);
}

/* FreeLibrary runs the unload under the loader lock: it must close the port
 * and its receive thread without waiting for that lock. */
static HMODULE unloadWithActivePort(HMODULE dll) {
    CHECK(pTKAactivate(opt.port, 100) == 0, "activation before unload");
    CHECK(waitForValue(5000), "no value before unload");
    arm("FreeLibrary with an active port", 30000);
    CHECK(FreeLibrary(dll) != 0, "FreeLibrary");
    disarm();
    /* The unload closed the port: a new instance activates it again. */
    dll = load();
    if (dll == NULL) return NULL;
    CHECK(pTKAactivate(opt.port, 100) == 0, "activation after reload");
    CHECK(pTKAmodel(opt.port) == opt.model, "TKAmodel after reload");
    pTKArelease(opt.port);
    return dll;
}

/* A process ending with a port still active: the system has ended the
 * receive thread when the library closes the port at process exit. */
static int childExitsWithActivePort(void) {
    HMODULE dll = load();
    if (dll == NULL) return 3;
    if (pTKAactivate(opt.port, 100) != 0) return 4;
    if (!waitForValue(5000)) return 5;
    return 0;
}

static void exitWithActivePort(void) {
    char self[MAX_PATH], cmd[3 * MAX_PATH];
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    DWORD code = 99;
    BOOL started;
    GetModuleFileNameA(NULL, self, (DWORD)sizeof self);
    snprintf(cmd, sizeof cmd, "\"%s\" --dll \"%s\" --port %lu --child exit", self, opt.dll, (unsigned long)opt.port);
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    started = CreateProcessA(self, cmd, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi);
    CHECK(started, "CreateProcess failed with error %lu", (unsigned long)GetLastError());
    if (!started) return;
    if (WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0) {
        CHECK(0, "a process with an active port did not exit within 30 s");
        TerminateProcess(pi.hProcess, 9);
        WaitForSingleObject(pi.hProcess, 5000);
    }
    GetExitCodeProcess(pi.hProcess, &code);
    CHECK(code == 0, "the process with an active port ended with %lu", (unsigned long)code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CHECK(pTKAactivate(opt.port, 100) == 0, "activation after a process exited with the port active");
    CHECK(pTKAmodel(opt.port) == opt.model, "TKAmodel after a process exited with the port active");
    pTKArelease(opt.port);
}

int main(int argc, char **argv) {
    HMODULE dll;
    int i;
    setvbuf(stdout, NULL, _IONBF, 0);
    for (i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--dll") == 0) opt.dll = argv[i + 1];
        else if (strcmp(argv[i], "--port") == 0) opt.port = (uint32_t)strtoul(argv[i + 1], NULL, 10);
        else if (strcmp(argv[i], "--model") == 0) opt.model = (int32_t)strtol(argv[i + 1], NULL, 10);
        else if (strcmp(argv[i], "--value") == 0) opt.value = strtod(argv[i + 1], NULL);
        else if (strcmp(argv[i], "--child") == 0) opt.child = argv[i + 1];
        else {
            fprintf(stderr, "unknown option %s\n", argv[i]);
            return 2;
        }
    }
    if (opt.child != NULL) return strcmp(opt.child, "exit") == 0 ? childExitsWithActivePort() : 2;
    printf("%d-bit test of %s on COM%lu\n", (int)(sizeof(void *) * 8), opt.dll, (unsigned long)opt.port);

    {
        HANDLE dog = CreateThread(NULL, 0, watchdog, NULL, 0, NULL);
        CHECK(dog != NULL, "watchdog does not start");
        if (dog != NULL) CloseHandle(dog);
    }
    dll = load();
    if (dll != NULL) {
        identification();
        if (pTKAactivate(opt.port, 1000) == 0) {
            CHECK(1, "activation");
            CHECK(pTKAactivate(opt.port, 1000) == -1, "activation of an active port");
            CHECK(pTKAmodel(opt.port) == opt.model, "TKAmodel = %ld", (long)pTKAmodel(opt.port));
            values();
            exchanges();
            releasedPortFails();
            activateAgain();
            dll = unloadWithActivePort(dll);
            if (dll != NULL) exitWithActivePort();
        } else {
            CHECK(0, "activation of COM%lu failed", (unsigned long)opt.port);
        }
        if (dll != NULL) FreeLibrary(dll);
    }
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
