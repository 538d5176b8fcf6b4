"""GIF decoders of the host (gifsicle, ImageMagick, ffmpeg), as the checks of the files our Wine
tests write use them, and the loop that reports each file's problems."""
import shutil
import subprocess

IMAGEMAGICK = shutil.which("convert-im6.q16") or "convert"


def run(args):
    return subprocess.run(args, capture_output=True, timeout=120)


def text(output):
    return output.decode(errors="replace").strip()


def gifsicle_problems(gif):
    """gifsicle must read the file without a word of complaint."""
    info = run(["gifsicle", "--info", str(gif)])
    if info.returncode != 0 or info.stderr.strip():
        return ["gifsicle: " + text(info.stderr)]
    return []


def imagemagick_rgba(gif):
    """Every frame, coalesced, as 8-bit RGBA: (exit code, bytes, errors)."""
    result = run([IMAGEMAGICK, str(gif), "-coalesce", "-depth", "8", "rgba:-"])
    return result.returncode, result.stdout, result.stderr


def imagemagick_first_rgb(gif):
    """The first frame as 8-bit RGB: (exit code, bytes, errors)."""
    result = run([IMAGEMAGICK, str(gif) + "[0]", "-depth", "8", "rgb:-"])
    return result.returncode, result.stdout, result.stderr


def ffmpeg_frame_hashes(gif):
    """The MD5 of every frame ffmpeg decodes: (exit code, hashes, errors)."""
    result = run(["ffmpeg", "-v", "error", "-i", str(gif), "-f", "framemd5", "-"])
    hashes = [line.split(",")[-1].strip() for line in result.stdout.decode().splitlines()
              if line and not line.startswith("#")]
    return result.returncode, hashes, result.stderr


def ffmpeg_first_rgb(gif):
    """The first frame as RGB24: (exit code, bytes, errors)."""
    result = run(["ffmpeg", "-v", "error", "-i", str(gif), "-frames:v", "1", "-f", "rawvideo",
                  "-pix_fmt", "rgb24", "-"])
    return result.returncode, result.stdout, result.stderr


def report(files, check, what):
    """Prints each file's problems and a summary; the exit code of a check script."""
    if not files:
        print(f"no {what}")
        return 1
    failed = 0
    for name, problems in ((f.name, check(f)) for f in files):
        for p in problems:
            print(f"{name}: {p}")
        failed += bool(problems)
    print(f"{len(files) - failed} of {len(files)} files passed, {failed} failed")
    return 1 if failed else 0
