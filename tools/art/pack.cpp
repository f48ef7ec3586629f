#include "pack.h"

#include <algorithm>
#include <filesystem>
#include <numeric>

#include "file_io.h"

namespace {
constexpr unsigned edge_gap = 1;   // texels before the first shelf and column
constexpr unsigned frame_gap = 2;  // texels between neighbours
constexpr size_t name_bytes = 32;  // the frame record's name field, NUL included

// The renderer filters linearly and reaches one texel past a frame's edge, so
// a clear texel next to ink would pull its colour towards black: a dark seam
// round white boxes. Clear texels in and around the frame take the mean colour
// of their inked neighbours instead, and stay clear. The ring round a frame
// belongs to it alone, since frames lie two texels apart.
void bleed_colour(art_image &atlas, const std::vector<unsigned char> &src, const packed_frame &f) {
    const unsigned size = atlas.width;
    const unsigned x0 = f.x1 - 1, y0 = f.y1 - 1, x1 = f.x1 + f.width, y1 = f.y1 + f.height;  // inclusive
    auto at = [size](auto &img, unsigned x, unsigned y) { return &img[(size_t(y) * size + x) * 4]; };
    for (unsigned y = y0; y <= y1 && y < size; y++)
        for (unsigned x = x0; x <= x1 && x < size; x++) {
            if (at(src, x, y)[3] != 0) continue;
            unsigned sum[3] = {0, 0, 0}, n = 0;
            for (int dy = -1; dy <= 1; dy++)
                for (int dx = -1; dx <= 1; dx++) {
                    unsigned nx = x + dx, ny = y + dy;
                    if (nx < f.x1 || ny < f.y1 || nx >= f.x1 + f.width || ny >= f.y1 + f.height) continue;
                    const unsigned char *p = at(src, nx, ny);
                    if (p[3] == 0) continue;
                    for (int c = 0; c < 3; c++) sum[c] += p[c];
                    n++;
                }
            if (n)
                for (int c = 0; c < 3; c++) at(atlas.rgba, x, y)[c] = (unsigned char)((sum[c] + n / 2) / n);
        }
}

}  // namespace

std::string atlas_frame_problem(const std::string &name, const art_image &picture, unsigned size) {
    if (name.empty() || name.size() >= name_bytes) return "a frame name needs 1 to 31 characters";
    for (char ch : name)
        if (static_cast<unsigned char>(ch) < 32 || ch == 127) return "a frame name cannot hold control characters";
    const art_rect trim = art_opaque_box(picture);
    if (trim.width == 0) return "the picture is fully transparent";
    if (trim.width + 2 * edge_gap > size || trim.height + 2 * edge_gap > size)
        return std::to_string(trim.width) + "x" + std::to_string(trim.height) + " once trimmed, it does not fit into the " +
               std::to_string(size) + "x" + std::to_string(size) + " atlas";
    return "";
}

void atlas_read_sprites(const std::string &dir, unsigned size, std::vector<std::string> &names,
                        std::vector<art_image> &pictures, std::vector<std::string> &refused) {
    std::error_code ec;
    std::vector<std::string> files;
    for (const auto &entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::string file = entry.path().filename().string();
        if (file.size() > 4 && file.compare(file.size() - 4, 4, ".png") == 0) files.push_back(file);
    }
    std::sort(files.begin(), files.end());
    for (const std::string &file : files) {
        art_image picture;
        std::string err;
        const std::string path = dir + "/" + file;
        if (!art_png_read(path, picture, err)) {
            if (err.rfind(path + ": ", 0) == 0) err.erase(0, path.size() + 2);
            refused.push_back(file + ": not a PNG that can be read (" + err + ")");
            continue;
        }
        std::string why = atlas_frame_problem(file, picture, size);
        if (why.empty() && std::find(names.begin(), names.end(), file) != names.end())
            why = "the name is taken by another frame";
        if (!why.empty()) {
            refused.push_back(file + ": " + why);
            continue;
        }
        names.push_back(file);
        pictures.push_back(std::move(picture));
    }
}

bool atlas_pack(const std::vector<std::string> &names, const std::vector<art_image> &pictures, unsigned size,
                std::vector<packed_frame> &frames, art_image &atlas, std::string &err, size_t given) {
    if (names.size() != pictures.size()) {
        err = "names and pictures differ in number";
        return false;
    }
    const size_t n = names.size();
    std::vector<art_rect> trim(n);
    for (size_t i = 0; i < n; i++) {
        const std::string why = atlas_frame_problem(names[i], pictures[i], size);
        if (!why.empty()) {
            err = "\"" + names[i] + "\": " + why;
            return false;
        }
        for (size_t j = 0; j < i; j++)
            if (names[j] == names[i]) {
                err = "\"" + names[i] + "\" is listed twice";
                return false;
            }
        trim[i] = art_opaque_box(pictures[i]);
    }

    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    const auto taller = [&](size_t a, size_t b) {
        if (trim[a].height != trim[b].height) return trim[a].height > trim[b].height;
        return trim[a].width > trim[b].width;
    };
    const auto split = order.begin() + static_cast<std::ptrdiff_t>(std::min(given, n));
    std::stable_sort(order.begin(), split, taller);
    std::stable_sort(split, order.end(), taller);

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
    const std::vector<unsigned char> packed(atlas.rgba);
    for (const packed_frame &f : frames) bleed_colour(atlas, packed, f);
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

bool atlas_read_list(const std::string &path, std::vector<std::string> &names, std::string &err) {
    std::vector<unsigned char> bytes;
    if (!tool_read_file(path, bytes, err)) return false;
    std::string text(bytes.begin(), bytes.end());
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string s = text.substr(at, end - at);
        at = end + 1;
        while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
        size_t start = s.find_first_not_of(" \t");
        if (start == std::string::npos || s[start] == '#') continue;
        names.push_back(s.substr(start));
    }
    return true;
}
