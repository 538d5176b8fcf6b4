#!/usr/bin/env python3
"""Checks the GIF files the Wine round-trip test saved with decoders of the host. Each saved
file <name>-lzw.gif or <name>-rle.gif must be read by gifsicle without complaint, look the same
as the corpus file <name>.gif to gifdiff, and decode to the same pixels of every frame in
ImageMagick (coalesced) and in ffmpeg."""
import pathlib
import shutil
import subprocess
import sys

IMAGEMAGICK = shutil.which("convert-im6.q16") or "convert"


def run(args):
    return subprocess.run(args, capture_output=True, timeout=120)


def imagemagick_pixels(gif):
    result = run([IMAGEMAGICK, str(gif), "-coalesce", "-depth", "8", "rgba:-"])
    return result.returncode, result.stdout, result.stderr


def ffmpeg_frame_hashes(gif):
    result = run(["ffmpeg", "-v", "error", "-i", str(gif), "-f", "framemd5", "-"])
    hashes = [line.split(",")[-1].strip() for line in result.stdout.decode().splitlines()
              if line and not line.startswith("#")]
    return result.returncode, hashes, result.stderr


def check(saved, original):
    problems = []
    info = run(["gifsicle", "--info", str(saved)])
    if info.returncode != 0 or info.stderr.strip():
        problems.append("gifsicle: " + info.stderr.decode(errors="replace").strip())
    diff = run(["gifdiff", str(original), str(saved)])
    if diff.returncode != 0:
        problems.append("gifdiff: " + (diff.stdout + diff.stderr).decode(errors="replace").strip()[:300])
    for name, decode in (("ImageMagick", imagemagick_pixels), ("ffmpeg", ffmpeg_frame_hashes)):
        want, got = decode(original), decode(saved)
        if got[0] != 0 or (name == "ffmpeg" and got[2].strip()):
            problems.append(f"{name}: " + got[2].decode(errors="replace").strip())
        elif want[1] != got[1]:
            problems.append(f"{name}: decoded frames differ from the original's")
    return problems


def main():
    written, corpus = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    saved_files = sorted(written.glob("*-lzw.gif")) + sorted(written.glob("*-rle.gif"))
    if not saved_files:
        print(f"no saved GIF files in {written}")
        return 1
    failed = 0
    for saved in saved_files:
        original = corpus / (saved.stem.rsplit("-", 1)[0] + ".gif")
        problems = check(saved, original) if original.exists() else [f"no original {original.name}"]
        for p in problems:
            print(f"{saved.name}: {p}")
        failed += bool(problems)
    print(f"{len(saved_files) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
