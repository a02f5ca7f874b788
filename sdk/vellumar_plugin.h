/* The Vellumar filter plug-in interface: the records, callbacks and codes through which the host
 * drives a filter plug-in, and the plug-in's entry point.
 *
 * One header serves both builds: the 32-bit Windows library the host loads, and the 64-bit
 * Linux shared module that the project's own stand-in host loads. The records below carry
 * every field a filter plug-in of this project touches, in the order the host's record holds
 * them; the stand-in host builds them from this header, so the layout here is the layout.
 * Pointer-sized members make the records differ in size between the two builds; host and
 * plug-in are always built for the same platform.
 *
 * Calling convention: every function pointer in this header and the entry point itself use
 * VLMR_CALLBACK, which is __cdecl on 32-bit Windows (caller pops the arguments, no name
 * decoration on export) and the platform's only C convention on 64-bit Linux.
 *
 * Plain C, so that a host written in C can include it as well. */
#ifndef VELLUMAR_PLUGIN_H
#define VELLUMAR_PLUGIN_H

#include <stdint.h>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#define VLMR_CALLBACK __cdecl
#else
#define VLMR_CALLBACK
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Basic types ---------------------------------------------------------------------------- */

/* An 8-bit boolean: 0 false, anything else true. */
typedef uint8_t VlmrBoolean;

/* A signed 16.16 fixed-point number; 1.0 is 65536. */
typedef int32_t VlmrFixed;
#define VLMR_FIXED_ONE ((VlmrFixed)65536)

/* A block of memory owned by the host, reached only through the handle procedures. */
typedef struct VlmrHandleData* VlmrHandle;

/* A rectangle of rows top .. bottom - 1 and columns left .. right - 1, in 16-bit coordinates. */
typedef struct Rect16 {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
} Rect16;

/* The same rectangle in 32-bit coordinates. */
typedef struct Rect32 {
    int32_t top;
    int32_t left;
    int32_t bottom;
    int32_t right;
} Rect32;

/* ---- Selectors and result codes ------------------------------------------------------------ */

/* The step of a filter run that a call of the entry point asks for. A run is parameters
 * (optional), prepare, start, continue (until the requested rectangles are empty), finish;
 * about stands outside runs. */
enum VlmrSelector {
    selectorAbout = 0,
    selectorParameters = 1,
    selectorPrepare = 2,
    selectorStart = 3,
    selectorContinue = 4,
    selectorFinish = 5
};

/* Result codes, signed 16-bit, written through the result pointer of the entry point. Any
 * other code a host callback answers is passed through unchanged. */
enum VlmrResultCode {
    resultSuccess = 0,
    errOutOfMemory = -108,    /* 0xFF94 */
    errCanceled = -128,       /* 0xFF80 */
    errBadParameters = -30100 /* 0x8A6C */
};

/* ---- Windows that parent the plug-in's dialogs ---------------------------------------------- */

#ifdef _WIN32
/* The host window that owns the plug-in's modal dialogs. */
typedef HWND VlmrParentWindow;
#else
/* On Linux the plug-in's dialogs are forms on the host's terminal: keystrokes are read from
 * `input` and the form is drawn to `output`. A descriptor of -1 means the host has no
 * terminal to offer. */
typedef struct VlmrParentWindow {
    int input;
    int output;
} VlmrParentWindow;
#endif

/* The host's window data. Only its first member is defined for plug-ins. */
typedef struct VlmrWindowData {
    VlmrParentWindow parentWindow;
} VlmrWindowData;

/* ---- Callbacks ------------------------------------------------------------------------------ */

/* Answers whether the user asked to stop. */
typedef VlmrBoolean(VLMR_CALLBACK* QueryAbortProc)(void);
/* Reports that `done` of `total` units of work are finished. */
typedef void(VLMR_CALLBACK* ReportProgressProc)(int32_t done, int32_t total);
/* Delivers the buffers for the rectangles and planes requested in the record; answers 0 or a
 * result code, which the plug-in passes on. */
typedef int16_t(VLMR_CALLBACK* DeliverBuffersProc)(void);

/* Handle procedures. */
/* A new handle of `size` bytes, or null when the host has no memory. */
typedef VlmrHandle(VLMR_CALLBACK* NewHandleProc)(int32_t size);
/* Releases a handle. */
typedef void(VLMR_CALLBACK* DisposeHandleProc)(VlmrHandle handle);
/* The size of a handle in bytes, or 0 for a null handle. */
typedef int32_t(VLMR_CALLBACK* GetHandleSizeProc)(VlmrHandle handle);
/* Pins a handle and answers a pointer to its bytes, or null on failure. `moveHigh` is a hint
 * to the host's memory manager; plug-ins pass true. */
