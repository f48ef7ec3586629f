// Frame table of the atlas "out.png", written by atlaspack: do not edit.
// Columns: used, frameset, x1, y1, xoffset, yoffset, width, height,
// source_name, source_width, source_height.
#ifndef OUT_H
#define OUT_H

#include "drawboxlib/drawboxlib.h"

static const dbx_frame_t tileset[27] = {
    {1, 1, 1, 1, 0, 0, 100, 105, "bird.png", 100, 105},
    {1, 1, 103, 1, 0, 0, 236, 100, "Toskel.png", 236, 100},
    {1, 1, 341, 1, 0, 0, 100, 100, "pirrel.png", 100, 100},
    {1, 1, 443, 1, 0, 2, 432, 98, "3_002.png", 433, 100},
    {1, 1, 877, 1, 10, 2, 76, 98, "1.png", 100, 100},
    {1, 1, 1, 108, 1, 6, 637, 94, "dates.png", 639, 100},
    {1, 1, 1, 204, 1, 5, 794, 93, "QARNUL.png", 796, 100},
    {1, 1, 1, 299, 5, 7, 364, 93, "mossby.png", 372, 100},
    {1, 1, 1, 394, 0, 3, 783, 92, "fennick_total.png", 783, 100},
    {1, 1, 1, 488, 0, 0, 856, 91, "2 test.png", 858, 91},
    {1, 1, 1, 581, 0, 0, 717, 90, "2 test_002.png", 719, 92},
    {1, 1, 720, 581, 0, 0, 89, 90, "face.png", 89, 90},
    {1, 1, 1, 673, 0, 1, 264, 89, "2 test_001.png", 268, 90},
    {1, 1, 267, 673, 0, 0, 88, 84, "face_2.png", 88, 84},
    {1, 1, 357, 673, 5, 4, 81, 83, "cratery.png", 100, 100},
    {1, 1, 440, 673, 4, 0, 92, 74, "zuzu.png", 100, 100},
    {1, 1, 534, 673, 1, 2, 93, 70, "pellow.png", 100, 100},
    {1, 1, 629, 673, 4, 5, 73, 61, "Gerrow.png", 100, 100},
    {1, 1, 704, 673, 8, 4, 72, 60, "halp.png", 100, 100},
    {1, 1, 1, 764, 3, 1, 720, 45, "greets.png", 728, 48},
    {1, 1, 723, 764, 0, 0, 40, 40, "whitesquare1.png", 40, 40},
    {1, 1, 765, 764, 6, 5, 33, 30, "clownhand0.png", 40, 40},
    {1, 1, 800, 764, 13, 9, 16, 21, "smallstamp3.png", 40, 40},
    {1, 1, 818, 764, 11, 11, 17, 16, "redstart0.png", 40, 40},
    {1, 1, 837, 764, 11, 11, 17, 16, "cyanstar0.png", 40, 40},
    {1, 1, 856, 764, 0, 0, 40, 40, "doorpanel.png", 40, 40},
    {1, 1, 898, 764, 12, 12, 16, 16, "doorknob.png", 40, 40},
};

#endif
