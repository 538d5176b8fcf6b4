#!/usr/bin/env python3
"""Checks the GIF files the Wine round-trip test wrote with decoders of the host:
gifsicle must read each without complaint, and ImageMagick and ffmpeg must decode each to the
colour indexes stored beside it (entry i of every table is the grey i, so red = index)."""
import pathlib
import subprocess
import sys


def run(args):
    return subprocess.run(args, capture_output=True, timeout=120)


def check(gif):
    indexes = gif.with_suffix(".idx").read_bytes()
    problems = []
    info = run(["gifsicle", "--info", str(gif)])
    if info.returncode != 0 or info.stderr.strip():
        problems.append("gifsicle: " + info.stderr.decode(errors="replace").strip())
    decoders = {
        "ImageMagick": ["convert", str(gif) + "[0]", "-depth", "8", "rgb:-"],
        "ffmpeg": ["ffmpeg", "-v", "error", "-i", str(gif), "-frames:v", "1", "-f", "rawvideo",
                   "-pix_fmt", "rgb24", "-"],
    }
    for name, args in decoders.items():
        result = run(args)
        if result.returncode != 0 or (name == "ffmpeg" and result.stderr.strip()):
            problems.append(f"{name}: " + result.stderr.decode(errors="replace").strip())
        elif result.stdout[0::3] != indexes:
            problems.append(f"{name}: decoded indexes differ")
    return problems


def main():
    folder = pathlib.Path(sys.argv[1])
    gifs = sorted(folder.glob("*.gif"))
    if not gifs:
        print(f"no GIF files in {folder}")
        return 1
    failed = 0
    for gif in gifs:
        problems = check(gif)
        for p in problems:
            print(f"{gif.name}: {p}")
        failed += bool(problems)
    print(f"{len(gifs) - failed} of {len(gifs)} files accepted and decoded alike")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