typedef uint8_t*(VLMR_CALLBACK* LockHandleProc)(VlmrHandle handle, VlmrBoolean moveHigh);
/* Ends one lock; the pointer from the matching lock is no longer valid. */
typedef void(VLMR_CALLBACK* UnlockHandleProc)(VlmrHandle handle);

typedef struct HandleProcedures {
    int16_t version;
    int16_t count; /* number of procedures that follow */
    NewHandleProc newHandle;
    DisposeHandleProc disposeHandle;
    GetHandleSizeProc getHandleSize;
    LockHandleProc lockHandle;
    UnlockHandleProc unlockHandle;
} HandleProcedures;

/* ---- Suites --------------------------------------------------------------------------------- */

/* Basic suite access: further host services are acquired by name and version. acquireSuite
 * stores the suite's routine table through `suite` and answers 0, or answers a non-zero code
 * (and stores null) when the host has no such suite. Every successful acquisition is matched
 * by one releaseSuite with the same name and version. */
typedef int16_t(VLMR_CALLBACK* AcquireSuiteProc)(const char* name, int32_t version,
                                                 const void** suite);
typedef int16_t(VLMR_CALLBACK* ReleaseSuiteProc)(const char* name, int32_t version);

typedef struct BasicSuiteAccess {
    AcquireSuiteProc acquireSuite;
    ReleaseSuiteProc releaseSuite;
} BasicSuiteAccess;

/* The host's file-list suite, version 4. Plug-ins of this project use only its fourth routine,
 * which hands a web address to the host to open. */
#define VLMR_FILE_LIST_SUITE_NAME "Vellumar GetFileList Suite for Plug-ins"
#define VLMR_FILE_LIST_SUITE_VERSION 4

typedef void(VLMR_CALLBACK* VlmrSuiteRoutine)(void);
typedef int16_t(VLMR_CALLBACK* BrowseUrlProc)(const char* url);

typedef struct FileListSuite4 {
    VlmrSuiteRoutine reservedRoutine1;
    VlmrSuiteRoutine reservedRoutine2;
    VlmrSuiteRoutine reservedRoutine3;
    BrowseUrlProc browseUrl;
} FileListSuite4;

/* ---- Records -------------------------------------------------------------------------------- */

/* The host's 32-bit coordinate extension. While `uses32BitCoordinates` is non-zero the host
 * reads and writes the rectangles here instead of their 16-bit forms in HostRecord. */
typedef struct BigCoordinateRecord {
    int32_t uses32BitCoordinates;
    int32_t imageWidth32;  /* not read by plug-ins of this project */
    int32_t imageHeight32; /* not read by plug-ins of this project */
    Rect32 filterRect32;
    Rect32 inRect32;
    Rect32 outRect32;
    Rect32 maskRect32;
} BigCoordinateRecord;

/* The record that comes with every selector but about. */
typedef struct HostRecord {
    QueryAbortProc queryAbort;
    ReportProgressProc reportProgress;
    VlmrHandle parameterHandle; /* null until the plug-in creates it */
    int16_t planeCount;
    Rect16 filterRect;
    int32_t memoryLimit;   /* bytes the plug-in may expect the host to spare */
    int32_t bufferRequest; /* bytes the plug-in asks the host to keep free for it */
    Rect16 inRect;
    int16_t inFirstPlane;
    int16_t inLastPlane;
    Rect16 outRect;
    int16_t outFirstPlane;
    int16_t outLastPlane;
    uint8_t* inBuffer;
    uint8_t* outBuffer;
    VlmrBoolean hasMask;
    Rect16 maskRect;
    uint8_t* maskBuffer; /* null when there is no selection */
    int32_t maskRowStride;
    VlmrWindowData* windowData;
    HandleProcedures* handleProcedures;
    DeliverBuffersProc deliverBuffers;
    VlmrFixed inSampleRate;
    VlmrFixed maskSampleRate;
    int16_t outputTileHeight;
    int16_t outputTileWidth;
    const BasicSuiteAccess* suiteAccess;
    BigCoordinateRecord* bigCoordinates; /* null when the host offers no 32-bit coordinates */
} HostRecord;

/* The record that comes with selector about instead of a HostRecord. */
typedef struct AboutRecord {
    VlmrWindowData* windowData;
    const BasicSuiteAccess* suiteAccess;
} AboutRecord;

/* ---- The entry point ------------------------------------------------------------------------ */

/* The one entry point of a filter plug-in, exported under the name "PluginMain".
 * `record` points to a HostRecord, or to an AboutRecord for selector about. `dataSlot` points
 * to a pointer-sized integer the plug-in may keep a handle in across calls. `result` points to
 * the code of the call, 0 on entry. */
typedef void(VLMR_CALLBACK* PluginEntryProc)(int16_t selector, void* record, intptr_t* dataSlot,
                                             int16_t* result);

#define VLMR_ENTRY_POINT_NAME "PluginMain"

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VELLUMAR_PLUGIN_H */
