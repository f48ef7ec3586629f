// The one reader of the programs' settings (the DBX_ and INVITRO_
// environment variables). Every setting is read whole: blanks may come
// before a number, but nothing may follow it, so "1e3" or "20px" is not read
// as 1 or 20. A value that is set but not usable is named once on standard
// error, in the same words for every setting ("NAME=VALUE: why; the setting
// is ignored"), and counts as not given. It needs nothing of the engine, so
// the emulated Pi display reads its settings with it too.
#ifndef DBX_SETTINGS_H
#define DBX_SETTINGS_H

#include <cstdint>

// A whole decimal number in the 32-bit range, blanks before it allowed:
// null when `text` is one (stored in *value), otherwise why it is not
// ("not a whole number", "the number is out of range").
const char *dbx_whole_number(const char *text, int32_t *value);
// A number setting: true when it is set and is a whole number.
bool dbx_env_number(const char *name, int32_t *value);
// A number setting from `low` to `high`: true when it is set and is one;
// outside the range it is ignored with `why` ("the limit must be ...").
bool dbx_env_range(const char *name, int32_t low, int32_t high, const char *why, int32_t *value);
// A size setting "WxH" (two whole numbers around a lower-case x), each side
// from `low` to `high` (outside it: ignored with `why`).
bool dbx_env_size(const char *name, int32_t low, int32_t high, const char *why, int32_t *width, int32_t *height);
// A flag setting, 0 or 1 (anything else is ignored): true when it is set.
bool dbx_env_flag(const char *name, bool *value);
// Says that the setting `name` is ignored, and why (for a value that only
// its reader can judge).
void dbx_env_ignored(const char *name, const char *why);

#endif
