// The programs' settings, read whole from the environment.
#include "settings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static void ignored(const char *name, const char *text, const char *why) {
    fprintf(stderr, "%s=%s: %s; the setting is ignored\n", name, text, why);
}

void dbx_env_ignored(const char *name, const char *why) {
    const char *text = getenv(name);
    ignored(name, text ? text : "", why);
}

static const char *whole_number(const char *start, const char *stop, int32_t *value) {
    while (*start == ' ' || *start == '\t') start++;
    const char *digits = start + (*start == '-' || *start == '+');
    if (!(*digits >= '0' && *digits <= '9')) return "not a whole number";
    errno = 0;
    char *end = nullptr;
    long number = strtol(start, &end, 10);
    if (end != (stop ? stop : start + strlen(start))) return "not a whole number";
    if (errno == ERANGE || number < INT32_MIN || number > INT32_MAX) return "the number is out of range";
    *value = static_cast<int32_t>(number);
    return nullptr;
}

const char *dbx_whole_number(const char *text, int32_t *value) { return whole_number(text, nullptr, value); }

bool dbx_env_number(const char *name, int32_t *value) {
    const char *text = getenv(name);
    if (!text) return false;
    int32_t number;
    if (const char *why = whole_number(text, nullptr, &number)) {
        ignored(name, text, why);
        return false;
    }
    *value = number;
    return true;
}

bool dbx_env_range(const char *name, int32_t low, int32_t high, const char *why, int32_t *value) {
    int32_t number;
    if (!dbx_env_number(name, &number)) return false;
    if (number < low || number > high) {
        dbx_env_ignored(name, why);
        return false;
    }
    *value = number;
    return true;
}

bool dbx_env_size(const char *name, int32_t low, int32_t high, const char *why, int32_t *width, int32_t *height) {
    const char *text = getenv(name);
    if (!text) return false;
    const char *x = strchr(text, 'x');
    int32_t w, h;
    const char *problem = !x ? "not WIDTHxHEIGHT" : whole_number(text, x, &w);
    if (!problem) problem = whole_number(x + 1, nullptr, &h);
    if (!problem && (w < low || w > high || h < low || h > high)) problem = why;
    if (problem) {
        ignored(name, text, problem);
        return false;
    }
    *width = w;
    *height = h;
    return true;
}

bool dbx_env_flag(const char *name, bool *value) {
    int32_t number;
    if (!dbx_env_range(name, 0, 1, "expected 0 or 1", &number)) return false;
    *value = number == 1;
    return true;
}
