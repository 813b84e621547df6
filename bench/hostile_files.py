#!/usr/bin/env python3
"""Hostile FLV files for the CPU figures of bench/README.md ("Holes and
zeros"): none of them takes room on disk beyond a few hundred kilobytes.

  hostile_files.py sparse CLIP OUT GIB   the clip's tags before 3 s, a hole
                                         of GIB gibibytes, the rest
  hostile_files.py grow CLIP OUT         the clip's first 1.5 s, then a
                                         mebibyte of hole every millisecond
                                         (a gibibyte a second) and the rest
                                         of its tags as they fall due, in
                                         real time, 100 ms late
"""
import os
import sys
import time


def tags(data):
    """The tags of an FLV with their PreviousTagSize fields, and the header."""
    at = int.from_bytes(data[5:9], "big") + 4
    out = []
    while at + 11 <= len(data):
        size = int.from_bytes(data[at + 1:at + 4], "big")
        ms = int.from_bytes(data[at + 4:at + 7], "big") | data[at + 7] << 24
        out.append((ms, data[at:at + 11 + size + 4]))
        at += 11 + size + 4
    return data[:int.from_bytes(data[5:9], "big") + 4], out


def split(data, ms):
    header, all_tags = tags(data)
    # Script data and codec configuration go with the head.
    def head_tag(t):
        body = t[1][11:13]
        return t[0] < ms or t[1][0] == 18 or (len(body) == 2 and body[1] == 0)
    head = header + b"".join(t[1] for t in all_tags if head_tag(t))
    return head, [t for t in all_tags if not head_tag(t)]


def main():
    mode, clip, out = sys.argv[1:4]
    data = open(clip, "rb").read()
    if mode == "sparse":
        head, rest = split(data, 3000)
        with open(out, "wb") as f:
            f.write(head)
            f.truncate(f.tell() + int(float(sys.argv[4]) * (1 << 30)))
            f.seek(0, 2)
            f.write(b"".join(t[1] for t in rest))
    elif mode == "grow":
        head, rest = split(data, 1500)
        with open(out, "wb") as f:
            f.write(head)
            f.flush()
            start, written = time.monotonic(), 0
            while written < len(rest):
                elapsed_ms = (time.monotonic() - start) * 1000
                f.truncate(f.seek(0, 2) + (1 << 20))
                while written < len(rest) and rest[written][0] < 1500 + elapsed_ms - 100:
                    f.seek(0, 2)
                    f.write(rest[written][1])
                    written += 1
                f.flush()
                time.sleep(0.001)
    else:
        sys.exit(__doc__)
    print(out, os.path.getsize(out), "bytes,", os.stat(out).st_blocks * 512, "on disk")


if __name__ == "__main__":
    main()
