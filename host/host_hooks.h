/* Our own hosts' channel into the plug-in module: progress, stop requests and settings (the
 * sampling area), for the command line, the stand-in host, the GIMP filters and the Python module.
 * The image editor never offers it, and the module behaves towards the editor exactly as it
 * would without it: the same host calls in the same order, the same exports, the same fills.
 *
 * How the module finds it, without a call to the host: at the start step, after the image was
 * delivered, the module asks the operating system which binary holds the host's deliverBuffers
 * callback (dladdr on Linux, GetModuleHandleEx on Windows) and looks up the symbol
 * MENDORA_HOST_HOOKS_SYMBOL in that binary alone. A host that exports it (the stand-in host,
 * tools/standin_host, is the only one that does) answers its hooks for the run, or null; the
 * editor exports no such symbol, so the module runs as it always has. The lookup reads no part
 * of the host record the module did not read before and calls none of the host's callbacks.
 *
 * The hooks are called only inside the start step, on the thread that called PluginMain, and
 * never after the start step returns. A stop request ends the fill at the next check (once per
 * fill step, between the set-up stages and between the describing threads' chunks); the start
 * step then reports errCanceled (-128) without the progress report and the abort test that end
 * a completed fill (the output buffer may hold part of the fill: the host drops it).
 *
 * The module's exports stay as they are: this header adds none. */
#ifndef MENDORA_HOST_HOOKS_H
#define MENDORA_HOST_HOOKS_H

#include <stdint.h>

#include "sdk/vellumar_plugin.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The name of the host binary's exported function (of type MendoraHostHooksProc). */
#define MENDORA_HOST_HOOKS_SYMBOL "mendoraHostHooks"

/* The stages of a fill as the progress hook names them, in the order they come. */
enum {
    MENDORA_STAGE_PREPARING = 1,  /* marking, the candidate windows, the colours: done 0 of 1,
                                     then 1 of 1 */
    MENDORA_STAGE_DESCRIBING = 2, /* describing the candidate windows: candidates done of all */
    MENDORA_STAGE_INDEXING = 3,   /* building the search index: 0 of 1, then 1 of 1 */
    MENDORA_STAGE_FILLING = 4     /* pixels filled of the region's pixels; the last report of a
                                     complete fill has done equal to total */
};

/* done rises within a stage (never falls), from 0 to total; total stays the same within a
 * stage and is at least 1. Called at a stage's start and end and, while filling, once a fill
 * step; cheap work only (the fill waits for it). */
typedef void(VLMR_CALLBACK* MendoraProgressProc)(void* context, int32_t stage, int64_t done,
                                                 int64_t total);
/* Answers non-zero to stop the fill. Asked once a fill step and between the set-up stages. */
typedef VlmrBoolean(VLMR_CALLBACK* MendoraStopProc)(void* context);

typedef struct MendoraHostHooks {
    /* sizeof(MendoraHostHooks) as the host was built with it: fields added later lie beyond
     * an older host's size and are read as absent (null or 0). */
    uint32_t size;
    void* context;                 /* handed to every hook */
    MendoraProgressProc progress;  /* may be null */
    MendoraStopProc stopRequested; /* may be null */
    /* The sampling area: one byte a pixel of the filter rectangle, rows samplingAreaRowStride
     * bytes apart (at least the rectangle's width). A source window is a candidate only when
     * every one of its pixels is nonzero here (besides the source rectangle and the region);
     * the pixels outside it still count as known image around the region. Null: every pixel,
     * the module's own fill. A row stride below the width makes the start step answer
     * errBadParameters (-30100) before anything is filled. */
    const uint8_t* samplingArea;
    int32_t samplingAreaRowStride;
} MendoraHostHooks;

/* The host's exported function: the hooks of the run about to fill, or null for none. The
 * answer must stay valid until the start step returns. */
typedef const MendoraHostHooks*(VLMR_CALLBACK* MendoraHostHooksProc)(void);

#ifdef __cplusplus
}
#endif

#endif
