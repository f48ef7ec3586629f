// Box art files read into and written from the engine's pools, and box
// animation. The items themselves are coded in boxart_format.cpp.
#include "boxart.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "file_io.h"

namespace {
struct file_closer {
    void operator()(FILE *f) const { fclose(f); }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;
}  // namespace

extra_t extra[DBX_MAX_DRAWBOXES];
uint32_t rseed = 12345;
dbx_drawbox_t *cursordb = &dbx_drawbox[DBX_MAX_DRAWBOXES - 1];

static_assert(sizeof(dbx_frame[0].source_name) == BOXART_NAME_SIZE, "frame names are stored whole");

// ---------------------------------------------------------------- reader

void boxart_load(const char *data, int datasize) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(data);
    int remaining = datasize;
    uint32_t frame = 0;  // box items before any frame name show frame 0
    for (int size; (size = boxart_item_at(p, remaining)) != 0; p += size, remaining -= size) {
        if (p[0] == BOXART_TYPE_FRAME) {
            char name[BOXART_NAME_SIZE];
            boxart_decode_frame(p, name);
            int found = dbx_findframe(name);
            frame = found >= 0 ? static_cast<uint32_t>(found) : BOXART_NO_FRAME;
        } else if (p[0] == BOXART_TYPE_BOX) {
            dbx_drawbox_t *box = dbx_drawbox_create();
            if (!box) return;  // the pool is full: the rest of the file cannot be shown
            boxart_box_t item;
            boxart_decode_box(p, &item);
            box->visible = 1;
            box->frame = frame;
            box->x1 = item.x1;
            box->y1 = item.y1;
            box->scale = item.scale;
            box->rotation = item.rotation;
            extra[box - dbx_drawbox] = item.myextra;
        }
    }
}

int boxart_check(const char *filename, const char *data, int datasize, bool cut, FILE *out) {
    int problems = 0;
    auto report = [&](const char *what, const char *detail) {
        fprintf(out, "The box art file \"%s\" %s%s\n", filename, what, detail);
        problems++;
    };
    if (datasize <= 0 && !cut) {
        report("is empty; the scene has no boxes from it.", "");
        return problems;
    }
    enum { SHOWN_MAX = 8 };
    char unknown[SHOWN_MAX][BOXART_NAME_SIZE];  // the names the frames lack, each once
    int shown = 0, boxes = 0, other = 0;
    bool more = false;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(data);
    int remaining = datasize;
    for (int size; (size = boxart_item_at(p, remaining)) != 0; p += size, remaining -= size) {
        if (p[0] == BOXART_TYPE_BOX) {
            boxes++;
        } else if (p[0] != BOXART_TYPE_FRAME) {
            other += size;
        } else {
            char name[BOXART_NAME_SIZE];
            boxart_decode_frame(p, name);
            if (dbx_findframe(name) >= 0) continue;
            bool seen = false;
            for (int k = 0; k < shown; k++) seen = seen || strcmp(unknown[k], name) == 0;
            if (seen) continue;
            if (shown < SHOWN_MAX)
                memcpy(unknown[shown++], name, sizeof name);
            else
                more = true;
        }
    }
    if (boxes == 0) report("holds no box.", "");
    // The end of a file cut short is part of an item, not stray bytes.
    const int stray = other + (cut ? 0 : remaining);
    if (stray > 0) {
        char detail[96];
        snprintf(detail, sizeof detail, "%d bytes that are not frame names or boxes; they are skipped.", stray);
        report("holds ", detail);
    }
    if (shown > 0) {
        char list[SHOWN_MAX * (BOXART_NAME_SIZE + 4) + 64] = "";
        for (int k = 0; k < shown; k++) {
            dbx_printable(unknown[k]);  // unprintable bytes would garble the line
            snprintf(list + strlen(list), sizeof list - strlen(list), "%s\"%s\"", k ? ", " : "", unknown[k]);
        }
        snprintf(list + strlen(list), sizeof list - strlen(list), "%s; their boxes are not drawn.",
                 more ? " and more" : "");
        report(shown == 1 ? "names a frame the atlas lacks: " : "names frames the atlas lacks: ", list);
    }
    if (cut) {
        char detail[64];
        snprintf(detail, sizeof detail, "%d bytes; only the first %d are read.", BOXART_FILE_MAX, BOXART_FILE_MAX);
        report("is longer than ", detail);
    }
    return problems;
}

const char *(*boxart_open_hook)(const char *filename, int *size);

