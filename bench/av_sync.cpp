// av_sync: the helper of av_sync.sh, which measures how far the live intro's
// pictures are from its sound.
//
//   av_sync stamp AUDIO.raw TIMES.txt
//       Copies raw audio from standard input to AUDIO.raw and notes, after
//       every read, the bytes so far and the wall-clock time in microseconds.
//   av_sync analyse [options]
//       Finds where the recorded sound reaches each song position (by
//       matching it, sample for sample, against an offline rendering of the
//       module) and when the picture switches scene around that moment, and
//       prints the picture-minus-sound offsets, their median and every
//       drop-out (a gap or a jump in the recorded sound).
#include "file_io.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

const char usage[] =
    "usage: av_sync stamp AUDIO.raw TIMES.txt\n"
    "       av_sync analyse --ref REF.wav --audio AUDIO.raw --audio-times TIMES.txt\n"
    "                       --video VIDEO.gray --video-log FFMPEG.log --size WxH\n"
    "                       [--rate 48000] [--position-samples N] [--positions 1,2,5,...]\n"
    "                       [--until-ms T]\n"
    "\n"
    "stamp copies 16-bit stereo audio from standard input to AUDIO.raw and writes\n"
    "\"<bytes so far> <wall clock in microseconds>\" to TIMES.txt after every read.\n"
    "\n"
    "analyse reads the recording of the sink's monitor (AUDIO.raw, TIMES.txt), the\n"
    "offline rendering of the module (REF.wav, 16-bit stereo at --rate), the grabbed\n"
    "screen (VIDEO.gray: 8-bit grey frames of WxH, and ffmpeg's showinfo log with\n"
    "each frame's wall-clock pts in microseconds) and prints, for every position in\n"
    "--positions (each --position-samples long), when the sound reaches it, when\n"
    "the picture switches scene, and the difference; then the median difference\n"
    "and the drop-outs found in the recorded sound (up to wall-clock time T in ms,\n"
    "when the intro was stopped).\n";

