// Dump and build of box art files. The item layout and its field encoding are
// the intro's own (boxart_item_at, boxart_decode_box, boxart_encode_box,
// boxart_encode_frame); this file only turns items into lines and back.
#include "boxart_text.h"

#include "boxart_format.h"

#include <cerrno>
#include <cstdarg>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

// ---------------------------------------------------------------- dump

static void append_hex(std::string &out, const unsigned char *p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < n; i++) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
}

static void append_format(std::string &out, const char *format, ...) __attribute__((format(printf, 2, 3)));
static void append_format(std::string &out, const char *format, ...) {
    char buffer[256];  // the longest use: six ints of up to 11 characters
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n > 0) out.append(buffer, static_cast<size_t>(n) < sizeof buffer ? static_cast<size_t>(n) : sizeof buffer - 1);
}

// The fewest significant digits that bring the float back exactly (1.3,
// not 1.29999995; 10, not 1e+01); nine always do for finite floats and the
// infinities. A NaN keeps its payload only in hex.
static bool float_text(float value, std::string &out) {
    char buffer[32];
    for (int digits = 1; digits <= 9; digits++) {
        snprintf(buffer, sizeof buffer, "%.*g", digits, static_cast<double>(value));
        float back = strtof(buffer, nullptr);
        if (memcmp(&back, &value, sizeof value) != 0) continue;
        if (digits < 9 && strchr(buffer, 'e')) continue;
        out += buffer;
        return true;
    }
    return false;
}

static std::string box_line(const unsigned char *item) {
    boxart_box_t b;
    boxart_decode_box(item, &b);
    const extra_t &e = b.myextra;
    std::string line = "box";
    append_format(line, " %d %d ", static_cast<int>(b.x1), static_cast<int>(b.y1));
    bool exact = float_text(b.scale, line);
    line += ' ';
    exact = exact && float_text(b.rotation, line);
    append_format(line, " %d %d %d %d %d %d ", static_cast<int>(e.delta_rot), static_cast<int>(e.animationmode),
                  static_cast<int>(e.extra1), static_cast<int>(e.extra2), static_cast<int>(e.x1),
                  static_cast<int>(e.y1));
    exact = exact && float_text(e.scale1, line);
    append_format(line, " %d", static_cast<int>(e.timing));
    if (exact) return line;
    line = "item 2 ";
    append_hex(line, item + 1, BOXART_BOX_ITEM - 1);
    return line;
}

static std::string frame_line(const unsigned char *item) {
    const unsigned char *name = item + 1;
    int length = BOXART_NAME_SIZE;
    while (length > 0 && name[length - 1] == 0) length--;
    std::string line = "frame \"";
    for (int i = 0; i < length; i++) {
        unsigned char c = name[i];
        if (c == '"' || c == '\\') {
            line += '\\';
            line += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            line += static_cast<char>(c);
        } else {
            append_format(line, "\\x%02x", c);
        }
    }
    return line + "\"";
}

std::string boxart_dump_text(const unsigned char *data, size_t size) {
    std::string text = "# box X Y SCALE ROT DELTA_ROT MODE EXTRA1 EXTRA2 HOME_X HOME_Y SCALE1 TIMING\n";
    size_t at = 0;
    for (;;) {
        size_t left = size - at;
        int item = boxart_item_at(data + at, left > 64 ? 64 : static_cast<int>(left));
        if (item == 0) break;
        const unsigned char *p = data + at;
        if (p[0] == BOXART_TYPE_FRAME) {
            text += frame_line(p);
        } else if (p[0] == BOXART_TYPE_BOX) {
            text += box_line(p);
        } else {
            text += "item ";
            append_format(text, "%d ", p[0]);
            append_hex(text, p + 1, BOXART_BOX_ITEM - 1);
        }
        text += '\n';
        at += static_cast<size_t>(item);
    }
    if (at < size) {
        text += "tail ";
        append_hex(text, data + at, size - at);
        text += '\n';
    }
    return text;
}

// ---------------------------------------------------------------- build

