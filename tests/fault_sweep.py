#!/usr/bin/env python3
"""I/O fault sweep. First checks under strace that a replaced OUTPUT reaches
the disk before it takes the old one's place (see check_sync_order). Then
runs a small replace once for every system call that charpic itself makes
(not the dynamic loader before main; of INPUT's reads, the first, the
second, the last full one and the one at the end), with that one call
failing, for several errors; then with the rename, or the owner, refused and
each later call failing or getting SIGTERM, SIGKILL or SIGUSR1; then with a
signal arriving at each call, and with every ending signal arriving while
the temporary file is written; then OUTPUT /dev/stdout whose close fails,
and a dangling link whose temporary file cannot be created. The runs go on
every core, each in a folder of its own, with a default ACL for another
user, and each within RUN_LIMIT seconds. After every run it checks that:

- OUTPUT holds the old picture or the new one, whole, and keeps its mode,
  its extended attribute and its lack of an ACL; only a whole copy beside
  it may leave it cut short;
- standard output is a prefix of all that a run prints;
- no temporary file is left unless standard error names it, whole where
  it calls it a copy (or, after SIGKILL, whole);
- a run that exits 0 printed everything and wrote the new picture;
- a refused temporary file, owner, ACL, mode or rename, a name taken, or a
  failed sync of the folder, still exits 0; any other error exits 1 with
  OUTPUT old (new after printing fails) unless it only asked about a file,
  ENOENT and ENAMETOOLONG among them where they do not create the file;
  after a refused owner or rename, a failure exits 1 from the truncation on;
  a failed close of a stream OUTPUT exits 1; a dangling link whose
  temporary file fails leaves no file at its target;
- a run that fails says why in one line on standard error and exits 1;
- a signal ends the run by that signal, unless the run ignores it; SIGPIPE
  only once OUTPUT is written.

Each run starts with the ending signals at their defaults, even under nohup.

usage: fault_sweep.py CHARPIC   (CHARPIC_TEST_PROGRAM, if set, wins)
Exits 77, skipped, where strace is missing or charpic is a Windows build.
"""

import codecs
import collections
import concurrent.futures
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile

SYSCALLS = ["openat", "read", "write", "close", "renameat", "fchmod",
            "fchown", "newfstatat", "readlinkat", "fcntl", "unlinkat", "fsync",
            "fdatasync", "ftruncate", "flistxattr", "fgetxattr", "fsetxattr",
            "fremovexattr"]
REFUSALS = ["EACCES", "EPERM", "EBUSY", "EROFS", "EXDEV"]
ERRORS = ["EIO", "ENOSPC"] + REFUSALS
# Refusals beyond REFUSALS when the temporary file is created: a folder that
# takes no new files, as /proc, says ENOENT, a name too long for its file
# system ENAMETOOLONG; and failures at the rename, whose file is gone.
CREATE_REFUSALS = ["EOPNOTSUPP", "ENOENT", "ENAMETOOLONG"]
RENAME_FAILURES = ["ENOENT", "ENAMETOOLONG"]
# How long one strace'd run may take, on the busiest machine; a run takes a
# few hundredths of a second where it has a core to itself.
RUN_LIMIT = 120
READ_SIZE = 1 << 16  # what charpic reads of INPUT at a time
# The ending signals charpic catches, but SIGPIPE, which replace defers.
SIGNALS = [signal.SIGHUP, signal.SIGINT, signal.SIGQUIT, signal.SIGTERM]
# Rows longer than a read of INPUT and than a pipe's buffer, and short ones.
PICTURE = b"a.b\n" + b"." * 100000 + b"\n..\n" + b".x" * 60000 + b"\n"
NEW = PICTURE.replace(b".", b"o")
MODE = 0o640  # not what a new file gets, so that a lost mode shows
# An extended attribute it keeps, longer than a small buffer holds.
ATTRIBUTE = ("user.charpic", b"kept" * 300)
ACL = "system.posix_acl_access"