uint64_t wall_us() {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

int stamp(const char *audio_path, const char *times_path) {
    FILE *audio = fopen(audio_path, "wb");
    FILE *times = fopen(times_path, "w");
    if (!audio || !times) {
        fprintf(stderr, "av_sync: cannot write %s: %s\n", !audio ? audio_path : times_path, strerror(errno));
        return 1;
    }
    static char buffer[4096];
    uint64_t total = 0;
    for (;;) {
        ssize_t n = read(0, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        uint64_t now = wall_us();
        total += static_cast<uint64_t>(n);
        fwrite(buffer, 1, static_cast<size_t>(n), audio);
        fprintf(times, "%llu %llu\n", static_cast<unsigned long long>(total), static_cast<unsigned long long>(now));
    }
    fclose(audio);
    fclose(times);
    return 0;
}

bool read_file(const std::string &path, std::vector<unsigned char> &data) {
    std::string err;
    if (tool_read_file(path, data, err)) return true;
    fprintf(stderr, "av_sync: %s\n", err.c_str());
    return false;
}

// Stereo frames as one 32-bit word each: equal words are equal samples.
std::vector<uint32_t> frames_of(const unsigned char *bytes, size_t size) {
    std::vector<uint32_t> out(size / 4);
    if (!out.empty()) memcpy(out.data(), bytes, out.size() * 4);
    return out;
}

// The data of a canonical WAV file (after the "data" chunk header).
bool wav_frames(const std::string &path, std::vector<uint32_t> &out) {
    std::vector<unsigned char> data;
    if (!read_file(path, data)) return false;
    for (size_t i = 12; i + 8 <= data.size();) {
        uint32_t size;
        memcpy(&size, &data[i + 4], 4);
        if (!memcmp(&data[i], "data", 4)) {
            size_t n = std::min<size_t>(size, data.size() - i - 8);
            out = frames_of(&data[i + 8], n);
            return true;
        }
        i += 8 + size + (size & 1);
    }
    return false;
}

constexpr size_t window = 32;  // frames that identify a place in the song

uint64_t window_hash(const uint32_t *p) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < window; i++) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

bool silent(const uint32_t *p) {
    for (size_t i = 0; i < window; i++)
        if (p[i]) return false;
    return true;
}

struct options {
    std::string ref, audio, audio_times, video, video_log;
    int width = 0, height = 0;
    unsigned rate = 48000;
    uint64_t position_samples = 0;  // 0: omber's, 64 rows of 0.12 s at the rate
    std::vector<int> positions{1, 2, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 20};
    double until_ms = 1e300;  // the intro was stopped then: later gaps are not drop-outs
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int analyse(const options &o) {
    std::vector<uint32_t> ref, rec;
    std::vector<unsigned char> raw;
    if (!wav_frames(o.ref, ref)) {
        fprintf(stderr, "av_sync: cannot read the rendering %s\n", o.ref.c_str());
        return 1;
    }
    if (!read_file(o.audio, raw)) {
        fprintf(stderr, "av_sync: cannot read the recording %s\n", o.audio.c_str());
        return 1;
    }
    rec = frames_of(raw.data(), raw.size());

    // Wall clock of recorded frame k: t0 + k / rate, where t0 is the
    // earliest any read could have happened (reads only come late).
    FILE *times = fopen(o.audio_times.c_str(), "r");
    if (!times) {
        fprintf(stderr, "av_sync: cannot read %s\n", o.audio_times.c_str());
        return 1;
    }
    double t0 = 1e300;
    unsigned long long bytes, us;
    while (fscanf(times, "%llu %llu", &bytes, &us) == 2)
        t0 = std::min(t0, static_cast<double>(us) - static_cast<double>(bytes / 4) * 1e6 / o.rate);
    fclose(times);
    if (t0 > 1e299) {
        fprintf(stderr, "av_sync: no sound was recorded\n");
        return 1;
    }

    // Where each stretch of the recording lies in the song: windows of the
    // rendering by content, looked up for every recorded window that is not
    // silence. lag = recorded frame - rendered frame.
    std::unordered_map<uint64_t, int64_t> where;
    where.reserve(ref.size() / window * 2);
    for (size_t i = 0; i + window <= ref.size(); i += window)
        if (!silent(&ref[i])) where.emplace(window_hash(&ref[i]), static_cast<int64_t>(i));
    struct stretch {
        int64_t from, to, lag;  // recorded frames [from, to)
    };
    std::vector<stretch> stretches;
    size_t unmatched = 0;
    for (size_t k = 0; k + window <= rec.size();) {
        if (silent(&rec[k])) {
            k += window;
            continue;
        }
        // Most windows continue the stretch before them; repeated parts of
        // the song would otherwise be taken for one another.
        if (!stretches.empty()) {
            int64_t at = static_cast<int64_t>(k) - stretches.back().lag;
            if (at >= 0 && static_cast<size_t>(at) + window <= ref.size() &&
                !memcmp(&rec[k], &ref[static_cast<size_t>(at)], window * 4)) {
                stretches.back().to = static_cast<int64_t>(k + window);
                k += window;
                continue;
            }
        }
        // Else try every alignment of the recorded window against the
        // rendering's grid of windows.
        bool found = false;
        for (size_t s = 0; s < window && k + s + window <= rec.size(); s++) {
            auto it = where.find(window_hash(&rec[k + s]));
            if (it == where.end()) continue;
            int64_t lag = static_cast<int64_t>(k + s) - it->second;
            if (!stretches.empty() && stretches.back().lag == lag)
                stretches.back().to = static_cast<int64_t>(k + s + window);
            else
                stretches.push_back({static_cast<int64_t>(k + s), static_cast<int64_t>(k + s + window), lag});
            k += s + window;
            found = true;
            break;
        }
        if (!found) {
            unmatched++;
            k += window;
        }
    }
    if (stretches.empty()) {
        fprintf(stderr, "av_sync: the recording does not match the rendering anywhere\n");
        return 1;
    }
    auto ms_at = [&](int64_t k) { return (t0 + static_cast<double>(k) * 1e6 / o.rate) / 1000.0; };
    auto lag_at = [&](int64_t ref_frame) -> const stretch * {
        for (const stretch &s : stretches)
            if (ref_frame + s.lag >= s.from && ref_frame + s.lag < s.to) return &s;
        return nullptr;
    };

    // The picture: how much each grabbed frame differs from the one before
    // (mean absolute difference of the grey levels), and the wall-clock time
    // of each grab. A new scene (other boxes, often another background)
    // changes far more of the picture at once than spinning boxes or a
    // revealed box do.
    std::vector<unsigned char> video;
    if (!read_file(o.video, video) || o.width <= 0 || o.height <= 0) {
        fprintf(stderr, "av_sync: cannot read the grabbed frames %s\n", o.video.c_str());
        return 1;
    }
    const size_t frame_bytes = static_cast<size_t>(o.width) * static_cast<size_t>(o.height);
    std::vector<double> pts;
    FILE *log = fopen(o.video_log.c_str(), "r");
    if (!log) {
        fprintf(stderr, "av_sync: cannot read %s\n", o.video_log.c_str());
        return 1;
    }
    char line[4096];
    while (fgets(line, sizeof line, log)) {
        const char *p = strstr(line, " pts:");
        if (!strstr(line, "showinfo") || !p || !strstr(line, " n:")) continue;
        pts.push_back(strtod(p + 5, nullptr) / 1000.0);
    }
    fclose(log);
    size_t frames = std::min(pts.size(), video.size() / frame_bytes);
    if (frames < 2) {
        fprintf(stderr, "av_sync: fewer than two grabbed frames\n");
        return 1;
    }
    std::vector<double> change(frames, 0.0);
    for (size_t f = 1; f < frames; f++) {
        const unsigned char *a = &video[(f - 1) * frame_bytes], *b = &video[f * frame_bytes];
        uint64_t sum = 0;
        for (size_t i = 0; i < frame_bytes; i++) sum += static_cast<uint64_t>(std::abs(a[i] - b[i]));
        change[f] = static_cast<double>(sum) / static_cast<double>(frame_bytes);
    }
    std::vector<double> intervals;
    for (size_t f = 1; f < frames; f++) intervals.push_back(pts[f] - pts[f - 1]);
    printf("screen: %zu frames grabbed, every %.1f ms (median)\n", frames, median(intervals));

    printf("position  sound reaches it (ms)  picture switches (ms)  picture - sound (ms)  change (next largest)\n");
    std::vector<double> offsets;
    for (int p : o.positions) {
        int64_t ref_frame = static_cast<int64_t>(o.position_samples) * p;
        const stretch *s = lag_at(ref_frame);
        if (!s) {
            printf("%8d  not in the recording\n", p);
            continue;
        }
        double sound = ms_at(ref_frame + s->lag);
        // The switch: the biggest change within 400 ms of the sound, clearly
        // bigger than any other there.
        // It happened between the grab before and this one: the midpoint.
        size_t best = 0;
        double top = 0, second = 0;
        for (size_t f = 1; f < frames; f++) {
            if (std::fabs(pts[f] - sound) > 400) continue;
            if (change[f] > top) {
                second = top;
                top = change[f];
                best = f;
            } else if (change[f] > second) {
                second = change[f];
            }
        }
        if (best == 0) {
            printf("%8d  %21.1f  not on screen\n", p, sound);
            continue;
        }
        double picture = (pts[best - 1] + pts[best]) / 2;
        bool clear = top >= 1.5 * second;
        printf("%8d  %21.1f  %21.1f  %20.1f  %6.1f (%.1f)%s\n", p, sound, picture, picture - sound, top, second,
               clear ? "" : "  unclear, left out");
        if (clear) offsets.push_back(picture - sound);
    }

    // Drop-outs: the recording jumps against the song (a gap of silence, or
    // a piece missing), seen as a change of lag between matched stretches.
    int dropouts = 0;
    for (size_t i = 1; i < stretches.size(); i++) {
        int64_t jump = stretches[i].lag - stretches[i - 1].lag;
        if (jump == 0 || ms_at(stretches[i].from) > o.until_ms) continue;
        dropouts++;
        printf("drop-out at %.1f ms (song %.3f s): the sound %s by %.1f ms\n", ms_at(stretches[i].from),
               static_cast<double>(stretches[i].from - stretches[i].lag) / o.rate, jump > 0 ? "stalls" : "skips",
               std::fabs(static_cast<double>(jump)) * 1000.0 / o.rate);
    }
    double song_seconds = static_cast<double>(stretches.back().to - stretches.back().lag) / o.rate;
    printf("sound matched up to %.1f s of the song, %zu unmatched windows of %zu frames\n", song_seconds, unmatched,
           window);
    if (offsets.empty()) {
        printf("no scene switch measured\n");
        return 1;
    }
    printf("median picture - sound: %.1f ms over %zu switches (min %.1f, max %.1f); drop-outs: %d\n",
           median(offsets), offsets.size(), *std::min_element(offsets.begin(), offsets.end()),
           *std::max_element(offsets.begin(), offsets.end()), dropouts);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc >= 2 && (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h"))) {
        fputs(usage, stdout);
        return 0;
    }
    if (argc == 4 && !strcmp(argv[1], "stamp")) return stamp(argv[2], argv[3]);
    if (argc >= 2 && !strcmp(argv[1], "analyse")) {
        options o;
        for (int i = 2; i < argc; i++) {
            std::string a = argv[i];
            const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
            if (!v) {
                fprintf(stderr, "av_sync: %s needs a value\n%s", a.c_str(), usage);
                return 2;
            }
            i++;
            if (a == "--ref") o.ref = v;
            else if (a == "--audio") o.audio = v;
            else if (a == "--audio-times") o.audio_times = v;
            else if (a == "--video") o.video = v;
            else if (a == "--video-log") o.video_log = v;
            else if (a == "--size") {
                if (sscanf(v, "%dx%d", &o.width, &o.height) != 2) {
                    fprintf(stderr, "av_sync: --size wants WxH, not \"%s\"\n", v);
                    return 2;
                }
            } else if (a == "--rate") o.rate = static_cast<unsigned>(strtoul(v, nullptr, 10));
            else if (a == "--until-ms") o.until_ms = strtod(v, nullptr);
            else if (a == "--position-samples") o.position_samples = strtoull(v, nullptr, 10);
            else if (a == "--positions") {
                o.positions.clear();
                for (const char *p = v; *p;) {
                    char *end;
                    long n = strtol(p, &end, 10);
                    if (end == p) break;
                    o.positions.push_back(static_cast<int>(n));
                    p = *end == ',' ? end + 1 : end;
                }
            } else {
                fprintf(stderr, "av_sync: unknown option %s\n%s", a.c_str(), usage);
                return 2;
            }
        }
        if (o.ref.empty() || o.audio.empty() || o.audio_times.empty() || o.video.empty() || o.video_log.empty() ||
            o.rate == 0) {
            fprintf(stderr, "%s", usage);
            return 2;
        }
        if (o.position_samples == 0) o.position_samples = uint64_t{o.rate} * 768 / 100;
        return analyse(o);
    }
    fputs(usage, stderr);
    return 2;
}
