// The VideoCore host interface as far as the Raspberry Pi layer uses it,
// for machines without the Pi's firmware libraries. The calls drive an
// emulated display (standin.h); the display-manager window is bound to
// Mesa's EGL by the stand-in's EGL redirections (see standin.cpp).
#ifndef DBX_VIDEOCORE_BCM_HOST_H
#define DBX_VIDEOCORE_BCM_HOST_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t DISPMANX_DISPLAY_HANDLE_T;
typedef uint32_t DISPMANX_UPDATE_HANDLE_T;
typedef uint32_t DISPMANX_ELEMENT_HANDLE_T;
typedef uint32_t DISPMANX_RESOURCE_HANDLE_T;
typedef uint32_t DISPMANX_PROTECTION_T;

#define DISPMANX_NO_HANDLE 0
#define DISPMANX_PROTECTION_NONE 0

typedef enum {
    DISPMANX_FLAGS_ALPHA_FROM_SOURCE = 0,
    DISPMANX_FLAGS_ALPHA_FIXED_ALL_PIXELS = 1,
    DISPMANX_FLAGS_ALPHA_FIXED_NON_ZERO = 2,
    DISPMANX_FLAGS_ALPHA_FIXED_EXCEED_0X07 = 3,
    DISPMANX_FLAGS_ALPHA_PREMULT = 1 << 16,
    DISPMANX_FLAGS_ALPHA_MIX = 1 << 17,
} DISPMANX_FLAGS_ALPHA_T;

typedef enum {
    DISPMANX_NO_ROTATE = 0,
    DISPMANX_ROTATE_90 = 1,
    DISPMANX_ROTATE_180 = 2,
    DISPMANX_ROTATE_270 = 3,
    DISPMANX_FLIP_HRIZ = 1 << 16,
    DISPMANX_FLIP_VERT = 1 << 17,
} DISPMANX_TRANSFORM_T;

typedef struct {
    int32_t x, y, width, height;
} VC_RECT_T;

typedef struct {
    DISPMANX_FLAGS_ALPHA_T flags;
    uint32_t opacity;
    DISPMANX_RESOURCE_HANDLE_T mask;
} VC_DISPMANX_ALPHA_T;

typedef struct {
    uint32_t mode;
    uint32_t key_mask;
    uint32_t key_value;
    uint32_t replace_value;
} DISPMANX_CLAMP_T;

// The native window handed to eglCreateWindowSurface: a display-manager
// element and its size.
typedef struct {
    DISPMANX_ELEMENT_HANDLE_T element;
    int width;
    int height;
} EGL_DISPMANX_WINDOW_T;

void bcm_host_init(void);
void bcm_host_deinit(void);
int32_t graphics_get_display_size(const uint16_t display_number, uint32_t *width, uint32_t *height);

DISPMANX_DISPLAY_HANDLE_T vc_dispmanx_display_open(uint32_t device);
DISPMANX_UPDATE_HANDLE_T vc_dispmanx_update_start(int32_t priority);
DISPMANX_ELEMENT_HANDLE_T vc_dispmanx_element_add(DISPMANX_UPDATE_HANDLE_T update,
                                                  DISPMANX_DISPLAY_HANDLE_T display, int32_t layer,
                                                  const VC_RECT_T *dest_rect,
                                                  DISPMANX_RESOURCE_HANDLE_T src,
                                                  const VC_RECT_T *src_rect,
                                                  DISPMANX_PROTECTION_T protection,
                                                  VC_DISPMANX_ALPHA_T *alpha,
                                                  DISPMANX_CLAMP_T *clamp,
                                                  DISPMANX_TRANSFORM_T transform);
int vc_dispmanx_update_submit_sync(DISPMANX_UPDATE_HANDLE_T update);

#ifdef __cplusplus
}
#endif

#endif