def acl(*bits):
    """An ACL as the system stores it, with `bits` for the owner, user 1, the
    owning group, the mask and others."""
    return struct.pack("<I", 2) + b"".join(
        struct.pack("<HHI", tag, bit, 1 if tag == 2 else 0xFFFFFFFF)
        for tag, bit in zip((1, 2, 4, 0x10, 0x20), bits))


FOLDER_ACL = acl(7, 6, 5, 7, 5)
FILE_ACL = acl(6, 4, 4, 4, 0)  # a 0640 file's, that user 1 may read
# LeakSanitizer cannot run under strace; the sanitizer build runs without it.
ENVIRONMENT = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
# charpic's first call of its own, after the loader's.
MARKER = re.compile(r"^rt_sigaction\(SIGXFSZ, ")
TEMPORARY = re.compile(r"[^/]*\.charpic-[0-9]+")


def fresh_folder(folder, link=None):
    """Makes `folder`, with a default ACL for user 1, hold in.txt, the
    picture without an ACL, and nothing else, but for `link`, where named,
    a link to new.txt, which does not exist."""
    shutil.rmtree(folder, ignore_errors=True)
    os.mkdir(folder)
    if link:
        os.symlink("new.txt", os.path.join(folder, link))
    os.setxattr(folder, "system.posix_acl_default", FOLDER_ACL)
    path = os.path.join(folder, "in.txt")
    with open(path, "wb") as f:
        f.write(PICTURE)
    os.removexattr(path, ACL)
    os.chmod(path, MODE)
    os.setxattr(path, *ATTRIBUTE)


def reset_signals(ignored):
    """The ending signals at their defaults, but `ignored`; set once for the
    sweep, whose runs inherit them, and in the child of a run that ignores
    one."""
    for number in SIGNALS + [signal.SIGPIPE]:
        signal.signal(number, signal.SIG_IGN if number == ignored
                      else signal.SIG_DFL)


def arguments(program, output):
    return [program, "in.txt", output, "replace", ".", "o"]


def charpic_run(program, folder, output, strace_args, ignored=None):
    """The finished run, or None where it did not end within RUN_LIMIT."""
    # The sweep's signals are at their defaults; a run may ignore one.
    ignore = None if ignored is None else lambda: reset_signals(ignored)
    with subprocess.Popen(["strace", "-qq", "-o", "/dev/null"] + strace_args +
                          arguments(program, output), cwd=folder,
                          env=ENVIRONMENT, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, start_new_session=True,
                          preexec_fn=ignore) as run:
        try:
            stdout, stderr = run.communicate(timeout=RUN_LIMIT)
        except subprocess.TimeoutExpired:
            os.killpg(run.pid, signal.SIGKILL)
            run.communicate()
            return None
    return subprocess.CompletedProcess(run.args, run.returncode, stdout,
                                       stderr)


def expected_stdout(program, output):
    echo = b"".join(b"%d %s\n" % (i, a.encode())
                    for i, a in enumerate(arguments(program, output)))
    return echo + PICTURE + NEW + (NEW if output == "/dev/stdout" else b"")


def trace(program, folder, output, calls, strace_args=()):
    """The calls named in `calls` that a run makes, as strace prints them."""
    path = os.path.join(folder, "..", "trace")
    subprocess.run(["strace", "-qq", "-o", path, "-e", "trace=" + calls] +
                   list(strace_args) + arguments(program, output), cwd=folder,
                   env=ENVIRONMENT, check=True, stdout=subprocess.DEVNULL,
                   timeout=RUN_LIMIT)
    with open(path) as lines:
        return lines.read().splitlines()


def role(name, line):
    """What the call `name`, traced as `line`, is, for what its failure must
    do: "create", "refusable", "stdout", "asks", "ignored" or "strict"."""
    if name == "openat" and "O_CREAT|O_EXCL" in line:
        return "create"
    if name in ("renameat", "fchown", "fchmod") or "xattr" in name:
        return "refusable"
    if name in ("newfstatat", "fcntl"):
        return "asks"
    # A folder opened to be synced, not to be searched; a file whose bytes
    # are on the disk already, or are not to be kept.
    if (name == "openat" and "O_DIRECTORY" in line and
            "O_PATH" not in line) or name == "close" or (
            name == "fsync" and "/work>" in line):
        return "ignored"
    return "stdout" if line.startswith("write(1<") else "strict"


