#!/usr/bin/env python3
"""padmap-replay with its standard output a pipe that nobody reads: every
stroke must reach the system while the pipe is full. Once the deliveries are
complete the pipe is read: the log must be complete and in order, or, when it
was more than the log writer's buffer holds, a whole-line prefix of it
followed by one notice that counts the lines left out. A pipe closed early
(| head): every stroke still delivered, status 0, one notice on stderr.

  blocked_stdout.py PADMAP_REPLAY WORK_DIR

Prints, for each case, how many strokes reached the system while the pipe
was full, of how many.
"""
import fcntl
import os
import subprocess
import sys
import time

REPLAY, WORK = sys.argv[1], sys.argv[2]
os.makedirs(WORK, exist_ok=True)

CONFIG = "\n".join([
    "HID\\VID_04D9&PID_1702",
    "Caps Backspace",
    "A " + ",".join(["S-C-A-W-rS-rC-rA-rW-B", "S-Enter", "rA-Right", "C-A-Home"] * 4),
]) + "\n"
PIPE_BYTES = 4096
DRAIN_START_LIMIT = 1.5  # padmap drains its log for 2 s at the end of a run


def write(name, text):
    path = os.path.join(WORK, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path


def session(taps, key):
    lines = ["keyboard 1 HID\\VID_04D9&PID_1702", "keyboard 2 HID\\VID_046D&PID_C31C"]
    for i in range(taps):
        lines.append(f"tap 1 {key}")
        if i % 10 == 0:
            lines.append("tap 2 Q")
    return "\n".join(lines) + "\n"


def count_lines(path):
    try:
        with open(path, "rb") as f:
            return f.read().count(b"\n")
    except FileNotFoundError:
        return 0


def run_case(name, taps, key, closed=False):
    config = write(name + ".cfg", CONFIG)
    script = write(name + ".session", session(taps, key))
    reference_delivered = os.path.join(WORK, name + ".reference.delivered")
    reference = subprocess.run([REPLAY, "--delivered", reference_delivered, script, config],
                               stdout=subprocess.PIPE, check=False)
    if reference.returncode != 0:
        return f"{name}: the reference run ended with status {reference.returncode}"
    want = count_lines(reference_delivered)

    read_end, write_end = os.pipe()
    fcntl.fcntl(write_end, fcntl.F_SETPIPE_SZ, PIPE_BYTES)
    if closed:
        os.close(read_end)
    delivered = os.path.join(WORK, name + ".delivered")
    if os.path.exists(delivered):
        os.remove(delivered)
    process = subprocess.Popen([REPLAY, "--delivered", delivered, script, config], stdout=write_end,
                               stderr=subprocess.PIPE if closed else None)
    os.close(write_end)
    deadline = time.monotonic() + 120
    while count_lines(delivered) < want and time.monotonic() < deadline and process.poll() is None:
        time.sleep(0.01)
    got = count_lines(delivered)
    typed = session(taps, key).count("tap ") * 2
    print(f"{name}: {got} of {want} deliveries ({typed} strokes typed) reached the system "
          f"while standard output was {'closed' if closed else f'a full {PIPE_BYTES}-byte pipe'}")
    started = time.monotonic()
    output = b"" if closed else os.fdopen(read_end, "rb").read()
    waited = time.monotonic() - started
    errors = process.communicate(timeout=60)[1]
    status = process.returncode
    if got != want:
        return f"{name}: only {got} of {want} deliveries reached the system while the pipe was full"
    with open(delivered, "rb") as a, open(reference_delivered, "rb") as b:
        if a.read() != b.read():
            return f"{name}: the deliveries differ from a run with a console that never waits"
    if status != 0:
        return f"{name}: exit status {status}"
    if closed:
        notice = b"padmap: the log can no longer be written (Broken pipe); padmap goes on without it\n"
        return None if errors == notice else f"{name}: standard error holds {errors[:200]!r}"
    return check_log(name, reference.stdout, output, waited)


def check_log(name, reference, output, waited):
    if output == reference:
        print(f"{name}: the log is complete and in order ({len(output)} bytes)")
        return None
    lines = output.splitlines(keepends=True)
    expected = reference.splitlines(keepends=True)
    kept = len(lines) - 1
    notice = f"... {len(expected) - kept} log lines left out while the console was blocked\n".encode()
    if lines[:kept] != expected[:kept] or lines[-1] != notice:
        return (f"{name}: the log is neither complete nor a whole-line prefix and one notice; "
                f"it ends with {lines[-1][:100]!r} (the pipe was read {waited:.1f} s after the deliveries)")
    print(f"{name}: {kept} of {len(expected)} lines kept, then: {lines[-1].decode().strip()}")
    return None


problems = [p for p in (run_case("under-the-bound", 3000, "Caps"), run_case("over-the-bound", 2000, "A"),
                        run_case("closed-early", 1000, "Caps", closed=True)) if p]
for problem in problems:
    print("FAIL " + problem)
sys.exit(1 if problems else 0)
