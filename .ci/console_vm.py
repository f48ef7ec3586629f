#!/usr/bin/env python3
"""Boots the console check's virtual machine (made by .ci/console.sh) and
checks from outside what a user at its screen would see and hear:

 - the screen, dumped through QEMU's monitor at three song positions, shows
   the scene invitro-capture shows there (pictures compared as means over
   20 x 20 pixel blocks, as the web test does, allowing for the emulated
   machine's few frames a second);
 - the letterbox bars around the 640 x 360 picture have the colour every
   display layer gives them;
 - the sound card's output (QEMU records it to a WAV file) carries the song:
   pieces of it match xmrender's rendering at increasing song positions;
 - Escape from the keyboard ends the intro with status 0 and the console
   shows its text again;
 - on amd64, scripts/play.sh finds the console and plays there;
 - with its song cut to one position (DBX_DATA names a folder with the cut
   song), the intro ends by itself with status 0 once the song is heard.

The song position at a screen dump is that of the sound heard then: the
recorded sound is matched against the rendering just before the dump.
"""
import argparse
import json
import math
import os
import socket
import struct
import subprocess
import sys
import time

W, H = 640, 360             # the intro's picture
SCREEN_W, SCREEN_H = 640, 480
TOP = (SCREEN_H - H) // 2   # the letterbox bar above the picture
BAR = (38, 64, 89)          # the layers' first colour (0.15, 0.25, 0.35)
BLOCK = 20
HOP = 0.01                  # seconds per step of a sound envelope
PIECE = 100                 # steps of a piece of sound matched on its own
POSITION = 7.68            # seconds per song position
RUN_FOR = 30.0              # seconds of sound before Escape: into position 2, emulator gaps included

failures = []


def check(ok, text):
    print(("ok   " if ok else "FAIL ") + text, flush=True)
    if not ok:
        failures.append(text)
    return ok


# ---------------------------------------------------------------- pictures

def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    assert fields[0] == b"P6" and fields[3] == b"255", f"{path}: not an 8-bit P6 picture"
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[pos + 1:pos + 1 + width * height * 3]