def calls_of_charpic(program, folder, output, strace_args=()):
    """The swept calls that charpic makes after the loader, in order, each as
    (name, which call of that name it is, counting the loader's too, its
    role). A coverage build's own calls at exit, on its .gcda files, are
    left out, and so are INPUT's reads but the first, the second, the last
    full one and the last, which differ from the others."""
    seen_marker, counts, calls, reads = False, {}, [], []
    for line in trace(program, folder, output,
                      "rt_sigaction," + ",".join(SYSCALLS),
                      ["-y"] + list(strace_args)):
        seen_marker = seen_marker or bool(MARKER.match(line))
        name = line.split("(", 1)[0]
        if name in SYSCALLS:
            counts[name] = counts.get(name, 0) + 1
            if seen_marker and ".gcda" not in line:
                if name == "read":
                    reads.append((len(calls), line.endswith(f" = {READ_SIZE}")))
                calls.append((name, counts[name], role(name, line)))
    full = [index for index, whole in reads if whole]
    kept = {reads[0][0], reads[1][0], full[-1], reads[-1][0]}
    return [call for index, call in enumerate(calls)
            if call[0] != "read" or index in kept]


def sync_order(program, folder, output, strace_args=()):
    """The order of the calls that put a replaced OUTPUT on the disk, one word
    each: OUTPUT opened, the temporary file created, written, synced and
    closed, the rename, the folder synced, OUTPUT closed; where the rename
    is refused, OUTPUT written in place and the temporary file removed."""
    words, names = [], {}
    for line in trace(program, folder, output,
                      "openat,write,fsync,fdatasync,close,renameat,unlinkat,"
                      "fchown,fchmod,fsetxattr,ftruncate",
                      ["-s", "5000"] + list(strace_args)):
        call = re.match(r"(\w+)\((\d*)(.*) = (-?\d+)", line)
        if not call:
            continue
        name, fd, rest, result = call.groups()
        if name == "openat":
            names.pop(result, None)
            if "charpic-" in rest:
                names[result] = "temporary"
                if "O_CREAT|O_EXCL" in rest:
                    path, mode = re.search(r'"(.*)".*, (0\d+)\)', rest).groups()
                    raw = os.path.basename(codecs.escape_decode(path)[0])
                    name = raw.decode("utf-8", "replace")
                    word = f"create temporary {mode}" + (
                        ", splitting a character" if "\ufffd" in name else "")
                    word += ", too long" if len(raw) > 255 else ""
                    if not words or words[-1] != word:
                        words.append(word)
            elif (f'"{os.path.basename(output)}"' in rest and
                  "O_WRONLY" in rest):
                names[result] = "output"
                if "O_TRUNC" not in rest:
                    words.append("open output" if "O_CREAT" in rest and
                                 "O_NONBLOCK" not in rest
                                 else "open output unlike a redirection")
            elif "O_DIRECTORY" in rest and "O_PATH" not in rest:
                names[result] = "folder"
        elif name in ("renameat", "unlinkat"):
            words.append(name[:-2])
        elif fd in names:
            word = f"{name} {names[fd]}"
            if not words or words[-1] != word:
                words.append(word)
    return [w.replace("fdatasync", "fsync") for w in words]


