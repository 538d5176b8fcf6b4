#!/usr/bin/env python3
"""Checks the GIF files the Wine round-trip test wrote with decoders of the host:
gifsicle must read each without complaint, and ImageMagick and ffmpeg must decode each to the
colour indexes stored beside it (entry i of every table is the grey i, so red = index)."""
import pathlib
import sys

sys.dont_write_bytecode = True  # nothing is written into the source tree
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))
import hostdecoders as host  # noqa: E402


def check(gif):
    indexes = gif.with_suffix(".idx").read_bytes()
    problems = host.gifsicle_problems(gif)
    for name, decode in (("ImageMagick", host.imagemagick_first_rgb), ("ffmpeg", host.ffmpeg_first_rgb)):
        code, rgb, errors = decode(gif)
        if code != 0 or (name == "ffmpeg" and errors.strip()):
            problems.append(f"{name}: " + host.text(errors))
        elif rgb[0::3] != indexes:
            problems.append(f"{name}: decoded indexes differ")
    return problems


if __name__ == "__main__":
    folder = pathlib.Path(sys.argv[1])
    sys.exit(host.report(sorted(folder.glob("*.gif")), check, f"GIF files in {folder}"))