def blocks(width, rgb, left, top, w, h):
    """Means of 20 x 20 pixel blocks of the w x h picture at (left, top)."""
    bw, bh = w // BLOCK, h // BLOCK
    out = [0.0] * (bw * bh * 3)
    for y in range(bh * BLOCK):
        row = ((top + y) * width + left) * 3
        base = (y // BLOCK) * bw * 3
        for bx in range(bw):
            start = row + bx * BLOCK * 3
            for k in range(3):
                out[base + bx * 3 + k] += sum(rgb[start + k:start + BLOCK * 3:3])
    return [v / (BLOCK * BLOCK) for v in out]


def distance(a, b):
    return sum(abs(x - y) for x, y in zip(a, b)) / len(a)


def region_mean(width, rgb, top, rows):
    total, n = [0, 0, 0], 0
    for y in range(top, top + rows):
        for x in range(0, width, 4):
            p = (y * width + x) * 3
            for k in range(3):
                total[k] += rgb[p + k]
            n += 1
    return [t / n for t in total]


def share_of(width, rgb, top, rows, colour, tolerance=6):
    """The share of the pixels in rows [top, top + rows) of about `colour`."""
    hits = n = 0
    for y in range(top, top + rows, 2):
        for x in range(0, width, 2):
            p = (y * width + x) * 3
            n += 1
            hits += all(abs(rgb[p + k] - colour[k]) <= tolerance for k in range(3))
    return hits / n


# ---------------------------------------------------------------- sound

def read_wav(path, growing=False):
    """Sample rate and mono samples. A WAV QEMU is still writing has no
    sizes in its header yet: then everything after the header counts."""
    with open(path, "rb") as f:
        data = f.read()
    pos, rate, channels, bits = 12, 0, 0, 0
    while pos + 8 <= len(data):
        kind, length = struct.unpack("<4sI", data[pos:pos + 8])
        if kind == b"fmt ":
            _, channels, rate, _, _, bits = struct.unpack("<HHIIHH", data[pos + 8:pos + 24])
        elif kind == b"data":
            body = data[pos + 8:] if growing or length == 0 else data[pos + 8:pos + 8 + length]
            break
        pos += 8 + length
    else:
        return rate, []
    assert bits == 16, f"{path}: {bits}-bit samples"
    frame = 2 * channels
    count = len(body) // frame
    values = struct.unpack(f"<{count * channels}h", body[:count * frame])
    if channels == 1:
        return rate, list(values)
    return rate, [sum(values[i:i + channels]) / channels for i in range(0, len(values), channels)]


def envelope(rate, samples):
    """RMS level every HOP seconds."""
    step = int(rate * HOP)
    out = []
    for i in range(0, len(samples) - step + 1, step):
        piece = samples[i:i + step:2]
        out.append(math.sqrt(sum(v * v for v in piece) / len(piece)))
    return out


def best_match(piece, reference, lo, hi):
    """The offset in `reference` (within [lo, hi)) where `piece` correlates
    best, and that correlation."""
    n = len(piece)
    mean = sum(piece) / n
    centred = [v - mean for v in piece]
    norm = math.sqrt(sum(v * v for v in centred)) or 1.0
    best, where = -2.0, lo
    for o in range(max(0, lo), min(hi, len(reference) - n)):
        window = reference[o:o + n]
        m = sum(window) / n
        num = den = 0.0
        for a, b in zip(centred, window):
            b -= m
            num += a * b
            den += b * b
        r = num / (norm * math.sqrt(den)) if den > 0 else -1.0
        if r > best:
            best, where = r, o
    return where, best


# ---------------------------------------------------------------- the machine

class Monitor:
    """QEMU's machine protocol (QMP) over its socket."""

    def __init__(self, path, timeout):
        until = time.time() + timeout
        while True:
            try:
                self.sock = socket.socket(socket.AF_UNIX)
                self.sock.connect(path)
                break
            except OSError:
                if time.time() > until:
                    raise
                time.sleep(0.2)
        self.file = self.sock.makefile("rwb")
        self._read()
        self.command("qmp_capabilities")

    def _read(self):
        while True:
            line = self.file.readline()
            if not line:
                raise RuntimeError("QEMU's monitor closed")
            message = json.loads(line)
            if "event" not in message:
                return message

    def command(self, name, **arguments):
        self.file.write(json.dumps({"execute": name, "arguments": arguments}).encode() + b"\n")
        self.file.flush()
        reply = self._read()
        if "error" in reply:
            raise RuntimeError(f"{name}: {reply['error']}")
        return reply.get("return")

    def screendump(self, path):
        self.command("screendump", filename=path)
        return read_ppm(path)

    def key(self, name):
        self.command("send-key", keys=[{"type": "qcode", "data": name}])


def qemu_command(a, wav, qmp, serial):
    common = ["-nodefaults", "-no-user-config", "-display", "none", "-no-reboot",
              "-accel", "tcg,thread=multi", "-smp", "2", "-m", "2048",
              "-kernel", a.kernel, "-initrd", a.initrd,
              "-serial", f"file:{serial}", "-qmp", f"unix:{qmp},server=on,wait=off",
              "-audiodev", f"wav,id=sound,path={wav},out.frequency=48000"]
    for tag, path, ro in (("root", a.root, True), ("modules", a.modules, True), ("work", a.work, False)):
        common += ["-fsdev", f"local,id={tag},path={path},security_model=none,multidevs=remap"
                   + (",readonly=on" if ro else ""),
                   "-device", f"virtio-9p-pci,fsdev={tag},mount_tag={tag}"]
    append = "quiet loglevel=3 panic=-1 console=tty1 "
    if a.arch == "amd64":
        return ["qemu-system-x86_64", "-cpu", "max", *common,
                "-device", f"VGA,xres={SCREEN_W},yres={SCREEN_H}",
                "-device", "intel-hda", "-device", "hda-output,audiodev=sound",
                "-append", append + "console=ttyS0"]
    return ["qemu-system-aarch64", "-M", "virt", "-cpu", "cortex-a72", *common,
            "-device", f"virtio-gpu-pci,xres={SCREEN_W},yres={SCREEN_H}",
            "-device", "qemu-xhci", "-device", "usb-kbd", "-device", "usb-audio,audiodev=sound",
            "-append", append + "console=ttyAMA0"]


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    for name in ("arch", "kernel", "initrd", "root", "modules", "work", "reference"):
        p.add_argument("--" + name, required=True)
    a = p.parse_args()
    out = os.path.join(a.work, "out")
    wav, qmp, serial = (os.path.join(a.work, n) for n in ("console.wav", "qmp.sock", "serial.log"))

    timeline = []
    with open(os.path.join(a.reference, "timeline.csv")) as f:
        next(f)
        for line in f:
            frame, ms, position, row, _, scene = line.rstrip("\n").split(",")
            timeline.append((int(frame), float(ms) / 1000, int(position), int(row), scene))
    ref_rate, ref_samples = read_wav(os.path.join(a.reference, "song.wav"))
    reference = envelope(ref_rate, ref_samples)
    # invitro-capture's frames, W x H RGB one after the other.
    frames = open(os.path.join(a.reference, "frames.rgb"), "rb").read()
    native = {}

    def native_blocks(frame):
        if frame not in native:
            native[frame] = blocks(W, frames[frame * W * H * 3:(frame + 1) * W * H * 3], 0, 0, W, H)
        return native[frame]

    started = time.time()
    command = qemu_command(a, wav, qmp, serial)
    print("  " + " ".join(command), flush=True)
    vm = subprocess.Popen(command, stdin=subprocess.DEVNULL)
    monitor = None

    def waited(name, timeout):
        until = time.time() + timeout
        path = os.path.join(out, name)
        while time.time() < until:
            if os.path.exists(path):
                time.sleep(0.2)
                with open(path) as f:
                    return f.read().strip()
            if vm.poll() is not None:
                return None
            time.sleep(0.2)
        return None

    def heard():
        """Seconds of sound the card has played so far."""
        try:
            return max(0, os.path.getsize(wav) - 44) / (48000 * 4)
        except OSError:
            return 0.0

    def song_time(env, at):
        """The song position heard `at` seconds into the recording (its
        envelope `env`): the second of sound before it, matched against the
        rendering."""
        end = int(at / HOP)
        if end < PIECE:
            return 0.0, 0.0
        guess = int((at - sound_start) / HOP)
        where, r = best_match(env[end - PIECE:end], reference, guess - 1000, guess + 400)
        return (where + PIECE) * HOP, r

    try:
        monitor = Monitor(qmp, 30)
        # ------------------------------------------------------------ boot, install, start
        install = waited("install.status", 600)
        print(f"  the machine is up and the package installed after {time.time() - started:.0f} s", flush=True)
        check(install == "0", "dpkg installs the package in the machine")
        wrong, seen = [], set()
        folder = ""
        for line in open(os.path.join(out, "devices")).read().splitlines():
            if line.endswith(":"):
                folder = line[:-1]
                continue
            fields = line.split()
            if not line.startswith("c") or len(fields) < 9:
                continue
            name = fields[-1]
            group = {"/dev/dri": "render" if name.startswith("renderD") else "video",
                     "/dev/snd": "audio"}.get(folder, "input")
            seen.add(group)
            if fields[3] != group or fields[0][4:6] != "rw":
                wrong.append(f"{folder}/{name} {fields[0]} {fields[3]}")
        check(not wrong and {"video", "audio", "input"} <= seen,
              f"udev gives the display, sound and input devices (and render nodes) to their groups "
              f"({', '.join(sorted(seen))}){': ' + ', '.join(wrong) if wrong else ''}")
        check(waited("package.started", 60) is not None, "invitro is started on tty1 as the user pi")
        # The card records only while a stream runs: what is there now is
        # from before the intro.
        before = heard()

        # ------------------------------------------------------------ the song starts
        until = time.time() + 120
        sound_start = None
        while time.time() < until and vm.poll() is None and not os.path.exists(os.path.join(out, "package.status")):
            rate, samples = read_wav(wav, growing=True)
            loud = next((i for i in range(int(before * rate), len(samples)) if abs(samples[i]) > 64), None)
            if loud is not None:
                sound_start = loud / rate
                break
            time.sleep(0.5)
        if not check(sound_start is not None, "the sound card plays"):
            raise RuntimeError("no sound")
        print(f"  sound from {sound_start:.2f} s of the recording", flush=True)

        # ------------------------------------------------------------ screen dumps
        # One about every second until the song is well into position 2,
        # looked at after the run (the looking would delay the dumps). The
        # emulated machine may take seconds for its first picture and the
        # card may run dry: which dumps are compared is decided afterwards,
        # by the song position heard at each.
        dumps = []
        while heard() - sound_start < RUN_FOR and vm.poll() is None:
            at = heard()
            dumps.append((at, monitor.screendump(os.path.join(out, f"screen-{len(dumps):02d}.ppm"))))
            time.sleep(max(0.0, 1.0 - (heard() - at)))
        # ------------------------------------------------------------ Escape
        monitor.key("esc")
        status = waited("package.status", 30)
        check(status == "0", f"Escape ends invitro with status 0 (status {status})")
        time.sleep(3)
        width, height, rgb = monitor.screendump(os.path.join(out, "after.ppm"))
        mean = region_mean(width, rgb, 0, height)
        bar = share_of(width, rgb, 0, height, BAR)
        # The machine writes a line on tty1 when the intro has ended: the
        # console's text, light on black, in the top row of characters.
        text = 1 - share_of(width, rgb, 0, 16, (0, 0, 0), 60)
        check(bar < 0.01 and max(mean) < 40 and text > 0.02,
              f"the console shows its text again after the intro (mean {[round(v) for v in mean]}, "
              f"{bar:.1%} in the bar colour, {text:.1%} of the first text row lit)")
        log = open(os.path.join(out, "package.log")).read()
        print("  invitro said: " + (log.strip().replace("\n", "\n  invitro said: ") or "nothing"))

        # ------------------------------------------------------------ the sound
        # One-second pieces of the recording, each matched against the
        # rendering near where it should be. The emulated card runs dry now
        # and then (a gap, after which the song goes on later than the
        # recording), more so on a busy machine, and a piece with a gap in it
        # matches poorly; the pieces that match well must follow the song in
        # order, never faster than the recording runs.
        rate, samples = read_wav(wav, growing=True)
        env = envelope(rate, samples)
        begin = int(sound_start / HOP)
        matches = []
        for start in range(begin, len(env) - PIECE, PIECE):
            expect = start - begin
            where, r = best_match(env[start:start + PIECE], reference, expect - 1000, expect + 100)
            matches.append((expect * HOP, where * HOP, r))
        good = [m for m in matches if m[2] >= 0.7]
        # A piece across the start of a gap may match somewhere else.
        astray = sum(not a[1] < b[1] <= a[1] + (b[0] - a[0]) + 0.5 for a, b in zip(good, good[1:]))
        print("  recording -> song (correlation): " + ", ".join(f"{m[0]:.0f}->{m[1]:.1f} ({m[2]:.2f})" for m in matches))
        check(len(good) >= 8 and astray <= max(2, len(good) // 10),
              f"the recorded sound carries the song: {len(good)} of {len(matches)} one-second pieces "
              f"match xmrender's rendering well, all but {astray} in the song's order and pace")

        # ------------------------------------------------------------ the dumps against the capture
        # The song position at a dump is the heard one: the second of sound
        # before it, matched against the rendering. In each of the
        # song's first three positions the dump whose sound matches best is
        # compared, if it lies well inside the position (the screen shows a
        # frame drawn a few emulated frames before the dump).
        # Every dump from the first picture on has the bars: a buffer that
        # missed them would show black bars now and then.
        barred = [min(share_of(w, rgb, 0, TOP, BAR), share_of(w, rgb, TOP + H, TOP, BAR)) > 0.98
                  for _, (w, h, rgb) in dumps]
        shown = barred[barred.index(True):] if True in barred else []
        check(shown and all(shown), f"the letterbox bars are there in all {len(shown)} dumps from the first picture on "
              f"(missing in {shown.count(False)})")
        positions = [song_time(env, at) for at, _ in dumps]
        print("  dumps at song positions (correlation): " + ", ".join(f"{song:.1f} ({r:.2f})" for song, r in positions))
        for p in range(3):
            inside = [i for i, (song, r) in enumerate(positions)
                      if p * POSITION + 1.5 <= song <= (p + 1) * POSITION - 0.5 and r >= 0.75]
            if not check(inside, f"position {p}: a screen dump where the sound before it matches the song well"):
                continue
            i = max(inside, key=lambda i: positions[i][1])
            (at, (width, height, rgb)), (song, r) = dumps[i], positions[i]
            print(f"  dump {i}: {at - sound_start:.2f} s of sound recorded, song position {song:.2f} s (match {r:.2f})")
            if not check((width, height) == (SCREEN_W, SCREEN_H), f"dump {i}: the screen is {width}x{height}"):
                continue
            bars = (share_of(width, rgb, 0, TOP, BAR), share_of(width, rgb, TOP + H, TOP, BAR))
            check(min(bars) > 0.98, f"dump {i}: the letterbox bars have the layers' colour {BAR} "
                  f"({bars[0]:.0%} and {bars[1]:.0%} of their pixels; top mean "
                  f"{[round(v) for v in region_mean(width, rgb, 0, TOP)]})")
            screen = blocks(width, rgb, 0, TOP, W, H)
            near_frames = [t for t in timeline if song - 1.5 <= t[1] <= song + 0.3]
            scene = near_frames[-1][4]
            near = min(near_frames, key=lambda t: distance(screen, native_blocks(t[0])))
            d_near = distance(screen, native_blocks(near[0]))
            others = [t for t in timeline if t[4] and t[4] != scene and t[0] % 5 == 0]
            d_far = min(distance(screen, native_blocks(t[0])) for t in others)
            check(near[4] == scene and d_near < 12 and d_near * 3 < d_far,
                  f"dump {i}: the screen shows \"{scene}\" as invitro-capture does at {near[1]:.1f} s "
                  f"(position {near[2]} row {near[3]}; block difference {d_near:.2f}, nearest other scene {d_far:.2f})")

        # ------------------------------------------------------------ play.sh
        open(os.path.join(a.work, "next-package"), "w").close()
        if os.path.exists(os.path.join(out, "play.started")) or waited("play.started", 20) is not None:
            until = time.time() + 180
            showing = False
            while time.time() < until and not os.path.exists(os.path.join(out, "play.status")):
                width, height, rgb = monitor.screendump(os.path.join(out, "play.ppm"))
                # The bars, and the intro's own picture between them.
                if share_of(width, rgb, 0, TOP, BAR) > 0.98 and share_of(width, rgb, TOP, H, BAR) < 0.5:
                    showing = True
                    break
                time.sleep(2)
            check(showing, "scripts/play.sh finds the console and the intro appears on it")
            time.sleep(3)
            monitor.key("esc")
            status = waited("play.status", 30)
            log = open(os.path.join(out, "play.log")).read()
            check(status == "0" and "No display here" not in log,
                  f"Escape ends the intro play.sh started with status 0 (status {status})")
            if status != "0":
                print(log[-2000:])
            open(os.path.join(a.work, "next-play"), "w").close()
        elif a.arch == "amd64":
            check(False, "scripts/play.sh runs on the console")

        # ------------------------------------------------------------ the song's end
        if waited("ends.started", 90) is not None:
            status = waited("ends.status", 180)
            check(status == "0", f"invitro ends by itself with status 0 once its song (cut to one position) "
                  f"has been heard (status {status})")
            if status != "0" and os.path.exists(os.path.join(out, "ends.log")):
                print(open(os.path.join(out, "ends.log"), errors="replace").read()[-2000:])
            open(os.path.join(a.work, "next-ends"), "w").close()
        else:
            check(False, "the song's end is played on the console")
        vm.wait(timeout=60)
    except Exception as error:  # noqa: BLE001 - reported as a failed check
        check(False, f"{type(error).__name__}: {error}")
    finally:
        if vm.poll() is None:
            vm.kill()
            vm.wait()
    print(f"  the machine ran for {time.time() - started:.0f} s")
    if failures:
        for name in ("guest.log", "dpkg.log", "package.log"):
            path = os.path.join(out, name)
            if os.path.exists(path):
                print(f"---- {name}")
                print(open(path, errors="replace").read()[-3000:])
        print(f"---- serial\n{open(serial, errors='replace').read()[-2000:]}" if os.path.exists(serial) else "")
        print(f"{len(failures)} check(s) failed on the {a.arch} console")
        return 1
    print(f"all checks passed on the {a.arch} console")
    return 0


if __name__ == "__main__":
    sys.exit(main())