def check_sync_order(program, folder):
    """Fails unless the temporary file is created afresh (owner-only for an
    existing OUTPUT, within the name limits, however long the path) and
    reaches the disk before it gets OUTPUT's metadata or place, and the
    folder after that, OUTPUT written in place reaches it, /dev/null is
    never synced, and an OUTPUT with an ACL gives it, kept, to its temporary
    file before any mode."""
    os.setxattr(os.path.join(folder, "in.txt"), ACL, FILE_ACL)
    whole = ["write temporary", "fsync temporary"]
    synced = ["fsync folder", "close folder"]
    new = ["create temporary 0666"] + whole + ["close temporary", "rename"]
    new += synced
    copied = ["open output", "create temporary 0600"] + whole
    renamed = copied + ["fchown temporary", "fsetxattr temporary",
                        "fchmod temporary", "close temporary", "rename"]
    in_place = ["ftruncate output", "write output", "fsync output",
                "close output", "unlink"]
    deep = "/".join(["d" * 250] * 16)
    os.makedirs(os.path.join(folder, deep))
    os.mkdir(os.path.join(folder, "d"))
    # A link whose text, joined to its folder, makes a path too long to use.
    os.symlink("./" * 60 + "out.txt", os.path.join(folder, deep, "link"))
    # The first 30 names tried for a new OUTPUT's temporary file taken, so
    # that some have ten digits.
    when = next(when for _, when, role in
                calls_of_charpic(program, folder, "taken.txt")
                if role == "create")
    os.remove(os.path.join(folder, "taken.txt"))
    taken = ["-e", f"inject=openat:error=EEXIST:when={when}..{when + 29}"]
    for output, strace_args, wanted in (
            ("out.txt", [], new),
            ("out.txt", ["-e", "inject=renameat:error=EPERM"],
             renamed + in_place),
            ("in.txt", ["-e", "inject=fchown:error=EPERM"],
             copied + ["fchown temporary", "close temporary"] + in_place),
            ("/dev/null", [], ["open output", "write output", "close output"]),
            ("in.txt", [], renamed + synced + ["close output"]),
            ("d/out.txt", [], new),
            ("n" * 235 + "\u00e9" + "n" * 18, [], new),
            (deep + "/" + "n" * 74, [], new),
            (deep + "/link", [], new),
            ("m" * 255, taken, new),
            (deep + "/" + "m" * 79, taken, new)):
        got = sync_order(program, folder, output, strace_args)
        if got != wanted:
            print(f"OUTPUT {output[:80]} {strace_args}: calls {got}, "
                  f"not {wanted}")
            return False
    return os.getxattr(os.path.join(folder, "in.txt"), ACL) == FILE_ACL


def broken_rules(result, folder, output, old, stdout, expect, signalled):
    """What the run that left `folder` behind did wrong, if anything, when it
    was to "succeed", "fail", "fail in place", fail at "stdout", or None."""
    names = sorted(os.listdir(folder))
    copy = False
    for name in set(names) - {"in.txt", output}:
        named = f"'{name}'".encode() in result.stderr
        if (not TEMPORARY.fullmatch(name) or
                not (named or signalled == signal.SIGKILL)):
            return f"left {names}"
        whole = open(os.path.join(folder, name), "rb").read() == NEW
        # What a message calls a copy, or SIGKILL left, is whole.
        if not whole and (signalled or re.search(rb"picture is in|its copy",
                                                 result.stderr)):
            return f"left {name} without the new picture whole"
        copy = copy or whole
    path = os.path.join(folder, output)
    # A stream's file is not the sweep's to read.
    written = None
    if not os.path.isabs(output) and os.path.exists(path):
        written = open(path, "rb").read()
    if written not in (old, NEW) and not copy:
        return "OUTPUT is neither the old picture nor the new one"
    if old is not None and os.stat(path).st_mode & 0o7777 != MODE:
        return f"OUTPUT's mode is {os.stat(path).st_mode & 0o7777:o}"
    if old is not None and (ATTRIBUTE[0] not in os.listxattr(path) or
                            os.getxattr(path, ATTRIBUTE[0]) != ATTRIBUTE[1]):
        return "OUTPUT lost its extended attribute"
    if old is not None and ACL in os.listxattr(path):
        return "OUTPUT gained an ACL"
    if not stdout.startswith(result.stdout):
        return "standard output is not a prefix of what a run prints"
    if signalled:
        if result.returncode != -signalled:
            return f"exit {result.returncode}, not ended by signal {signalled}"
        if expect == "succeed" and written != NEW:
            return "ended by a held signal before OUTPUT was written"
    elif result.returncode == 0:
        if written != NEW or result.stdout != stdout or result.stderr:
            return "exit 0 without all of the output"
        if expect not in ("succeed", None):
            return "exit 0 after a failure"
    elif expect == "succeed":
        return f"exit {result.returncode}, standard error {result.stderr!r}"
    elif result.returncode != 1 or not re.fullmatch(rb"charpic: [^\n]+\n",
                                                     result.stderr):
        return f"exit {result.returncode}, standard error {result.stderr!r}"
    elif written != {"fail": old, "stdout": NEW}.get(expect, written):
        return f"OUTPUT is {'new' if written == NEW else 'old'} after a failure"
    return None


