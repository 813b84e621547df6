#!/usr/bin/env python3
"""Runs our player, mpv and FFmpeg side by side on the same files under one X
server and writes a Markdown table of medians and ratios.

Each run plays every file once with each program, in an order that rotates
from run to run, so that load from elsewhere on the machine spreads evenly
over the three. bench/run.sh prepares the inputs, the X server and the build;
see bench/README.md for what each figure means.
"""
import argparse
import ctypes
import ctypes.util
import json
import os
import random
import re
import select
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

CLK_TCK = os.sysconf("SC_CLK_TCK")
PAGE_KB = os.sysconf("SC_PAGESIZE") // 1024
MPV_FIRST_FRAME = "first video frame after restart shown"
# How long a user takes to read the start-up box before pressing OK, for the
# second whole-program figure: the box says only what was typed to start it.
READ_MS = 500


def boottime_ns():
    return time.clock_gettime_ns(time.CLOCK_BOOTTIME)


def proc_cpu_s(pid):
    """CPU seconds (user + system, all threads) a process has used so far."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def probe(path):
    out = subprocess.run(
        ["ffprobe", "-v", "error", "-count_packets", "-show_entries",
         "stream=codec_type,codec_name,width,height,nb_read_packets,avg_frame_rate,bit_rate"
         ":format=duration", "-of", "json", path],
        check=True, capture_output=True, text=True).stdout
    info = json.loads(out)
    video = next(s for s in info["streams"] if s["codec_type"] == "video")
    audio = next((s for s in info["streams"] if s["codec_type"] == "audio"), None)
    num, _, den = video.get("avg_frame_rate", "0/1").partition("/")
    return {
        "path": path,
        "name": os.path.basename(path),
        "fps": float(num) / float(den or 1) if float(den or 1) else 0.0,
        "size_bytes": os.path.getsize(path),
        "width": int(video["width"]),
        "height": int(video["height"]),
        "frames": int(video["nb_read_packets"]),
        "duration": float(info["format"]["duration"]),
        "codecs": video["codec_name"] + ("+" + audio["codec_name"] if audio else ""),
    }


def wait_rusage(proc, timeout):
    """Waits for a child and returns (cpu seconds, peak RSS in KiB)."""
    deadline = time.monotonic() + timeout
    while True:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid:
            proc.returncode = os.waitstatus_to_exitcode(status)
            return usage.ru_utime + usage.ru_stime, usage.ru_maxrss
        if time.monotonic() > deadline:
            proc.kill()
        time.sleep(0.01)


class XServer:
    """CPU that the X server spends on a run, from its /proc entry."""

    def __init__(self, pid):
        self.pid = pid
        self.start = None

    def begin(self):
        self.start = proc_cpu_s(self.pid) if self.pid else None

    def end(self):
        if self.start is None:
            return None
        now = proc_cpu_s(self.pid)
        return None if now is None else now - self.start


# ----------------------------------------------------------------- our player

def run_ours(args, media, mode, second=None, xserver=None, binary=None, extra=(), target=None):
    timeout = int(media["duration"]) + 60 if mode == "play" else 120
    cmd = [binary or args.bench_player, "--size", f"{media['width']}x{media['height']}",
           "--frames", str(media["frames"]), "--spawn-ns", str(boottime_ns())]
    # A baseline predates --timeout-s and gives up after its own 120 s, which
    # covers the short inputs it is run on.
    if not binary:
        cmd += ["--timeout-s", str(timeout)]
    cmd += [*extra, mode, target or media["path"]]
    if second:
        cmd.append(second["path"])
    if xserver:
        xserver.begin()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    stdout = proc.stdout.read()
    cpu, rss = wait_rusage(proc, timeout + 60)
    xcpu = xserver.end() if xserver else None
    line = next((l for l in stdout.splitlines() if l.startswith("BENCH ")), None)
    if line is None:
        raise RuntimeError(f"bench_player printed no result (exit {proc.returncode}): {cmd}")
    result = json.loads(line[6:])
    if "error" in result:
        raise RuntimeError(f"bench_player: {result['error']}: {cmd}")
    result["process_cpu_s"] = cpu
    result["process_rss_kb"] = rss
    result["xserver_cpu_s"] = xcpu
    return result


# ----------------------------------------------------------------------- mpv

class Mpv:
    """mpv under our eyes: its log gives the moment each first frame after a
    (re)start is on screen, its IPC socket answers property queries."""

    def __init__(self, args, media, extra=(), target=None):
        self.sock_path = os.path.join(tempfile.mkdtemp(prefix="bench-mpv-"), "ipc")
        # No media: mpv starts idle and waits for a loadfile.
        cmd = ["mpv", "--no-config", "--vo=x11", "--ao=null", "--keep-open=yes",
               "--msg-level=all=error,cplayer=v", "--input-ipc-server=" + self.sock_path,
               *extra, *([target or media["path"]] if media else ["--idle=yes"])]
        self.spawn_ns = boottime_ns()
        self.proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL, text=True, bufsize=1)
        self.frames_shown = []  # CLOCK_BOOTTIME of each "first frame" line
        self.cond = threading.Condition()
        self.reader = threading.Thread(target=self._read_log, daemon=True)
        self.reader.start()
        self.sock = None
        self.buffer = b""
        self.request_id = 0
        self.events = []

    def _read_log(self):
        for line in self.proc.stdout:
            if MPV_FIRST_FRAME in line:
                with self.cond:
                    self.frames_shown.append(boottime_ns())
                    self.cond.notify_all()

    def wait_frame(self, count, timeout=30):
        with self.cond:
            if not self.cond.wait_for(lambda: len(self.frames_shown) >= count, timeout):
                raise RuntimeError("mpv showed no frame in time")
            return self.frames_shown[count - 1]

    def connect(self):
        deadline = time.monotonic() + 10
        while True:
            try:
                s = socket.socket(socket.AF_UNIX)
                s.connect(self.sock_path)
                self.sock = s
                return
            except OSError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.01)

    def _messages(self, timeout):
        """Every message that arrives within `timeout`, in order: one read can
        bring several, and none may be lost once read."""
        ready, _, _ = select.select([self.sock], [], [], timeout)
        if not ready:
            return []
        chunk = self.sock.recv(65536)
        if not chunk:
            raise RuntimeError("mpv closed its IPC socket")
        self.buffer += chunk
        *lines, self.buffer = self.buffer.split(b"\n")
        return [json.loads(line) for line in lines if line.strip()]

    def command(self, *args):
        self.request_id += 1
        rid = self.request_id
        self.sock.sendall(json.dumps({"command": list(args), "request_id": rid}).encode() + b"\n")
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            reply = None
            for msg in self._messages(0.1):
                if reply is None and msg.get("request_id") == rid:
                    reply = msg
                else:
                    self.events.append(msg)
            if reply is not None:
                return reply.get("data")
        raise RuntimeError(f"mpv did not answer {args}")

    def drain(self):
        """Forgets every event so far, those still unread on the socket too."""
        while True:
            msgs = self._messages(0)
            if not msgs:
                break
        self.events.clear()

    def wait_event(self, predicate, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            while self.events:
                if predicate(self.events.pop(0)):
                    return True
            self.events.extend(self._messages(0.1))
        return False

    def quit(self, timeout=30):
        try:
            self.sock.sendall(b'{"command": ["quit"]}\n')
        except OSError:
            pass
        result = wait_rusage(self.proc, timeout)
        shutil.rmtree(os.path.dirname(self.sock_path), ignore_errors=True)
        return result


def run_mpv_play(args, media, xserver):
    xserver.begin()
    mpv = Mpv(args, media)
    try:
        first = mpv.wait_frame(1)
        cpu_first = proc_cpu_s(mpv.proc.pid)
        mpv.connect()
        mpv.command("observe_property", 1, "eof-reached")
        if not mpv.wait_event(lambda m: m.get("name") == "eof-reached" and m.get("data") is True,
                              media["duration"] + 60):
            raise RuntimeError("mpv did not reach the end")
        cpu_end = proc_cpu_s(mpv.proc.pid)
        props = {name: mpv.command("get_property", name)
                 for name in ("time-pos", "frame-drop-count", "decoder-frame-drop-count",
                              "vo-delayed-frame-count", "current-vo")}
        cpu, rss = mpv.quit()
        xcpu = xserver.end()
        media_s = props["time-pos"] or media["duration"]
        return {
            "ttff_spawn_ms": (first - mpv.spawn_ns) / 1e6,
            "cpu_per_media_s": (cpu_end - cpu_first) / media_s,
            "process_cpu_s": cpu,
            "process_rss_kb": rss,
            "xserver_cpu_s": xcpu,
            "frame-drop-count": props["frame-drop-count"] or 0,
            "decoder-frame-drop-count": props["decoder-frame-drop-count"] or 0,
            "media_s": media_s,
        }
    except Exception:
        mpv.proc.kill()
        raise


def seek_targets(duration, count):
    # The same spread bench_player uses.
    return [duration * (0.05 + 0.85 * ((i * 5) % count) / count) for i in range(count)]


def run_mpv_seek(args, media):
    mpv = Mpv(args, media)
    try:
        mpv.wait_frame(1)
        mpv.connect()
        mpv.command("set_property", "pause", True)
        time.sleep(0.5)
        duration = mpv.command("get_property", "duration")
        latencies = []
        for target in seek_targets(duration, args.seeks):
            count = len(mpv.frames_shown)
            start = boottime_ns()
            mpv.command("seek", target, "absolute+exact")
            latencies.append((mpv.wait_frame(count + 1) - start) / 1e6)
            time.sleep(0.2)
        mpv.quit()
        return {"seek_median_ms": statistics.median(latencies), "seek_ms": latencies}
    except Exception:
        mpv.proc.kill()
        raise


def run_mpv_replace(args, media, second):
    mpv = Mpv(args, media)
    try:
        mpv.wait_frame(1)
        mpv.connect()
        time.sleep(2)
        count = len(mpv.frames_shown)
        start = boottime_ns()
        mpv.command("loadfile", second["path"], "replace")
        shown = mpv.wait_frame(count + 1)
        mpv.quit()
        return {"replace_ms": (shown - start) / 1e6}
    except Exception:
        mpv.proc.kill()
        raise


def random_targets(duration, count, seed):
    """Seek targets anywhere in the file but its first and last 5 %, the same
    for every run and both players (a fixed seed), to the millisecond."""
    rng = random.Random(seed)
    return [round(rng.uniform(0.05, 0.95) * duration, 3) for _ in range(count)]


def run_ours_seek_at(args, media, targets, target=None):
    """Our seeks to the given targets in a file or at an address."""
    r = run_ours(args, media, "seek", target=target,
                 extra=["--targets", ",".join(f"{t:.3f}" for t in targets)])
    return {"seek_ms": r["seek_ms"], "landed": r["seek_landed_s"], "peak_rss_kb": r["peak_rss_kb"],
            "process_cpu_s": r["process_cpu_s"]}


def run_mpv_seek_at(args, media, targets, target=None):
    """mpv's exact seeks to the given targets: request to its playback-restart
    event and to its "first video frame" log line (the frame on screen), and
    time-pos once there."""
    mpv = Mpv(args, media, target=target)
    try:
        mpv.wait_frame(1)
        mpv.connect()
        mpv.command("set_property", "pause", True)
        time.sleep(0.5)
        shown, restarted, landed = [], [], []
        for t in targets:
            count = len(mpv.frames_shown)
            mpv.drain()
            start = boottime_ns()
            mpv.command("seek", t, "absolute+exact")
            if not mpv.wait_event(lambda m: m.get("event") == "playback-restart", 30):
                raise RuntimeError("mpv did not restart after a seek")
            restarted.append((boottime_ns() - start) / 1e6)
            shown.append((mpv.wait_frame(count + 1) - start) / 1e6)
            time.sleep(0.2)
            landed.append(mpv.command("get_property", "time-pos"))
        cpu, rss = mpv.quit()
        return {"seek_ms": shown, "restart_ms": restarted, "landed": landed,
                "peak_rss_kb": rss, "process_cpu_s": cpu}
    except Exception:
        mpv.proc.kill()
        raise


def run_mpv_length(args, target):
    """mpv idle, then `loadfile`: request to its `duration` property above 0."""
    mpv = Mpv(args, None)
    try:
        mpv.connect()
        time.sleep(0.3)
        mpv.command("observe_property", 1, "duration")
        mpv.drain()
        start = boottime_ns()
        mpv.command("loadfile", target, "replace")
        seen = {"start": False, "duration": None}

        def done(msg):
            if msg.get("event") == "start-file":
                seen["start"] = True
            elif (seen["start"] and msg.get("event") == "property-change"
                  and msg.get("name") == "duration" and (msg.get("data") or 0) > 0):
                seen["duration"] = msg["data"]
                return True
            return False
        if not mpv.wait_event(done, 120):
            raise RuntimeError("mpv gave no duration")
        length_ms = (boottime_ns() - start) / 1e6
        mpv.quit()
        return {"length_ms": length_ms, "duration_s": seen["duration"]}
    except Exception:
        mpv.proc.kill()
        raise


class RangeServer:
    """bench/range_server.py on 127.0.0.1, serving one directory."""

    def __init__(self, directory):
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "range_server.py")
        self.proc = subprocess.Popen([sys.executable, script, directory],
                                     stdout=subprocess.PIPE, text=True)
        self.port = int(self.proc.stdout.readline().split()[1])

    def url(self, path):
        return f"http://127.0.0.1:{self.port}/{os.path.basename(path)}"

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


def landing(targets, landed, fps):
    """How many landed within one frame of their target, and the worst miss
    in ms."""
    frame = 1 / fps if fps else 0.04
    misses = [abs(l - t) if l is not None else float("inf") for t, l in zip(targets, landed)]
    return sum(1 for m in misses if m <= frame + 0.0015), max(misses) * 1000


# ------------------------------------------------------------ the whole program

class Screen:
    """Reads a few pixels off the X server, through Xlib."""

    class XImage(ctypes.Structure):
        _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int),
                    ("xoffset", ctypes.c_int), ("format", ctypes.c_int),
                    ("data", ctypes.POINTER(ctypes.c_uint8)), ("byte_order", ctypes.c_int),
                    ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                    ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
                    ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]

    def __init__(self):
        self.x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x11.XGetImage.restype = ctypes.POINTER(self.XImage)
        self.x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                       ctypes.c_int, ctypes.c_uint, ctypes.c_uint,
                                       ctypes.c_ulong, ctypes.c_int]
        self.x11.XFree.argtypes = [ctypes.c_void_p]
        self.display = self.x11.XOpenDisplay(None)
        if not self.display:
            raise RuntimeError("cannot open the X display")
        self.root = self.x11.XDefaultRootWindow(self.display)
        self.x11.XDisplayWidth.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x11.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.width = self.x11.XDisplayWidth(self.display, 0)
        self.height = self.x11.XDisplayHeight(self.display, 0)

    def patch(self, x, y, size=8):
        """The (r, g, b) pixels of a size x size square at screen (x, y)."""
        image = self.x11.XGetImage(self.display, self.root, x, y, size, size, 0xffffffff, 2)
        if not image:
            return []
        im = image.contents
        pixels = []
        for row in range(size):
            base = row * im.bytes_per_line
            for col in range(size):
                b, g, r = (im.data[base + col * 4 + i] for i in range(3))
                pixels.append((r, g, b))
        self.x11.XFree(im.data)
        self.x11.XFree(image)
        return pixels


def colourful(pixels):
    return bool(pixels) and sum(
        1 for r, g, b in pixels if max(r, g, b) - min(r, g, b) > 40) >= len(pixels) // 4


def program_windows(pid):
    """Ids of the windows of process `pid` on screen."""
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)],
                          capture_output=True, text=True).stdout.split()


def run_program(args, media, screen, read_ms=0):
    """`tibrok-flv-player FILE` as a user starts it: the start-up box comes
    first, the main window and the video after OK. Measures process start to
    the box on screen, and OK pressed to the first video frame on screen. The
    main window opens centred on the screen and its player area fills it, so
    the screen's middle turns to video then. OK is pressed as soon as the box
    has painted, or `read_ms` later, as a user who reads it first would."""
    spawn = boottime_ns()
    proc = subprocess.Popen([args.program, media["path"]], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    try:
        box = None
        deadline = time.monotonic() + 20
        # Every 20 ms: each look starts a process, which competes with the
        # program for the CPU.
        while box is None and time.monotonic() < deadline:
            box = next(iter(program_windows(proc.pid)), None)
            if box is None:
                time.sleep(0.02)
        if box is None:
            raise RuntimeError("the program showed no start-up box")
        box_ms = (boottime_ns() - spawn) / 1e6
        point = (screen.width // 2 - 4, screen.height // 2 - 4)
        if colourful(screen.patch(*point)):
            raise RuntimeError("the middle of the screen shows colour before the video")
        # OK works once the box has painted itself.
        g = {}
        while len(g) < 4 and time.monotonic() < deadline:
            out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", box],
                                 capture_output=True, text=True).stdout
            g = {k: int(v) for k, v in (line.split("=", 1) for line in out.split() if "=" in line)
                 if k in ("X", "Y", "WIDTH", "HEIGHT")}
        if len(g) < 4:
            raise RuntimeError("the start-up box has no geometry")
        inside = (g["X"] + g["WIDTH"] // 4, g["Y"] + g["HEIGHT"] // 2)
        while time.monotonic() < deadline and not any(max(p) > 48 for p in screen.patch(*inside)):
            time.sleep(0.002)
        time.sleep(read_ms / 1000)
        frame_ms = None
        for presses in range(1, 6):
            pressed = boottime_ns()
            # The box closes on the key press, before xdotool has let go of
            # the key, and that half fails: let go of it here, or the X
            # server repeats the key into the next run's box.
            subprocess.run(["xdotool", "key", "--window", box, "Return"], capture_output=True)
            subprocess.run(["xdotool", "keyup", "Return"], capture_output=True)
            until = time.monotonic() + 5
            while time.monotonic() < until:
                if colourful(screen.patch(*point)):
                    frame_ms = (boottime_ns() - pressed) / 1e6
                    break
                time.sleep(0.002)
            if frame_ms is not None or box not in program_windows(proc.pid):
                break
        if frame_ms is None:
            raise RuntimeError("the program showed no video")
        if presses > 1:
            raise RuntimeError("OK had to be pressed more than once; run left out")
        return {"box_ms": box_ms, "ok_to_frame_ms": frame_ms, "start_ms": box_ms + frame_ms}
    finally:
        proc.terminate()
        wait_rusage(proc, 30)


# ---------------------------------------------------------------------- FFmpeg

def run_ffmpeg(media):
    proc = subprocess.Popen(["ffmpeg", "-nostdin", "-v", "error", "-i", media["path"],
                             "-f", "null", "-"], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    cpu, rss = wait_rusage(proc, 300)
    return {"cpu_per_media_s": cpu / media["duration"], "process_rss_kb": rss}


# -------------------------------------------------------------------- the table

def med(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def spread(values, fmt):
    values = [v for v in values if v is not None]
    if not values:
        return "–"
    if len(values) == 1:
        return fmt.format(values[0])
    return f"{fmt.format(statistics.median(values))} ({fmt.format(min(values))}–{fmt.format(max(values))})"


def ratio(a, b):
    return f"{a / b:.2f}" if a is not None and b else "–"


def run_modern_rows(args, xserver):
    """Modern FLV (HEVC, AV1) played through and sought in by our player, and
    by mpv in the same streams remuxed into Matroska (mpv cannot play the
    FLV). Each pair is FLV=MKV; the Matroska file is what is probed, as
    ffprobe cannot read these FLVs either."""
    raw = {}
    lines = []
    runs = args.runs
    for pair in args.modern:
        flv, _, mkv = pair.partition("=")
        m = probe(mkv)
        ours_media = dict(m, path=flv, name=os.path.basename(flv))
        targets = random_targets(m["duration"], args.seeks, args.seed)
        r = raw[ours_media["name"]] = {"ours": [], "mpv": [], "ours_seek": [], "mpv_seek": []}
        for run in range(runs):
            for player in (["ours", "mpv"] if run % 2 == 0 else ["mpv", "ours"]):
                print(f"run {run + 1}/{runs}  modern {ours_media['name']}  {player}",
                      file=sys.stderr, flush=True)
                try:
                    if player == "ours":
                        r["ours"].append(run_ours(args, ours_media, "play", xserver=xserver))
                        r["ours_seek"].append(run_ours_seek_at(args, ours_media, targets))
                    else:
                        r["mpv"].append(run_mpv_play(args, m, xserver))
                        r["mpv_seek"].append(run_mpv_seek_at(args, m, targets))
                except RuntimeError as error:
                    print(f"  failed: {error}", file=sys.stderr)
        o, p = r["ours"], r["mpv"]
        o_cpu = [x["cpu_per_media_s"] for x in o]
        p_cpu = [x["cpu_per_media_s"] for x in p]
        o_rss = [x["process_rss_kb"] / 1024 for x in o]
        p_rss = [x["process_rss_kb"] / 1024 for x in p]
        o_first = [x["ttff_spawn_ms"] for x in o]
        p_first = [x["ttff_spawn_ms"] for x in p]
        o_seek = [x for run in r["ours_seek"] for x in run["seek_ms"]]
        p_seek = [x for run in r["mpv_seek"] for x in run["seek_ms"]]
        hits = {}
        for player in ("ours", "mpv"):
            h, worst = 0, 0.0
            for run in r[player + "_seek"]:
                got, w = landing(targets, run["landed"], m["fps"])
                h, worst = h + got, max(worst, w)
            hits[player] = f"{h}/{len(targets) * len(r[player + '_seek'])}, worst {worst:.0f} ms"
        lines += [
            "",
            f"## Modern FLV: {ours_media['name']} ({m['width']}x{m['height']} {m['fps']:g} fps, "
            f"{m['codecs']}, {m['size_bytes'] * 8 / m['duration'] / 1e6:.1f} Mbit/s, "
            f"{m['duration']:.0f} s) beside mpv playing {m['name']}",
            "",
            "| figure | ours (the FLV) | mpv (the Matroska remux) | ours/mpv |",
            "|---|---|---|---|",
            f"| frames shown / in file | {spread([x['frames_painted'] for x in o], '{:.0f}')} "
            f"/ {m['frames']} | {spread([m['frames'] - x['frame-drop-count'] - x['decoder-frame-drop-count'] for x in p], '{:.0f}')} "
            f"/ {m['frames']} | – |",
            f"| CPU s per media s | {spread(o_cpu, '{:.3f}')} | {spread(p_cpu, '{:.3f}')} "
            f"| {ratio(med(o_cpu), med(p_cpu))} |",
            f"| peak RSS MiB | {spread(o_rss, '{:.0f}')} | {spread(p_rss, '{:.0f}')} "
            f"| +{(med(o_rss) or 0) - (med(p_rss) or 0):.0f} MiB |",
            f"| first frame ms | {spread(o_first, '{:.0f}')} | {spread(p_first, '{:.0f}')} "
            f"| {ratio(med(o_first), med(p_first))} |",
            f"| exact seek to frame on screen ms ({args.seeks} random targets a run) "
            f"| {spread(o_seek, '{:.0f}')} | {spread(p_seek, '{:.0f}')} "
            f"| {ratio(med(o_seek), med(p_seek))} |",
            f"| seeks landed within one frame | {hits['ours']} | {hits['mpv']} | – |",
        ]
    return {"raw": raw, "lines": lines}


def run_long_rows(args, xserver):
    """Seeks in a long unindexed file (from the disk and over http), a
    streamer's recording played through, and how soon a file's length is
    known: both players, each run in a rotating order. Returns the raw
    figures and the Markdown under "lines"."""
    raw = {"seek": {}, "rec": {"ours": [], "mpv": []}, "length": {}}
    lines = []
    runs = args.runs
    if args.long_seek_file:
        m = probe(args.long_seek_file)
        targets = random_targets(m["duration"], args.long_seeks, args.seed)
        server = RangeServer(os.path.dirname(os.path.abspath(args.long_seek_file)))
        url = server.url(m["path"])
        try:
            for where, target in (("local file", None), ("loopback http, ranges", url)):
                raw["seek"][where] = {"ours": [], "mpv": [], "targets": targets}
                for run in range(runs):
                    for player in (["ours", "mpv"] if run % 2 == 0 else ["mpv", "ours"]):
                        print(f"run {run + 1}/{runs}  long seek, {where}  {player}",
                              file=sys.stderr, flush=True)
                        try:
                            if player == "ours":
                                r = run_ours_seek_at(args, m, targets, target=target)
                            else:
                                r = run_mpv_seek_at(args, m, targets, target=target)
                        except RuntimeError as error:
                            print(f"  failed: {error}", file=sys.stderr)
                            continue
                        raw["seek"][where][player].append(r)
        finally:
            server.stop()
        lines += [
            "",
            f"## Seeking in a long file without an index ({m['name']}, "
            f"{m['duration'] / 60:.0f} min, {m['width']}x{m['height']} {m['fps']:g} fps, "
            f"{m['codecs']})",
            "",
            f"{args.long_seeks} exact seeks to random targets (seed {args.seed}), paused. "
            "Seek time: median over all seeks of all runs, with the lowest and highest "
            "seek in brackets. Landed: the position once there, within one frame "
            f"({1000 / m['fps']:.0f} ms) of the target.",
            "",
            "| from | seek to frame on screen (ms): ours | mpv | ours/mpv "
            "| mpv, to its playback-restart (ms) | landed within one frame: ours | mpv "
            "| worst miss (ms): ours | mpv | peak RSS MiB: ours | mpv |",
            "|" + "---|" * 11,
        ]
        for where, r in raw["seek"].items():
            cells = []
            for player in ("ours", "mpv"):
                all_ms = [x for run in r[player] for x in run["seek_ms"]]
                hits, worst = 0, 0.0
                for run in r[player]:
                    h, w = landing(targets, run["landed"], m["fps"])
                    hits, worst = hits + h, max(worst, w)
                cells.append((all_ms, f"{hits}/{len(targets) * len(r[player])}", worst,
                              [x["peak_rss_kb"] / 1024 for x in r[player]]))
            restart = [x for run in r["mpv"] for x in run["restart_ms"]]
            (o_ms, o_hit, o_worst, o_rss), (p_ms, p_hit, p_worst, p_rss) = cells
            lines.append(
                f"| {where} | {spread(o_ms, '{:.0f}')} | {spread(p_ms, '{:.0f}')} "
                f"| {ratio(med(o_ms), med(p_ms))} | {spread(restart, '{:.0f}')} "
                f"| {o_hit} | {p_hit} | {o_worst:.0f} | {p_worst:.0f} "
                f"| {spread(o_rss, '{:.0f}')} | {spread(p_rss, '{:.0f}')} |")

    if args.rec_file:
        m = probe(args.rec_file)
        for run in range(runs):
            for player in (["ours", "mpv"] if run % 2 == 0 else ["mpv", "ours"]):
                print(f"run {run + 1}/{runs}  recording  {player}", file=sys.stderr, flush=True)
                try:
                    if player == "ours":
                        r = run_ours(args, m, "play", xserver=xserver)
                    else:
                        r = run_mpv_play(args, m, xserver)
                except RuntimeError as error:
                    print(f"  failed: {error}", file=sys.stderr)
                    continue
                raw["rec"][player].append(r)
        o, p = raw["rec"]["ours"], raw["rec"]["mpv"]
        o_cpu = [x["cpu_per_media_s"] for x in o]
        p_cpu = [x["cpu_per_media_s"] for x in p]
        o_rss = [x["process_rss_kb"] / 1024 for x in o]
        p_rss = [x["process_rss_kb"] / 1024 for x in p]
        lines += [
            "",
            f"## A streamer's recording ({m['name']}: {m['width']}x{m['height']} "
            f"{m['fps']:g} fps, {m['codecs']}, {m['size_bytes'] * 8 / m['duration'] / 1e6:.1f} "
            f"Mbit/s, {m['duration']:.0f} s)",
            "",
            "| figure | ours | mpv | ours/mpv |",
            "|---|---|---|---|",
            f"| frames shown / in file | {spread([x['frames_painted'] for x in o], '{:.0f}')} "
            f"/ {m['frames']} | {spread([m['frames'] - x['frame-drop-count'] - x['decoder-frame-drop-count'] for x in p], '{:.0f}')} "
            f"/ {m['frames']} | – |",
            f"| engine drop counters (frame-drop-count + decoder-frame-drop-count), summed "
            f"| {sum(x['frame-drop-count'] + x['decoder-frame-drop-count'] for x in o)} "
            f"| {sum(x['frame-drop-count'] + x['decoder-frame-drop-count'] for x in p)} | – |",
            f"| frames drawn but replaced before they reached the screen, summed "
            f"| {sum(x['frames_skipped'] for x in o)} | – | – |",
            f"| CPU s per media s | {spread(o_cpu, '{:.3f}')} | {spread(p_cpu, '{:.3f}')} "
            f"| {ratio(med(o_cpu), med(p_cpu))} |",
            f"| peak RSS MiB | {spread(o_rss, '{:.0f}')} | {spread(p_rss, '{:.0f}')} "
            f"| {ratio(med(o_rss), med(p_rss))} |",
            f"| first frame ms | {spread([x['ttff_spawn_ms'] for x in o], '{:.0f}')} "
            f"| {spread([x['ttff_spawn_ms'] for x in p], '{:.0f}')} "
            f"| {ratio(med([x['ttff_spawn_ms'] for x in o]), med([x['ttff_spawn_ms'] for x in p]))} |",
        ]

    if args.length_file:
        server = RangeServer(os.path.dirname(os.path.abspath(args.length_file[0])))
        try:
            for path in args.length_file:
                m = probe(path)
                for where, target in (("local", m["path"]), ("http", server.url(m["path"]))):
                    if os.path.dirname(os.path.abspath(path)) != os.path.dirname(
                            os.path.abspath(args.length_file[0])) and where == "http":
                        continue
                    key = f"{m['name']} ({where})"
                    with open(m["path"], "rb") as f:
                        head = f.read(2048)
                    raw["length"][key] = {"ours": [], "mpv": [], "size_bytes": m["size_bytes"],
                                          "duration": m["duration"],
                                          "says_length": b"\x08duration" in head}
                    for run in range(runs):
                        for player in (["ours", "mpv"] if run % 2 == 0 else ["mpv", "ours"]):
                            print(f"run {run + 1}/{runs}  length {key}  {player}",
                                  file=sys.stderr, flush=True)
                            try:
                                if player == "ours":
                                    r = run_ours(args, m, "length", target=target)
                                else:
                                    r = run_mpv_length(args, target)
                            except RuntimeError as error:
                                print(f"  failed: {error}", file=sys.stderr)
                                continue
                            raw["length"][key][player].append(r)
        finally:
            server.stop()
        lines += [
            "",
            "## Length known",
            "",
            "The engine made and idle; then the address: `SetVariable(\"myuri\", FILE)` "
            "(ours), `loadfile FILE` (mpv), to a length above 0 in the player's state "
            "(ours) or in mpv's `duration` property. None of the files has a keyframe "
            "index; \"length in file\" says whether its onMetaData gives a duration.",
            "",
            "| file | size | length in file | length known (ms): ours | mpv | ours/mpv "
            "| length given (s): ours | mpv | ffprobe |",
            "|---|---|---|---|---|---|---|---|---|",
        ]
        for key, r in raw["length"].items():
            o = [x["length_ms"] for x in r["ours"]]
            p = [x["length_ms"] for x in r["mpv"]]
            lines.append(
                f"| {key} | {r['size_bytes'] / 2**20:.0f} MiB "
                f"| {'yes' if r['says_length'] else 'no'} | {spread(o, '{:.0f}')} "
                f"| {spread(p, '{:.0f}')} | {ratio(med(o), med(p))} "
                f"| {spread([x['duration_s'] for x in r['ours']], '{:.2f}')} "
                f"| {spread([x['duration_s'] for x in r['mpv']], '{:.2f}')} "
                f"| {r['duration']:.2f} |")
    raw["lines"] = lines
    return raw


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench-player", required=True)
    parser.add_argument("--baseline-player",
                        help="a bench_player built from an earlier state of the player, "
                        "measured in the same runs for a before/after table")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--seeks", type=int, default=9)
    parser.add_argument("--xserver-pid", type=int, default=0)
    parser.add_argument("--program", help="tibrok-flv-player, timed from start to first frame")
    parser.add_argument("--seek-file", help="the local 720p file for seeks and replacement")
    parser.add_argument("--replace-with", help="the file that replaces it")
    parser.add_argument("--preview-file", action="append", default=[],
                        help="a file whose seek-bar preview is timed (repeatable)")
    parser.add_argument("--long-seek-file",
                        help="a long local FLV without an index, for seeks to random targets, "
                        "from the disk and over loopback http")
    parser.add_argument("--long-seeks", type=int, default=9)
    parser.add_argument("--seed", type=int, default=2026, help="for the random seek targets")
    parser.add_argument("--rec-file", help="a streamer's recording, played through")
    parser.add_argument("--length-file", action="append", default=[],
                        help="a file whose length is timed to be known (repeatable)")
    parser.add_argument("--modern", action="append", default=[],
                        help="FLV=MKV: a modern FLV played by our player beside mpv playing "
                        "the same streams in Matroska (repeatable)")
    parser.add_argument("--out", required=True)
    parser.add_argument("--command", default="bash bench/run.sh")
    parser.add_argument("files", nargs="*")
    args = parser.parse_args()

    xserver = XServer(args.xserver_pid)
    media = [probe(f) for f in args.files]
    players = ["ours", "mpv", "ffmpeg"] + (["before"] if args.baseline_player else [])
    results = {m["name"]: {p: [] for p in players} for m in media}

    for run in range(args.runs):
        order = players[run % len(players):] + players[:run % len(players)]
        for m in media:
            for player in order:
                print(f"run {run + 1}/{args.runs}  {m['name']:<34} {player}", file=sys.stderr,
                      flush=True)
                try:
                    if player == "ours":
                        r = run_ours(args, m, "play", xserver=xserver)
                    elif player == "before":
                        r = run_ours(args, m, "play", xserver=xserver,
                                     binary=args.baseline_player)
                    elif player == "mpv":
                        r = run_mpv_play(args, m, xserver)
                    else:
                        r = run_ffmpeg(m)
                except RuntimeError as error:
                    # One failed run is reported and left out, not the table.
                    print(f"  failed: {error}", file=sys.stderr)
                    continue
                results[m["name"]][player].append(r)

    interactive = {"ours": [], "mpv": [], "before": []}
    if args.seek_file and args.replace_with:
        seek_media, replacement = probe(args.seek_file), probe(args.replace_with)
        seekers = [p for p in players if p != "ffmpeg"]
        screen = Screen() if args.program else None
        for run in range(args.runs):
            for player in seekers[run % len(seekers):] + seekers[:run % len(seekers)]:
                print(f"run {run + 1}/{args.runs}  seek+replace  {player}", file=sys.stderr,
                      flush=True)
                try:
                    if player in ("ours", "before"):
                        binary = args.baseline_player if player == "before" else None
                        r = run_ours(args, seek_media, "seek", binary=binary)
                        r.update(run_ours(args, seek_media, "replace", second=replacement,
                                          binary=binary))
                    else:
                        r = run_mpv_seek(args, seek_media)
                        r.update(run_mpv_replace(args, seek_media, replacement))
                except RuntimeError as error:
                    print(f"  failed: {error}", file=sys.stderr)
                    continue
                if player == "ours" and args.program:
                    try:
                        r.update(run_program(args, seek_media, screen))
                        read = run_program(args, seek_media, screen, read_ms=READ_MS)
                        r["read_ok_to_frame_ms"] = read["ok_to_frame_ms"]
                    except RuntimeError as error:
                        print(f"whole program: {error}", file=sys.stderr)
                interactive[player].append(r)

    previews = {}
    for path in args.preview_file:
        m = probe(path)
        previews[m["name"]] = []
        for run in range(args.runs):
            print(f"run {run + 1}/{args.runs}  preview  {m['name']}", file=sys.stderr, flush=True)
            try:
                previews[m["name"]].append(run_ours(args, m, "preview"))
            except RuntimeError as error:
                print(f"  failed: {error}", file=sys.stderr)

    long_rows = run_long_rows(args, xserver)
    modern_rows = run_modern_rows(args, xserver)

    lines = [
        "# Benchmark results",
        "",
        f"Made by `{args.command}` on {time.strftime('%Y-%m-%d %H:%M')}, "
        f"{args.runs} run(s) each, {os.cpu_count()} CPU(s), load average at the end "
        f"{os.getloadavg()[0]:.2f}. Medians, with the lowest and highest run in brackets.",
        "",
    ]
    if media:
        lines += [
            "## Playback",
            "",
            "| file | codecs | CPU s per media s: ours | mpv | FFmpeg decode | ours/mpv "
            "| ours/FFmpeg | first frame ms: ours | mpv | peak RSS MiB: ours | mpv | ours/mpv "
            "| frames shown / in file: ours | mpv | X server CPU s per media s: ours | mpv |",
            "|" + "---|" * 16,
        ]
    for m in media:
        r = results[m["name"]]
        ours_cpu = [x["cpu_per_media_s"] for x in r["ours"]]
        mpv_cpu = [x["cpu_per_media_s"] for x in r["mpv"]]
        ff_cpu = [x["cpu_per_media_s"] for x in r["ffmpeg"]]
        ours_rss = [x["process_rss_kb"] / 1024 for x in r["ours"]]
        mpv_rss = [x["process_rss_kb"] / 1024 for x in r["mpv"]]
        ours_shown = [x["frames_painted"] for x in r["ours"]]
        mpv_shown = [m["frames"] - x["frame-drop-count"] - x["decoder-frame-drop-count"]
                     for x in r["mpv"]]
        ours_x = [x["xserver_cpu_s"] / x["media_s"] for x in r["ours"]
                  if x.get("xserver_cpu_s") is not None and x.get("media_s")]
        mpv_x = [x["xserver_cpu_s"] / x["media_s"] for x in r["mpv"]
                 if x.get("xserver_cpu_s") is not None and x.get("media_s")]
        lines.append(
            f"| {m['name']} ({m['width']}x{m['height']}) | {m['codecs']} "
            f"| {spread(ours_cpu, '{:.3f}')} | {spread(mpv_cpu, '{:.3f}')} "
            f"| {spread(ff_cpu, '{:.3f}')} | {ratio(med(ours_cpu), med(mpv_cpu))} "
            f"| {ratio(med(ours_cpu), med(ff_cpu))} "
            f"| {spread([x['ttff_spawn_ms'] for x in r['ours']], '{:.0f}')} "
            f"| {spread([x['ttff_spawn_ms'] for x in r['mpv']], '{:.0f}')} "
            f"| {spread(ours_rss, '{:.0f}')} | {spread(mpv_rss, '{:.0f}')} "
            f"| {ratio(med(ours_rss), med(mpv_rss))} "
            f"| {spread(ours_shown, '{:.0f}')} / {m['frames']} "
            f"| {spread(mpv_shown, '{:.0f}')} / {m['frames']} "
            f"| {spread(ours_x, '{:.3f}')} | {spread(mpv_x, '{:.3f}')} |")

    if media:
        lines += ["", "Engine counters for our player (frame-drop-count, "
                  "decoder-frame-drop-count, frames drawn but replaced before they reached "
                  "the screen), summed over runs: "]
    for m in media:
        r = results[m["name"]]["ours"]
        lines.append(
            f"{m['name']}: {sum(x['frame-drop-count'] for x in r)}, "
            f"{sum(x['decoder-frame-drop-count'] for x in r)}, "
            f"{sum(x['frames_skipped'] for x in r)}; mpv: "
            f"{sum(x['frame-drop-count'] for x in results[m['name']]['mpv'])}, "
            f"{sum(x['decoder-frame-drop-count'] for x in results[m['name']]['mpv'])}.  ")

    if interactive["ours"]:
        o, p = interactive["ours"], interactive["mpv"]
        lines += [
            "",
            f"## Seeking and replacing the movie ({os.path.basename(args.seek_file)})",
            "",
            "| figure | ours | mpv | ours/mpv |",
            "|---|---|---|---|",
            f"| seek, request to new frame on screen, median of {args.seeks} (ms) "
            f"| {spread([x['seek_median_ms'] for x in o], '{:.0f}')} "
            f"| {spread([x['seek_median_ms'] for x in p], '{:.0f}')} "
            f"| {ratio(med([x['seek_median_ms'] for x in o]), med([x['seek_median_ms'] for x in p]))} |",
            f"| replacement, load to first frame of {os.path.basename(args.replace_with)} (ms) "
            f"| {spread([x['replace_ms'] for x in o], '{:.0f}')} "
            f"| {spread([x['replace_ms'] for x in p], '{:.0f}')} "
            f"| {ratio(med([x['replace_ms'] for x in o]), med([x['replace_ms'] for x in p]))} |",
            f"| longest GUI-thread gap during replacement (10 ms timer, ms) "
            f"| {spread([x['longest_gui_stall_ms'] for x in o], '{:.0f}')} | – | – |",
        ]
        if args.program:
            o = [x for x in o if "start_ms" in x]
            mpv_first = [x["ttff_spawn_ms"] for x in results.get(
                os.path.basename(args.seek_file), {}).get("mpv", [])]
            lines += [
                f"| whole program `tibrok-flv-player FILE`: process start to start-up box (ms) "
                f"| {spread([x['box_ms'] for x in o], '{:.0f}')} | – | – |",
                f"| whole program: OK pressed to first frame (ms) "
                f"| {spread([x['ok_to_frame_ms'] for x in o], '{:.0f}')} | – | – |",
                f"| whole program, OK pressed {READ_MS} ms after the box showed: OK to first frame (ms) "
                f"| {spread([x.get('read_ok_to_frame_ms') for x in o], '{:.0f}')} | – | – |",
                f"| whole program: both together, against mpv's first frame (ms) "
                f"| {spread([x['start_ms'] for x in o], '{:.0f}')} "
                f"| {spread(mpv_first, '{:.0f}')} "
                f"| {ratio(med([x['start_ms'] for x in o]), med(mpv_first))} |",
            ]
    if previews:
        lines += [
            "",
            "## Seek-bar preview (ours)",
            "",
            "| file | first hover to picture, preview engine started on the way (ms) "
            f"| later hovers to picture, median of {args.seeks} (ms) "
            "| resident memory the preview adds (MiB) "
            "| longest GUI-thread gap while hovering (10 ms timer, ms) |",
            "|---|---|---|---|---|",
        ]
        for name, r in previews.items():
            lines.append(
                f"| {name} | {spread([x['preview_first_ms'] for x in r], '{:.0f}')} "
                f"| {spread([x['preview_median_ms'] for x in r], '{:.0f}')} "
                f"| {spread([x['preview_rss_added_kb'] / 1024 for x in r], '{:.1f}')} "
                f"| {spread([x['longest_gui_stall_ms'] for x in r], '{:.0f}')} |")
    if args.baseline_player:
        lines += [
            "",
            "## Our player before and after",
            "",
            f"`before` is {args.baseline_player}, measured in the same runs.",
            "",
            "| file | CPU s per media s: before | after | after/before "
            "| frames shown: before | after | first frame ms: before | after "
            "| peak RSS MiB: before | after |",
            "|" + "---|" * 10,
        ]
        for m in media:
            b, a = results[m["name"]]["before"], results[m["name"]]["ours"]
            bc, ac = [x["cpu_per_media_s"] for x in b], [x["cpu_per_media_s"] for x in a]
            lines.append(
                f"| {m['name']} | {spread(bc, '{:.3f}')} | {spread(ac, '{:.3f}')} "
                f"| {ratio(med(ac), med(bc))} "
                f"| {spread([x['frames_painted'] for x in b], '{:.0f}')} / {m['frames']} "
                f"| {spread([x['frames_painted'] for x in a], '{:.0f}')} / {m['frames']} "
                f"| {spread([x['ttff_spawn_ms'] for x in b], '{:.0f}')} "
                f"| {spread([x['ttff_spawn_ms'] for x in a], '{:.0f}')} "
                f"| {spread([x['process_rss_kb'] / 1024 for x in b], '{:.0f}')} "
                f"| {spread([x['process_rss_kb'] / 1024 for x in a], '{:.0f}')} |")
        if interactive["before"]:
            b, a = interactive["before"], interactive["ours"]
            lines += [
                "",
                "| figure | before | after |",
                "|---|---|---|",
            ]
            for key, label in (("seek_median_ms", "seek median (ms)"),
                               ("replace_ms", "replacement (ms)"),
                               ("longest_gui_stall_ms", "longest GUI-thread gap (ms)")):
                lines.append(f"| {label} | {spread([x[key] for x in b], '{:.0f}')} "
                             f"| {spread([x[key] for x in a], '{:.0f}')} |")

    lines += long_rows.pop("lines")
    lines += modern_rows.pop("lines")

    text = "\n".join(lines) + "\n"
    with open(args.out, "w") as f:
        f.write(text)
    with open(args.out + ".json", "w") as f:
        json.dump({"playback": results, "interactive": interactive, "preview": previews,
                   "long": long_rows,
                   "modern": modern_rows["raw"]}, f, indent=1)
    print(text)


if __name__ == "__main__":
    main()
