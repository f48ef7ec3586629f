// The text form of box art files, one line per item:
//   frame "NAME"       a frame-name item; escapes \" \\ \xHH, trailing NULs implied
//   box X Y SCALE ROT DELTA_ROT MODE EXTRA1 EXTRA2 HOME_X HOME_Y SCALE1 TIMING
//   item TYPE HEX      any other 49-byte item: type byte and 96 hex digits
//                      (also a box holding a NaN, whose bits no number keeps)
//   tail HEX           bytes after the last whole item, which readers ignore
// '#' starts a comment; blank lines are ignored. Dump and build round-trip
// every file byte for byte.
#ifndef BOXART_TEXT_H
#define BOXART_TEXT_H

#include <cstddef>
#include <string>
#include <vector>

std::string boxart_dump_text(const unsigned char *data, size_t size);

// On bad input returns false with `error` as "line N: what is wrong".
bool boxart_build_text(const std::string &text, std::vector<unsigned char> &bytes, std::string &error);

// The text of the box art file `data` written over an older text of the
// same scene, keeping its comments: origin[k] is the number (from 0) of the
// old text's box that the k-th box of `data` was, or -1 for a new box. A
// kept box keeps its line when its bytes are unchanged, and the comment and
// blank lines that stood above it; those of a removed box go to the next
// kept box. Frame lines stand where the frame changes. Item lines of other
// types and the tail are dropped. Without a valid old text, the dump.
std::string boxart_rewrite_text(const std::string &old_text, const unsigned char *data, size_t size,
                                const std::vector<int> &origin);

#endif
