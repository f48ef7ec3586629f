// The intro's song "omber": the score, arranged to the intro's scene
// schedule, turned into an XmModule with the synthesised instruments.
//
// One steady tempo: speed 6 at 125 BPM, 64-row patterns, so each song
// position lasts exactly 7.68 s and position p starts at p x 7.68 s. The
// 21 positions and the scene each one carries:
//
//   0 hello   1 fade   2-4 zuzu   5 knock   6 beat1   7 beat2   8 beat3
//   9-10 lead2   11 heart   12 cred1   13 cred3   14 cred2   15 lead1
//   16 beat2   17-19 hal1   20 hal2
//
// The song ends after position 20: there is no pattern jump back, and
// libmikmod (which does not wrap a module unless asked to) stops there and
// reports Player_Active() false. The last position fades every channel out
// to silence, so nothing is cut off when the player stops.
#pragma once

#include "xmwriter.h"

constexpr int song_positions = 21;
constexpr int song_rows = 64;
constexpr int song_channels = 12;
constexpr int song_speed = 6;
constexpr int song_bpm = 125;
// Seconds per row: speed x 2.5 / bpm.
constexpr double song_seconds_per_position = song_rows * song_speed * 2.5 / song_bpm;

// The scene each song position belongs to.
extern const char* const song_scene_names[song_positions];

XmModule song_module();
