#include "pack.h"

#include <algorithm>
#include <numeric>

namespace {
constexpr unsigned edge_gap = 1;   // texels before the first shelf and column
constexpr unsigned frame_gap = 2;  // texels between neighbours
constexpr size_t name_bytes = 32;  // the frame record's name field, NUL included
}  // namespace

bool atlas_pack(const std::vector<std::string> &names, const std::vector<art_image> &pictures, unsigned size,
                std::vector<packed_frame> &frames, art_image &atlas, std::string &err) {
    if (names.size() != pictures.size()) {
        err = "names and pictures differ in number";
        return false;
    }
    const size_t n = names.size();
    std::vector<art_rect> trim(n);
    for (size_t i = 0; i < n; i++) {
        if (names[i].empty() || names[i].size() >= name_bytes) {
            err = "\"" + names[i] + "\": a frame name needs 1 to 31 characters";
            return false;
        }
        for (size_t j = 0; j < i; j++)
            if (names[j] == names[i]) {
                err = "\"" + names[i] + "\" is listed twice";
                return false;
            }
        trim[i] = art_opaque_box(pictures[i]);
        if (trim[i].width == 0) {
            err = names[i] + ": the picture is fully transparent";
            return false;
        }
    }

    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (trim[a].height != trim[b].height) return trim[a].height > trim[b].height;
        return trim[a].width > trim[b].width;
    });

    atlas.width = atlas.height = size;
    atlas.rgba.assign(size_t(size) * size * 4, 0);
    frames.clear();
    unsigned x = edge_gap, y = edge_gap, shelf = 0;
    for (size_t i : order) {
        const art_rect &t = trim[i];
        // Keep a border of at least one texel on the right and at the bottom
        // too, as on the other sides.
        if (x + t.width + edge_gap > size && x > edge_gap) {
            y += shelf + frame_gap;
            x = edge_gap;
            shelf = 0;
        }
        if (x + t.width + edge_gap > size || y + t.height + edge_gap > size) {
            err = names[i] + " does not fit into the " + std::to_string(size) + "x" + std::to_string(size) + " atlas";
            return false;
        }
        const art_image &p = pictures[i];
        for (unsigned r = 0; r < t.height; r++)
            std::copy_n(&p.rgba[(size_t(t.y + r) * p.width + t.x) * 4], size_t(t.width) * 4,
                        &atlas.rgba[(size_t(y + r) * size + x) * 4]);
        frames.push_back({names[i], x, y, t.x, t.y, t.width, t.height, p.width, p.height});
        shelf = std::max(shelf, t.height);
        x += t.width + frame_gap;
    }
    return true;
}

std::string atlas_header(const std::vector<packed_frame> &frames, const std::string &pngname) {
    std::string s;
    s += "// Frame table of the atlas \"" + pngname + "\", written by atlaspack: do not edit.\n";
    s += "// Columns: used, frameset, x1, y1, xoffset, yoffset, width, height,\n";
    s += "// source_name, source_width, source_height.\n";
    s += "#ifndef OUT_H\n#define OUT_H\n\n#include \"drawboxlib/drawboxlib.h\"\n\n";
    s += "static const dbx_frame_t tileset[" + std::to_string(frames.size()) + "] = {\n";
    for (const packed_frame &f : frames) {
        s += "    {1, 1, " + std::to_string(f.x1) + ", " + std::to_string(f.y1) + ", " + std::to_string(f.xoffset) + ", " +
             std::to_string(f.yoffset) + ", " + std::to_string(f.width) + ", " + std::to_string(f.height) + ", \"";
        for (char ch : f.name) {
            if (ch == '"' || ch == '\\') s += '\\';
            s += ch;
        }
        s += "\", " + std::to_string(f.source_width) + ", " + std::to_string(f.source_height) + "},\n";
    }
    s += "};\n\n#endif\n";
    return s;
}
