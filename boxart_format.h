// The box art file format: a flat run of items without header or count. A
// 33-byte frame-name item selects the frame of the 49-byte box items after
// it; numbers are little-endian and items packed without alignment. This is
// the byte codec alone: no engine, no GL, no sound.
#ifndef BOXART_FORMAT_H
#define BOXART_FORMAT_H

#include <cstdint>

// Animation parameters of one box, in the same order and widths as stored
// in a box art file.
typedef struct {
    int32_t delta_rot;      // degrees added to the rotation every tick
    int32_t animationmode;  // 1 jitter, 2 pulse, anything else neither
    int32_t extra1;
    int32_t extra2;
    int32_t x1, y1;         // jitter home position
    float scale1;           // pulse base scale
    int32_t timing;         // pulse phase in ticks
} extra_t;
static_assert(sizeof(extra_t) == 32, "animation record is 32 bytes in files");

enum {
    BOXART_FRAME_ITEM = 33,  // type byte + 32-byte frame name
    BOXART_BOX_ITEM = 49,    // type byte + x1, y1, scale, rotation + extra_t
    BOXART_FILE_MAX = 64000, // a file is read in one buffer of this size
};

// One box item as it is stored: the box's position, scale and rotation,
// then its animation parameters.
typedef struct {
    int32_t x1, y1;
    float scale;
    float rotation;
    extra_t myextra;
} boxart_box_t;

enum {
    BOXART_TYPE_FRAME = 1,  // selects the frame of the box items after it
    BOXART_TYPE_BOX = 2,
    BOXART_NAME_SIZE = 32,  // frame name bytes, NUL-filled
};

// Size of the item that starts with this type byte (every type other than a
// frame name takes the size of a box item).
constexpr int boxart_item_size(unsigned char type) {
    return type == BOXART_TYPE_FRAME ? BOXART_FRAME_ITEM : BOXART_BOX_ITEM;
}

// The item decoding that every reader shares. Returns the size of the whole
// item at the front of the `remaining` bytes at `data`, or 0 where a reader
// stops: 32 or fewer bytes left, or a last item cut short. What follows the
// last item is never read.
int boxart_item_at(const unsigned char *data, int remaining);
// Field access for a whole item (type byte included), little-endian,
// independent of alignment.
void boxart_decode_box(const unsigned char *item, boxart_box_t *box);
void boxart_encode_box(const boxart_box_t *box, unsigned char item[BOXART_BOX_ITEM]);
void boxart_encode_frame(const char name[BOXART_NAME_SIZE], unsigned char item[BOXART_FRAME_ITEM]);
// The name of a whole frame item as a string: at most its first 31
// characters count, and the rest of `name` is NUL-filled.
void boxart_decode_frame(const unsigned char *item, char name[BOXART_NAME_SIZE]);

#endif