namespace {

struct token {
    std::string text;
    bool quoted;
};

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// Splits a line into words and quoted strings (escapes decoded); stops at a
// '#' outside quotes.
bool split_line(const std::string &line, std::vector<token> &tokens, std::string &error) {
    size_t i = 0, n = line.size();
    while (i < n) {
        if (is_space(line[i])) {
            i++;
            continue;
        }
        if (line[i] == '#') break;
        token t{std::string(), line[i] == '"'};
        if (t.quoted) {
            i++;
            for (;;) {
                if (i >= n) {
                    error = "the quoted name has no closing '\"'";
                    return false;
                }
                char c = line[i++];
                if (c == '"') break;
                if (c != '\\') {
                    t.text += c;
                    continue;
                }
                char e = i < n ? line[i++] : '\0';
                if (e == '"' || e == '\\') {
                    t.text += e;
                } else if (e == 'x' && i + 1 < n && hex_value(line[i]) >= 0 && hex_value(line[i + 1]) >= 0) {
                    t.text += static_cast<char>(hex_value(line[i]) * 16 + hex_value(line[i + 1]));
                    i += 2;
                } else if (e == 'x') {
                    error = "\\x needs two hex digits";
                    return false;
                } else {
                    error = "unknown escape in the name (use \\\", \\\\ or \\xHH)";
                    return false;
                }
            }
            if (i < n && !is_space(line[i]) && line[i] != '#') {
                error = "a space must follow the closing '\"'";
                return false;
            }
        } else {
            while (i < n && !is_space(line[i]) && line[i] != '#') t.text += line[i++];
        }
        tokens.push_back(t);
    }
    return true;
}

bool parse_int32(const token &t, int32_t &value) {
    if (t.quoted || t.text.empty()) return false;
    errno = 0;
    char *end;
    long long v = strtoll(t.text.c_str(), &end, 10);
    if (*end || errno || v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool parse_float(const token &t, float &value) {
    if (t.quoted || t.text.empty()) return false;
    errno = 0;
    char *end;
    float v = strtof(t.text.c_str(), &end);
    if (*end) return false;
    // Too small rounds towards zero, which is fine; too large is an error.
    if (errno == ERANGE && std::isinf(v)) return false;
    value = v;
    return true;
}

bool parse_hex(const token &t, std::vector<unsigned char> &bytes) {
    if (t.quoted || t.text.size() % 2) return false;
    bytes.clear();
    for (size_t i = 0; i < t.text.size(); i += 2) {
        int hi = hex_value(t.text[i]), lo = hex_value(t.text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes.push_back(static_cast<unsigned char>(hi * 16 + lo));
    }
    return true;
}

// One line's item appended to `out`; false with `error` set on bad input.
bool build_line(const std::vector<token> &tk, std::vector<unsigned char> &out, bool &tail_seen, std::string &error) {
    const std::string &word = tk[0].text;
    if (tk[0].quoted) {
        error = "a line starts with frame, box, item or tail";
        return false;
    }
    if (tail_seen) {
        error = "nothing may follow the tail";
        return false;
    }
    if (word == "frame") {
        if (tk.size() != 2 || !tk[1].quoted) {
            error = "frame takes one quoted name: frame \"NAME\"";
            return false;
        }
        if (tk[1].text.size() > BOXART_NAME_SIZE) {
            error = "the frame name is longer than 32 bytes";
            return false;
        }
        char name[BOXART_NAME_SIZE] = {};
        memcpy(name, tk[1].text.data(), tk[1].text.size());
        unsigned char item[BOXART_FRAME_ITEM];
        boxart_encode_frame(name, item);
        out.insert(out.end(), item, item + sizeof item);
        return true;
    }
    if (word == "box") {
        if (tk.size() != 13) {
            error = "box takes 12 numbers (X Y SCALE ROT DELTA_ROT MODE EXTRA1 EXTRA2 HOME_X HOME_Y SCALE1 TIMING), found " +
                    std::to_string(tk.size() - 1);
            return false;
        }
        boxart_box_t b;
        extra_t &e = b.myextra;
        struct field {
            const char *name;
            int32_t *i;
            float *f;
        } fields[12] = {{"X", &b.x1, nullptr},
                        {"Y", &b.y1, nullptr},
                        {"SCALE", nullptr, &b.scale},
                        {"ROT", nullptr, &b.rotation},
                        {"DELTA_ROT", &e.delta_rot, nullptr},
                        {"MODE", &e.animationmode, nullptr},
                        {"EXTRA1", &e.extra1, nullptr},
                        {"EXTRA2", &e.extra2, nullptr},
                        {"HOME_X", &e.x1, nullptr},
                        {"HOME_Y", &e.y1, nullptr},
                        {"SCALE1", nullptr, &e.scale1},
                        {"TIMING", &e.timing, nullptr}};
        for (int i = 0; i < 12; i++) {
            const token &t = tk[static_cast<size_t>(i) + 1];
            bool ok = fields[i].i ? parse_int32(t, *fields[i].i) : parse_float(t, *fields[i].f);
            if (!ok) {
                error = std::string(fields[i].name) + " \"" + t.text + "\" is not " +
                        (fields[i].i ? "a 32-bit integer" : "a 32-bit float");
                return false;
            }
        }
        unsigned char item[BOXART_BOX_ITEM];
        boxart_encode_box(&b, item);
        out.insert(out.end(), item, item + sizeof item);
        return true;
    }
    if (word == "item") {
        int32_t type = -1;
        std::vector<unsigned char> rest;
        if (tk.size() != 3 || !parse_int32(tk[1], type) || type < 0 || type > 255) {
            error = "item takes a type byte (0 to 255) and 96 hex digits: item TYPE HEX";
            return false;
        }
        if (type == BOXART_TYPE_FRAME) {
            error = "type 1 is a frame name: write it as frame \"NAME\"";
            return false;
        }
        if (!parse_hex(tk[2], rest) || rest.size() != BOXART_BOX_ITEM - 1) {
            error = "item needs exactly 96 hex digits after its type";
            return false;
        }
        out.push_back(static_cast<unsigned char>(type));
        out.insert(out.end(), rest.begin(), rest.end());
        return true;
    }
    if (word == "tail") {
        std::vector<unsigned char> bytes;
        if (tk.size() != 2 || !parse_hex(tk[1], bytes) || bytes.empty()) {
            error = "tail takes an even number of hex digits: tail HEX";
            return false;
        }
        if (bytes.size() >= BOXART_BOX_ITEM || boxart_item_at(bytes.data(), static_cast<int>(bytes.size())) != 0) {
            error = "the tail holds a whole item; write it as an item line";
            return false;
        }
        out.insert(out.end(), bytes.begin(), bytes.end());
        tail_seen = true;
        return true;
    }
    error = "unknown line \"" + word + "\" (expected frame, box, item or tail)";
    return false;
}

}  // namespace

bool boxart_build_text(const std::string &text, std::vector<unsigned char> &bytes, std::string &error) {
    bytes.clear();
    bool tail_seen = false;
    size_t start = 0;
    for (int line_number = 1; start < text.size(); line_number++) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        std::vector<token> tokens;
        std::string what;
        if (line.find('\0') != std::string::npos) {
            what = "the line holds a NUL byte";
        } else if (split_line(line, tokens, what) && (tokens.empty() || build_line(tokens, bytes, tail_seen, what))) {
            continue;
        }
        error = "line " + std::to_string(line_number) + ": " + what;
        bytes.clear();
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- rewrite

namespace {

enum line_kind { LINE_OTHER, LINE_FRAME, LINE_BOX, LINE_DROPPED };

// What a line of valid text is: a frame line (its name in `name`), a box
// (a box line or an item of the box type), an item of another type or the
// tail (which the rewrite drops), or a comment or blank line.
line_kind classify(const std::string &line, std::string &name) {
    std::vector<token> tk;
    std::string error;
    if (!split_line(line, tk, error) || tk.empty() || tk[0].quoted) return LINE_OTHER;
    if (tk[0].text == "frame" && tk.size() == 2) {
        name = tk[1].text;
        name.resize(BOXART_NAME_SIZE, '\0');
        return LINE_FRAME;
    }
    if (tk[0].text == "box") return LINE_BOX;
    int32_t type = 0;
    if (tk[0].text == "item" && tk.size() == 3 && parse_int32(tk[1], type) && type == BOXART_TYPE_BOX)
        return LINE_BOX;
    return tk[0].text == "item" || tk[0].text == "tail" ? LINE_DROPPED : LINE_OTHER;
}

struct old_box {
    std::vector<std::string> prefix;  // the lines between the box before and this one
    std::string line;
    std::string item;                 // its 49 bytes as built
};

}  // namespace

std::string boxart_rewrite_text(const std::string &old_text, const unsigned char *data, size_t size,
                                const std::vector<int> &origin) {
    std::vector<unsigned char> old_bytes;
    std::string error;
    if (old_text.empty() || !boxart_build_text(old_text, old_bytes, error)) return boxart_dump_text(data, size);

    // The old text cut at its box lines; each box keeps its built bytes.
    std::vector<old_box> boxes;
    std::vector<std::string> lines;
    for (size_t start = 0; start < old_text.size();) {
        size_t end = old_text.find('\n', start);
        if (end == std::string::npos) end = old_text.size();
        lines.push_back(old_text.substr(start, end - start));
        start = end + 1;
    }
    std::vector<std::string> pending;
    for (const std::string &line : lines) {
        std::string name;
        if (classify(line, name) != LINE_BOX) {
            pending.push_back(line);
            continue;
        }
        boxes.push_back({pending, line, std::string()});
        pending.clear();
    }
    size_t k = 0;
    for (size_t at = 0; k < boxes.size();) {
        int n = boxart_item_at(old_bytes.data() + at, static_cast<int>(old_bytes.size() - at));
        if (n == 0) break;
        if (old_bytes[at] == BOXART_TYPE_BOX)
            boxes[k++].item.assign(reinterpret_cast<const char *>(old_bytes.data() + at), static_cast<size_t>(n));
        at += static_cast<size_t>(n);
    }

    // The comments of boxes that are gone stay with the next box that is
    // not, or with the end of the text.
    std::vector<bool> kept(boxes.size(), false);
    for (int o : origin)
        if (o >= 0 && static_cast<size_t>(o) < boxes.size()) kept[static_cast<size_t>(o)] = true;
    std::vector<std::vector<std::string>> inherited(boxes.size());
    std::vector<std::string> carry;
    for (size_t i = 0; i < boxes.size(); i++) {
        if (kept[i]) {
            inherited[i].swap(carry);
            continue;
        }
        for (const std::string &line : boxes[i].prefix) {
            std::string name;
            if (classify(line, name) == LINE_OTHER) carry.push_back(line);
        }
    }

    std::string text, frame;  // `frame`: the name of a frame item not yet written
    bool frame_due = false;
    std::vector<bool> used(boxes.size(), false);
    auto emit = [&](const std::string &line) {
        text += line;
        text += '\n';
    };
    // A prefix's comments as they stood; its frame line only where the
    // frame changes there, and only once.
    auto emit_prefix = [&](const std::vector<std::string> &prefix) {
        for (const std::string &line : prefix) {
            std::string name;
            line_kind kind = classify(line, name);
            if (kind == LINE_OTHER) emit(line);
            if (kind == LINE_FRAME && frame_due && name == frame) {
                emit(line);
                frame_due = false;
            }
        }
    };
    size_t box_number = 0;
    for (size_t at = 0;;) {
        int n = boxart_item_at(data + at, size - at > 64 ? 64 : static_cast<int>(size - at));
        if (n == 0) break;
        const unsigned char *p = data + at;
        at += static_cast<size_t>(n);
        if (p[0] == BOXART_TYPE_FRAME) {
            frame.assign(reinterpret_cast<const char *>(p + 1), BOXART_NAME_SIZE);
            frame_due = true;
            continue;
        }
        if (p[0] != BOXART_TYPE_BOX) continue;
        int o = box_number < origin.size() ? origin[box_number] : -1;
        box_number++;
        const old_box *was = nullptr;
        if (o >= 0 && static_cast<size_t>(o) < boxes.size() && !used[static_cast<size_t>(o)]) {
            used[static_cast<size_t>(o)] = true;
            was = &boxes[static_cast<size_t>(o)];
            for (const std::string &line : inherited[static_cast<size_t>(o)]) emit(line);
            emit_prefix(was->prefix);
        }
        if (frame_due) {
            unsigned char item[BOXART_FRAME_ITEM];
            boxart_encode_frame(frame.data(), item);
            emit(frame_line(item));
            frame_due = false;
        }
        if (was && was->item.size() == BOXART_BOX_ITEM && !memcmp(was->item.data(), p, BOXART_BOX_ITEM))
            emit(was->line);
        else
            emit(box_line(p));
    }
    for (const std::string &line : carry) emit(line);
    frame_due = false;
    emit_prefix(pending);
    // The old text's last line had no line end: neither has the new one.
    if (!old_text.empty() && old_text.back() != '\n' && !text.empty()) text.pop_back();
    return text;
}