# `existed`: OUTPUT held the picture before the run; `link`: it is a link
# to a file that does not exist.
Case = collections.namedtuple(
    "Case", "program output existed link injects expect signalled ignored")


def run_case(case, folder):
    """What the run that `case` describes, made in `folder`, did wrong, if
    anything."""
    fresh_folder(folder, case.output if case.link else None)
    # One list of calls to trace: a second one would replace the first.
    strace_args = ["-e", "trace=" + ",".join(name for name, _ in case.injects)]
    for name, inject in case.injects:
        strace_args += ["-e", f"inject={name}:{inject}"]
    result = charpic_run(case.program, folder, case.output, strace_args,
                         case.ignored)
    broken = f"did not end within {RUN_LIMIT} s"
    if result is not None:
        broken = broken_rules(result, folder, case.output,
                              PICTURE if case.existed else None,
                              expected_stdout(case.program, case.output),
                              case.expect, case.signalled)
    shutil.rmtree(folder)
    return broken


class Sweep:
    """The cases of the sweep for one OUTPUT, found by tracing a run in
    `folder`."""

    def __init__(self, program, output, existed, folder, link=False):
        self.program, self.output, self.existed = program, output, existed
        self.folder, self.link = folder, link
        self.cases = []

    def add(self, injects, expect=None, signalled=None, ignored=None):
        self.cases.append(Case(self.program, self.output, self.existed,
                               self.link, tuple(injects), expect, signalled,
                               ignored))

    def calls(self, strace_args=()):
        """The calls of a run, as calls_of_charpic() gives them."""
        fresh_folder(self.folder, self.output if self.link else None)
        return calls_of_charpic(self.program, self.folder, self.output,
                                strace_args)

    def sweep(self):
        calls = self.calls()
        for name, when, role in calls:
            # A name already taken, EEXIST, is no failure either.
            extra = RENAME_FAILURES if name == "renameat" else []
            if role == "create":
                extra = CREATE_REFUSALS + ["EEXIST"]
            refusals = REFUSALS + (extra if role == "create" else [])
            for error in ERRORS + extra:
                expect = {"ignored": "succeed", "asks": None,
                          "stdout": "stdout"}.get(role, "fail")
                if role in ("create", "refusable") and error in refusals:
                    expect = "succeed"
                self.add([(name, f"error={error}:when={when}")], expect)
            self.add([(name, f"signal=SIGTERM:when={when}")],
                     signalled=signal.SIGTERM)
        # A temporary file that cannot be removed after a failure is named.
        write = next(when for name, when, role in calls
                     if (name, role) == ("write", "strict"))
        self.add([("write", f"error=EIO:when={write}"),
                  ("unlinkat", "error=EPERM")], "fail")

    def sweep_refused(self, refused):
        """With the call `refused` refused, fails each call that follows it,
        which fails the run but where it is ignored outside the write in
        place, from OUTPUT's truncation to its copy's removal; or sends
        SIGTERM, SIGKILL or SIGUSR1 at it."""
        refuse = (refused, "error=EPERM")
        calls = self.calls(["-e", f"inject={refused}:error=EPERM"])
        if (refused, 1, "refusable") not in calls:
            return  # a new OUTPUT has no owner to keep
        after = calls[calls.index((refused, 1, "refusable")) + 1:]
        names = [name for name, _, _ in after]
        in_place = range(names.index("ftruncate"), names.index("unlinkat") + 1)
        for index, (name, when, role) in enumerate(after):
            expect = "fail in place"
            if role == "ignored" and index not in in_place:
                expect = "succeed"
            for error in ("EIO", "ENOSPC"):
                self.add([refuse, (name, f"error={error}:when={when}")], expect)
            for number in (signal.SIGTERM, signal.SIGKILL, signal.SIGUSR1):
                self.add([refuse, (name, f"signal={int(number)}:when={when}")],
                         signalled=number)

    def sweep_signals(self):
        """Sends each ending signal while the temporary file is synced, and
        ones that the run was started to ignore, one with a broken pipe."""
        for number in SIGNALS:
            self.add([("fsync", f"signal={int(number)}:when=1")],
                     signalled=number)
        # SIGPIPE waits until OUTPUT is written.
        self.add([("fsync", f"signal={int(signal.SIGPIPE)}:when=1")],
                 "succeed", signalled=signal.SIGPIPE)
        for ignored in (signal.SIGHUP, signal.SIGPIPE):
            self.add([("fsync", f"signal={int(ignored)}:when=1")],
                     ignored=ignored)
        self.add([("write", "error=EPIPE:signal=SIGPIPE:when=1")],
                 "stdout", ignored=signal.SIGPIPE)

    def sweep_stream_close(self):
        """Fails the close of OUTPUT's descriptor, after the picture went
        through it."""
        calls = self.calls()
        written = max(index for index, (name, _, role) in enumerate(calls)
                      if (name, role) == ("write", "strict"))
        when = next(when for name, when, _ in calls[written:]
                    if name == "close")
        self.add([("close", f"error=EIO:when={when}")], "fail")

    def sweep_creation(self):
        """Fails the creation of the temporary file."""
        when = next(when for _, when, role in self.calls() if role == "create")
        self.add([("openat", f"error=EIO:when={when}")], "fail")


