#!/usr/bin/env python3
"""Checks the GIF files the Wine round-trip test saved with decoders of the host. Each saved
file <name>-lzw.gif or <name>-rle.gif must be read by gifsicle without complaint, look the same
as the corpus file <name>.gif to gifdiff, and decode to the same pixels of every frame in
ImageMagick (coalesced) and in ffmpeg."""
import pathlib
import sys

sys.dont_write_bytecode = True  # nothing is written into the source tree
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))
import hostdecoders as host  # noqa: E402


def check(saved, corpus):
    original = corpus / (saved.stem.rsplit("-", 1)[0] + ".gif")
    if not original.exists():
        return [f"no original {original.name}"]
    problems = host.gifsicle_problems(saved)
    diff = host.run(["gifdiff", str(original), str(saved)])
    if diff.returncode != 0:
        problems.append("gifdiff: " + host.text(diff.stdout + diff.stderr)[:300])
    for name, decode in (("ImageMagick", host.imagemagick_rgba), ("ffmpeg", host.ffmpeg_frame_hashes)):
        want, got = decode(original), decode(saved)
        if got[0] != 0 or (name == "ffmpeg" and got[2].strip()):
            problems.append(f"{name}: " + host.text(got[2]))
        elif want[1] != got[1]:
            problems.append(f"{name}: decoded frames differ from the original's")
    return problems


if __name__ == "__main__":
    written, corpus = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    saved = sorted(written.glob("*-lzw.gif")) + sorted(written.glob("*-rle.gif"))
    sys.exit(host.report(saved, lambda f: check(f, corpus), f"saved GIF files in {written}"))
