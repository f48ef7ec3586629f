// The box art byte codec. Every field is assembled from bytes here, never
// read through a cast pointer.
#include "boxart_format.h"

#include <cstring>

static_assert(BOXART_BOX_ITEM == 1 + 16 + sizeof(extra_t), "box item: type, four fields, animation record");
static_assert(BOXART_FRAME_ITEM == 1 + BOXART_NAME_SIZE, "frame item: type and name");

// ---------------------------------------------------------------- bytes

static uint32_t get_u32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
static int32_t get_i32(const unsigned char *p) { return static_cast<int32_t>(get_u32(p)); }
static float get_f32(const unsigned char *p) {
    uint32_t bits = get_u32(p);
    float value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

static unsigned char *put_u32(unsigned char *p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
    return p + 4;
}
static unsigned char *put_i32(unsigned char *p, int32_t v) { return put_u32(p, static_cast<uint32_t>(v)); }
static unsigned char *put_f32(unsigned char *p, float v) {
    uint32_t bits;
    memcpy(&bits, &v, sizeof bits);
    return put_u32(p, bits);
}

// ---------------------------------------------------------------- items

int boxart_item_at(const unsigned char *data, int remaining) {
    if (remaining <= BOXART_NAME_SIZE) return 0;
    int size = boxart_item_size(data[0]);
    return remaining >= size ? size : 0;
}

void boxart_decode_box(const unsigned char *item, boxart_box_t *box) {
    const unsigned char *p = item + 1;
    box->x1 = get_i32(p);
    box->y1 = get_i32(p + 4);
    box->scale = get_f32(p + 8);
    box->rotation = get_f32(p + 12);
    p += 16;
    extra_t &e = box->myextra;
    e.delta_rot = get_i32(p);
    e.animationmode = get_i32(p + 4);
    e.extra1 = get_i32(p + 8);
    e.extra2 = get_i32(p + 12);
    e.x1 = get_i32(p + 16);
    e.y1 = get_i32(p + 20);
    e.scale1 = get_f32(p + 24);
    e.timing = get_i32(p + 28);
}

void boxart_encode_box(const boxart_box_t *box, unsigned char item[BOXART_BOX_ITEM]) {
    unsigned char *p = item;
    *p++ = BOXART_TYPE_BOX;
    p = put_i32(p, box->x1);
    p = put_i32(p, box->y1);
    p = put_f32(p, box->scale);
    p = put_f32(p, box->rotation);
    const extra_t &e = box->myextra;
    p = put_i32(p, e.delta_rot);
    p = put_i32(p, e.animationmode);
    p = put_i32(p, e.extra1);
    p = put_i32(p, e.extra2);
    p = put_i32(p, e.x1);
    p = put_i32(p, e.y1);
    p = put_f32(p, e.scale1);
    put_i32(p, e.timing);
}

void boxart_decode_frame(const unsigned char *item, char name[BOXART_NAME_SIZE]) {
    memset(name, 0, BOXART_NAME_SIZE);
    for (int i = 0; i < BOXART_NAME_SIZE - 1 && item[1 + i]; i++) name[i] = static_cast<char>(item[1 + i]);
}

void boxart_encode_frame(const char name[BOXART_NAME_SIZE], unsigned char item[BOXART_FRAME_ITEM]) {
    item[0] = BOXART_TYPE_FRAME;
    memcpy(item + 1, name, BOXART_NAME_SIZE);
}