def main():
    program = os.path.abspath(os.environ.get("CHARPIC_TEST_PROGRAM") or sys.argv[1])
    if shutil.which("strace") is None:
        print("skipped: strace is not installed")
        return 77
    if os.environ.get("CHARPIC_TEST_WINE"):
        print("skipped: the sweep needs a POSIX build")
        return 77
    reset_signals(None)
    with tempfile.TemporaryDirectory(prefix="charpic-sweep-") as top:
        folder = os.path.join(top, "work")
        fresh_folder(folder)
        if not check_sync_order(program, folder):
            return 1
    print("sync order: create, write, fsync, metadata, close, rename, fsync "
          "of the folder; after a refused owner or rename, OUTPUT synced in "
          "place before its copy goes; an ACL before the mode")
    cases = []
    with tempfile.TemporaryDirectory(prefix="charpic-sweep-") as top:
        folder = os.path.join(top, "work")
        for output, existed in (("in.txt", True), ("out.txt", False)):
            sweep = Sweep(program, output, existed, folder)
            sweep.sweep()
            sweep.sweep_refused("renameat")
            sweep.sweep_refused("fchown")
            sweep.sweep_signals()
            cases += sweep.cases
        stream = Sweep(program, "/dev/stdout", False, folder)
        stream.sweep_stream_close()
        dangling = Sweep(program, "link", False, folder, link=True)
        dangling.sweep_creation()
        cases += stream.cases + dangling.cases
        folders = [os.path.join(top, f"case{i}") for i in range(len(cases))]
        with concurrent.futures.ProcessPoolExecutor(os.cpu_count()) as pool:
            broken = list(pool.map(run_case, cases, folders, chunksize=8))
    failures = [(case, fault) for case, fault in zip(cases, broken) if fault]
    for case, fault in failures:
        print(f"OUTPUT {case.output}, {list(case.injects)}: {fault}")
    print(f"fault sweep: {len(cases)} faults injected, {len(failures)} broke "
          "the rules")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
