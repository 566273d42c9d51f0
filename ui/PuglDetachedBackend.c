/* A GL backend for a view whose window the host has already destroyed: it keeps pugl's GL configure,
   create, destroy and context functions, but never makes the context current again (no drawable is left,
   and binding the dead window fails and can make software GL do needless work). Swapped in by the UI
   thread once it sees the window gone, so that freeing the view destroys the context without a drawable. */
#include "types.h"

#include "pugl/gl.h"

#include <pthread.h>

const PuglBackend* nxPuglDetachedGlBackend(void);

static PuglStatus nxDetachedEnter(PuglView* view, const PuglExposeEvent* expose) {
    (void)view;
    (void)expose;
    return PUGL_SUCCESS;
}

static PuglStatus nxDetachedLeave(PuglView* view, const PuglExposeEvent* expose) {
    (void)view;
    (void)expose;
    return PUGL_SUCCESS;
}

static PuglBackend sDetached;
static pthread_once_t sDetachedOnce = PTHREAD_ONCE_INIT;

static void nxInitDetached(void) {
    sDetached = *puglGlBackend();
    sDetached.enter = nxDetachedEnter;
    sDetached.leave = nxDetachedLeave;
}

const PuglBackend* nxPuglDetachedGlBackend(void) {
    pthread_once(&sDetachedOnce, nxInitDetached);
    return &sDetached;
}