void boxart_loadfile(const char *name) {
    int held = 0;
    if (const char *data = boxart_open_hook ? boxart_open_hook(name, &held) : nullptr) {
        const bool cut = held > BOXART_FILE_MAX;
        if (cut) held = BOXART_FILE_MAX;
        if (held > 0) boxart_load(data, held);
        boxart_check(name, data, held, cut, stderr);
        return;
    }
    const dbx_path path = dbx_data_file(name);
    const char *filename = path.text;
    char buffer[BOXART_FILE_MAX];
    size_t got;
    bool cut;
    {
        const char *kind = nullptr;
        file_ptr f(dbx_open_regular(filename, &kind));
        if (!f) {
            if (kind)
                fprintf(stderr, "The box art file \"%s\" is %s, not a regular file; the scene goes on without its boxes.\n",
                        filename, kind);
            else
                fprintf(stderr, "Cannot open the box art file \"%s\" (looked in %s); the scene goes on without its "
                        "boxes.\n", filename, dbx_data_where().text);
            return;
        }
        got = fread(buffer, 1, sizeof buffer, f.get());
        cut = got == sizeof buffer && fgetc(f.get()) != EOF;
    }
    if (got > 0) boxart_load(buffer, static_cast<int>(got));
    boxart_check(filename, buffer, static_cast<int>(got), cut, stderr);
}

// ---------------------------------------------------------------- writer

size_t boxart_encode(unsigned char *out, size_t room, int dbfirst, int dblast) {
    if (dbfirst < 0) dbfirst = 0;
    if (dblast > DBX_MAX_DRAWBOXES) dblast = DBX_MAX_DRAWBOXES;
    size_t size = 0;
    auto put = [&](const unsigned char *item, size_t n) {
        if (size + n <= room) memcpy(out + size, item, n);
        size += n;
    };
    uint32_t written = 0;
    bool any = false;
    for (int i = dbfirst; i < dblast; i++) {
        const dbx_drawbox_t &db = dbx_drawbox[i];
        // Only a loaded frame has a name to store; any other index is stored
        // as the empty name, which reads back as no frame again.
        uint32_t frame = db.frame < dbx_frames && db.frame < DBX_MAX_FRAMES ? db.frame : BOXART_NO_FRAME;
        if (!any || frame != written) {
            static const char no_name[BOXART_NAME_SIZE] = {};
            unsigned char item[BOXART_FRAME_ITEM];
            boxart_encode_frame(frame == BOXART_NO_FRAME ? no_name : dbx_frame[frame].source_name, item);
            put(item, sizeof item);
            written = frame;
            any = true;
        }
        boxart_box_t box = {db.x1, db.y1, db.scale, db.rotation, extra[i]};
        unsigned char item[BOXART_BOX_ITEM];
        boxart_encode_box(&box, item);
        put(item, sizeof item);
    }
    return size;
}

void boxart_save(const char *filename, int dbfirst, int dblast) {
    static unsigned char bytes[DBX_MAX_DRAWBOXES * (BOXART_FRAME_ITEM + BOXART_BOX_ITEM)];
    size_t size = boxart_encode(bytes, sizeof bytes, dbfirst, dblast);
    std::string error;
    if (!tool_write_file(filename, bytes, size, error))
        fprintf(stderr, "Cannot write the box art file \"%s\" (%s); nothing was saved.\n", filename, error.c_str());
}

// ---------------------------------------------------------------- animation

uint32_t randomint(void) {
    rseed = (rseed * 125u) % 2796203u;
    return rseed;
}

void spinboxes(void) {
    uint32_t n = dbx_drawboxes < DBX_MAX_DRAWBOXES ? dbx_drawboxes : uint32_t{DBX_MAX_DRAWBOXES};
    if (n == 0) return;
    for (uint32_t i = 0; i < n; i++) dbx_drawbox[i].rotation += static_cast<float>(extra[i].delta_rot);
    for (uint32_t i = 0; i < n; i++) {
        dbx_drawbox_t &db = dbx_drawbox[i];
        const extra_t &e = extra[i];
        if (e.animationmode == 1) {
            if (&db == cursordb) continue;
            // Wrapping arithmetic: a home far out at the int limits wraps
            // rather than overflows.
            uint32_t rx = randomint() % 10u;
            db.x1 = static_cast<int32_t>(rx + static_cast<uint32_t>(e.x1) - 4u);
            uint32_t ry = randomint() % 10u;
            db.y1 = static_cast<int32_t>(ry + static_cast<uint32_t>(e.y1) - 4u);
        } else if (e.animationmode == 2) {
            if (&db == cursordb) continue;
            int32_t t = static_cast<int32_t>(static_cast<uint32_t>(e.timing) + static_cast<uint32_t>(dbx_tics));
            int32_t k = t % 50;  // takes the sign of the sum
            db.scale = static_cast<float>(static_cast<double>(e.scale1) + abs(k - 25) * 0.02);
        }
    }
}
