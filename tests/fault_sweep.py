#!/usr/bin/env python3
"""I/O fault sweep. First checks under strace that a replaced OUTPUT reaches
the disk before it takes the old one's place: the temporary file is synced
before the rename and the folder after it, and /dev/null is not synced. Then
runs a small replace once for every system call that charpic itself makes
(not the dynamic loader before main), with that one call failing, for several
errors, and checks after every run that:

- OUTPUT holds the old picture or the new one, whole;
- no temporary file is left;
- a run that exits 0 printed everything and wrote the new picture;
- a run that fails says why in one line on standard error and exits 1.

usage: fault_sweep.py CHARPIC   (CHARPIC_TEST_PROGRAM, if set, wins)
Exits 77, skipped, where strace is missing or charpic is a Windows build.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

SYSCALLS = ["openat", "read", "write", "close", "rename", "fchmod", "fchown",
            "newfstatat", "readlink", "fcntl", "unlink", "fsync", "fdatasync"]
ERRORS = ["EIO", "ENOSPC", "EACCES", "EPERM", "EBUSY"]
# Rows longer than OUTPUT's 1 MiB buffer, so that it is written in several
# calls, and short ones around them.
PICTURE = b"a.b\n" + b"." * 700000 + b"\n..\n" + b".x" * 400000 + b"\n"
NEW = PICTURE.replace(b".", b"o")
# LeakSanitizer cannot run under strace; the sanitizer build runs without it.
ENVIRONMENT = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
# charpic's first call of its own, after the loader's.
MARKER = re.compile(r"^rt_sigaction\(SIGXFSZ, ")


def fresh_folder(folder):
    """Makes `folder` hold in.txt, the picture, and nothing else."""
    shutil.rmtree(folder, ignore_errors=True)
    os.mkdir(folder)
    with open(os.path.join(folder, "in.txt"), "wb") as f:
        f.write(PICTURE)


def charpic_run(program, folder, output, strace_args):
    args = [program, "in.txt", output, "replace", ".", "o"]
    return subprocess.run(["strace", "-qq", "-o", "/dev/null"] + strace_args + args,
                          cwd=folder, env=ENVIRONMENT, capture_output=True)


def expected_stdout(program, output):
    echo = b"".join(b"%d %s\n" % (i, a.encode()) for i, a in
                    enumerate([program, "in.txt", output, "replace", ".", "o"]))
    return echo + PICTURE + NEW


def calls_of_charpic(program, folder, output):
    """How many calls of each swept kind the loader makes before main, and how
    many charpic makes after."""
    trace = os.path.join(folder, "..", "trace")
    args = [program, "in.txt", output, "replace", ".", "o"]
    subprocess.run(["strace", "-qq", "-o", trace, "-e",
                    "trace=rt_sigaction," + ",".join(SYSCALLS)] + args,
                   cwd=folder, env=ENVIRONMENT, check=True,
                   stdout=subprocess.DEVNULL)
    before, after, seen_marker = {}, {}, False
    with open(trace) as lines:
        for line in lines:
            seen_marker = seen_marker or bool(MARKER.match(line))
            name = line.split("(", 1)[0]
            if name in SYSCALLS:
                counts = after if seen_marker else before
                counts[name] = counts.get(name, 0) + 1
    return before, after


def sync_order(program, folder, output):
    """The order of the calls that put a replaced OUTPUT on the disk, one word
    each: the temporary file written, synced and closed, the rename, and the
    folder synced."""
    trace = os.path.join(folder, "..", "trace")
    subprocess.run(["strace", "-qq", "-o", trace, "-e",
                    "trace=openat,write,fsync,fdatasync,close,rename",
                    program, "in.txt", output, "replace", ".", "o"],
                   cwd=folder, env=ENVIRONMENT, check=True,
                   stdout=subprocess.DEVNULL)
    words, names = [], {}
    with open(trace) as lines:
        for line in lines:
            call = re.match(r"(\w+)\((\d*)(.*) = (-?\d+)", line)
            if not call:
                continue
            name, fd, rest, result = call.groups()
            if name == "openat" and ("charpic-" in rest or "O_DIRECTORY" in rest):
                names[result] = "temporary" if "charpic-" in rest else "folder"
            elif name == "rename":
                words.append("rename")
            elif fd in names and name != "openat":
                word = f"{name} {names[fd]}"
                if not words or words[-1] != word:
                    words.append(word)
    return [w.replace("fdatasync", "fsync") for w in words]


def check_sync_order(program, folder):
    """Fails unless the temporary file reaches the disk before the rename and
    the folder after it, and /dev/null is never synced."""
    expected = ["write temporary", "fsync temporary", "close temporary",
                "rename", "fsync folder", "close folder"]
    for output, wanted in (("out.txt", expected), ("/dev/null", [])):
        got = sync_order(program, folder, output)
        if got != wanted:
            print(f"OUTPUT {output}: calls {got}, not {wanted}")
            return False
    return True


def broken_rules(result, folder, output, old, stdout):
    """What the run that left `folder` behind did wrong, if anything."""
    names = sorted(os.listdir(folder))
    if names != sorted({"in.txt", output}) and names != ["in.txt"]:
        return f"left {names}"
    path = os.path.join(folder, output)
    written = open(path, "rb").read() if os.path.exists(path) else None
    if written not in (old, NEW):
        return "OUTPUT is neither the old picture nor the new one"
    if result.returncode == 0:
        if written != NEW or result.stdout != stdout or result.stderr:
            return "exit 0 without all of the output"
    elif result.returncode != 1 or not re.fullmatch(rb"charpic: [^\n]+\n",
                                                     result.stderr):
        return f"exit {result.returncode}, standard error {result.stderr!r}"
    return None


def main():
    program = os.path.abspath(os.environ.get("CHARPIC_TEST_PROGRAM") or sys.argv[1])
    if shutil.which("strace") is None:
        print("skipped: strace is not installed")
        return 77
    if os.environ.get("CHARPIC_TEST_WINE"):
        print("skipped: the sweep needs a POSIX build")
        return 77
    faults = failures = 0
    with tempfile.TemporaryDirectory(prefix="charpic-sweep-") as top:
        folder = os.path.join(top, "work")
        fresh_folder(folder)
        if not check_sync_order(program, folder):
            return 1
    print("sync order: write, fsync, close, rename, fsync of the folder")
    for output, old in (("in.txt", PICTURE), ("out.txt", None)):
        stdout = expected_stdout(program, output)
        with tempfile.TemporaryDirectory(prefix="charpic-sweep-") as top:
            folder = os.path.join(top, "work")
            fresh_folder(folder)
            before, after = calls_of_charpic(program, folder, output)
            for name, count in sorted(after.items()):
                for when in range(before.get(name, 0) + 1,
                                  before.get(name, 0) + count + 1):
                    for error in ERRORS:
                        fresh_folder(folder)
                        inject = f"inject={name}:error={error}:when={when}"
                        result = charpic_run(program, folder, output,
                                             ["-e", f"trace={name}", "-e", inject])
                        faults += 1
                        broken = broken_rules(result, folder, output, old, stdout)
                        if broken:
                            failures += 1
                            print(f"OUTPUT {output}, {inject}: {broken}")
    print(f"fault sweep: {faults} faults injected, {failures} broke the rules")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
