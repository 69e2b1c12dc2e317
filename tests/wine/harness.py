"""Runs the real uninstall.exe under Wine for the end-to-end tests.

One 32-bit prefix under the build tree serves every test file of a run; it is
created once, under a lock, and each test process holds that lock while it
uses the prefix. Each process starts its own Xvfb display and stops it, the
prefix's wineserver, and every program it started, by PID, at the end.

Wine here runs under qemu user emulation: it is slow and prints floods of
noise on standard error, so every program's output goes to files and every
wait has a bound.

Configuration comes from the environment (set by tests/wine/CMakeLists.txt):
  ZELK_WINDOWS_BUILD_DIR  the Windows build: uninstall.exe, the test programs
  ZELK_WINE_PREFIX        the Wine prefix to create and use
  ZELK_WINE_ARTEFACTS     where program output and screenshots go
"""

import contextlib
import fcntl
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import unittest

PREFIX_TIMEOUT = 900        # creating a prefix takes about a minute under qemu
PREFIX_ATTEMPTS = 3
LOCK_TIMEOUT = 3600         # another test file may hold the prefix that long
FIRST_START_TIMEOUT = 180   # the first program in a prefix starts its services
RUN_TIMEOUT = 120
WINDOW_TIMEOUT = 90
TOOL_TIMEOUT = 60

# Keep Wine from offering to download Mono and Gecko, and from starting its
# debugger on a crash (which would keep the wineserver alive).
DLL_OVERRIDES = "mscoree,mshtml=;winedbg.exe=d"

READY_STAMP = ".zelk-prefix-ready"

# Where the harness keeps its own files inside the prefix.
TOOLS_DIR = r"C:\zelk-harness"

# What a program prints when Wine's desktop process could not start for it.
DESKTOP_FAILED = "The explorer process failed to start"
WINESERVER_CRASHED = b"wineserver crashed"

# The sample product of the uninstall cases, relative to its directory. Its
# list names the directories before what they hold, with CR LF, trailing
# blanks and tabs, blank lines, a duplicate, a missing entry and no final
# line end.
SAMPLE_FILES = ["zelk.exe", r"Doc\manual.txt", r"Doc\Deep\notes.txt", "Read me.txt",
                "readonly.dat", "hidden.dat"]
SAMPLE_DIRECTORIES = ["Doc", r"Doc\Deep"]
SAMPLE_LIST = (b"Doc\r\nDoc\\Deep \t\r\n\r\n   \r\nDoc\\Deep\\notes.txt\t\t\r\n"
               b"Doc\\manual.txt\r\nzelk.exe  \r\nzelk.exe\r\nmissing.txt\r\n\n"
               b"readonly.dat\r\nhidden.dat\r\nRead me.txt")


class HarnessError(Exception):
    pass


def _env_path(name, default=None):
    value = os.environ.get(name) or default
    if not value:
        raise HarnessError(f"environment variable {name} is not set")
    return os.path.abspath(value)


def windows_build_dir():
    return _env_path("ZELK_WINDOWS_BUILD_DIR")


def prefix_dir():
    return _env_path("ZELK_WINE_PREFIX")


def artefacts_dir():
    return _env_path("ZELK_WINE_ARTEFACTS",
                     os.path.join(os.path.dirname(prefix_dir()), "artefacts"))


def uninstaller_path():
    return os.path.join(windows_build_dir(), "uninstall.exe")


# ---------------------------------------------------------------------------
# Processes


def _stop_process(proc, grace=10):
    """Stops a process we started, by its PID: politely, then for good."""
    if proc.poll() is not None:
        return
    with contextlib.suppress(ProcessLookupError):
        os.kill(proc.pid, signal.SIGTERM)
    try:
        proc.wait(grace)
    except subprocess.TimeoutExpired:
        with contextlib.suppress(ProcessLookupError):
            os.kill(proc.pid, signal.SIGKILL)
        with contextlib.suppress(subprocess.TimeoutExpired):
            proc.wait(grace)


def _run_tool(args, env=None, timeout=TOOL_TIMEOUT, check=False, stdin=None,
              capture=True):
    """Runs a short Linux tool with bounded time; returns (code, stdout).
    Without capture its output is dropped: a tool that leaves a daemon
    behind (wineserver) would otherwise hold the pipe open."""
    proc = subprocess.Popen(args, env=env, stdin=stdin or subprocess.DEVNULL,
                            stdout=subprocess.PIPE if capture else subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    try:
        out, _ = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        _stop_process(proc)
        raise HarnessError(f"{args[0]} did not finish within {timeout} s")
    if check and proc.returncode != 0:
        raise HarnessError(f"{' '.join(args)} failed with {proc.returncode}")
    return proc.returncode, (out or b"").decode("utf-8", "replace")


@contextlib.contextmanager
def file_lock(path, timeout=LOCK_TIMEOUT):
    """Holds an exclusive lock on a file; waits at most timeout seconds."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "a") as handle:
        deadline = time.monotonic() + timeout
        while True:
            try:
                fcntl.flock(handle, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                if time.monotonic() > deadline:
                    raise HarnessError(f"lock {path} still held after {timeout} s")
                time.sleep(0.5)
        try:
            yield
        finally:
            fcntl.flock(handle, fcntl.LOCK_UN)


# ---------------------------------------------------------------------------
# The prefix


def wine_env(prefix, display=None, debug="-all"):
    env = dict(os.environ)
    env.update(WINEPREFIX=prefix, WINEARCH="win32", WINEDEBUG=debug,
               WINEDLLOVERRIDES=DLL_OVERRIDES)
    if display:
        env["DISPLAY"] = display
    else:
        env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def kill_wineserver(prefix):
    """Ends every Wine process of this prefix (and only of this prefix)."""
    if os.path.isdir(prefix):
        with contextlib.suppress(HarnessError):
            _run_tool(["wineserver", "-k"], env=wine_env(prefix), timeout=60,
                      capture=False)


def _wait_wineserver(prefix, timeout):
    try:
        _run_tool(["wineserver", "-w"], env=wine_env(prefix), timeout=timeout,
                  capture=False)
        return True
    except HarnessError:
        return False


def _end_prefix_processes(prefix):
    """Ends the prefix's processes through its wineserver, then kills any
    whose environment names the prefix: what a crashed wineserver leaves
    behind can no longer be told to end."""
    kill_wineserver(prefix)
    wanted = b"\0WINEPREFIX=" + os.fsencode(prefix) + b"\0"
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as handle:
                if b"wine" not in handle.read():
                    continue
            with open(f"/proc/{entry}/environ", "rb") as handle:
                if wanted not in b"\0" + handle.read() + b"\0":
                    continue
            os.kill(int(entry), signal.SIGKILL)
        except OSError:
            pass


def _run_wineboot(prefix, log):
    """Makes the prefix; False when the wineserver crashed meanwhile, which
    happens now and then under qemu and leaves wineboot waiting for good."""
    env = wine_env(prefix)
    with open(log, "wb") as out:
        proc = subprocess.Popen(["wineboot", "-i"], env=env, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=out)
        deadline = time.monotonic() + PREFIX_TIMEOUT
        while proc.poll() is None:
            with open(log, "rb") as seen:
                crashed = WINESERVER_CRASHED in seen.read()
            if crashed or time.monotonic() > deadline:
                _stop_process(proc)
                _end_prefix_processes(prefix)
                if crashed:
                    return False
                raise HarnessError(f"wineboot did not finish in {PREFIX_TIMEOUT} s; see {log}")
            time.sleep(1)
    # Some services of a new prefix crash under qemu and linger; they have
    # done their part once wineboot has returned.
    if not _wait_wineserver(prefix, 30):
        kill_wineserver(prefix)
    if proc.returncode != 0 or not os.path.isfile(os.path.join(prefix, "system.reg")):
        raise HarnessError(f"wineboot failed ({proc.returncode}); see {log}")
    return True


def _create_prefix_locked(prefix):
    if os.path.exists(os.path.join(prefix, READY_STAMP)):
        return False
    log = os.path.join(os.path.dirname(prefix), "prefix-create.log")
    for attempt in range(1, PREFIX_ATTEMPTS + 1):
        if os.path.exists(prefix):
            # Left half-made by an interrupted run or a crashed server.
            _end_prefix_processes(prefix)
            shutil.rmtree(prefix)
        os.makedirs(os.path.dirname(prefix), exist_ok=True)
        if _run_wineboot(prefix, log):
            break
        if attempt == PREFIX_ATTEMPTS:
            raise HarnessError(f"the wineserver crashed in each of {attempt} attempts to "
                               f"make the prefix; see {log}")
    with open(os.path.join(prefix, READY_STAMP), "w") as stamp:
        stamp.write("ready\n")
    return True


def ensure_prefix(prefix=None):
    """Creates the shared prefix if it is missing; True if it was created."""
    prefix = prefix or prefix_dir()
    with file_lock(prefix + ".lock"):
        return _create_prefix_locked(prefix)


# ---------------------------------------------------------------------------
# The display


class Display:
    """An Xvfb server on a display number nobody else uses."""

    def __init__(self, log_dir):
        self.log_dir = log_dir
        self.proc = None
        self.name = None

    @staticmethod
    def _taken(number):
        return (os.path.exists(f"/tmp/.X11-unix/X{number}")
                or os.path.exists(f"/tmp/.X{number}-lock"))

    def start(self):
        os.makedirs(self.log_dir, exist_ok=True)
        start = 100 + os.getpid() % 400
        for number in list(range(start, 600)) + list(range(100, start)):
            if self._taken(number):
                continue
            log = open(os.path.join(self.log_dir, "xvfb.log"), "ab")
            proc = subprocess.Popen(
                ["Xvfb", f":{number}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                stdin=subprocess.DEVNULL, stdout=log, stderr=log)
            log.close()
            deadline = time.monotonic() + 30
            while proc.poll() is None and time.monotonic() < deadline:
                if os.path.exists(f"/tmp/.X11-unix/X{number}"):
                    self.proc, self.name = proc, f":{number}"
                    return self.name
                time.sleep(0.2)
            _stop_process(proc)  # lost a race for the number, or hung
        raise HarnessError("no free X display could be started")

    def stop(self):
        if self.proc is not None:
            _stop_process(self.proc)
            self.proc = None


# ---------------------------------------------------------------------------
# Running Windows programs


class Result:
    def __init__(self, exit_code, elapsed, stdout_path, stderr_path):
        self.exit_code = exit_code
        self.elapsed = elapsed
        self.stdout_path = stdout_path
        self.stderr_path = stderr_path

    @property
    def stdout(self):
        return _read_text(self.stdout_path)

    @property
    def stderr(self):
        return _read_text(self.stderr_path)

    def message_boxes(self, thread=None):
        return message_box_texts(self.stderr, thread)

    def calls(self, function, thread=None):
        return relayed_calls(self.stderr, function, thread)

    def started_processes(self):
        return started_processes(self.stderr)


def _read_text(path):
    with open(path, "rb") as handle:
        return handle.read().decode("utf-8", "replace")


_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"', "a": "\a",
            "b": "\b", "f": "\f", "v": "\v", "0": "\0"}


def decode_debugstr(quoted):
    """Decodes Wine's L"..." debug form of a wide string."""
    if quoted.startswith("L"):
        quoted = quoted[1:]
    body = quoted[1:-1]
    out, i = [], 0
    while i < len(body):
        c = body[i]
        if c != "\\":
            out.append(c)
            i += 1
            continue
        nxt = body[i + 1:i + 2]
        if nxt == "x":  # \xHHHH
            out.append(chr(int(body[i + 2:i + 6], 16)))
            i += 6
        elif re.match(r"[0-7]", nxt) and re.match(r"[0-7]{3}", body[i + 1:i + 4]):
            out.append(chr(int(body[i + 1:i + 4], 8)))
            i += 4
        else:
            out.append(_ESCAPES.get(nxt, nxt))
            i += 2
    return "".join(out)


# Wine's trace lines start with the id of the thread that wrote them; a
# line may lack its line feed when other output cuts in.
_WIDE = r'L"(?:[^"\\\n]|\\.)*"'
_MSGBOX_RE = re.compile(r"([0-9a-f]{4}):trace:msgbox:MSGBOX_OnInit (" + _WIDE + ")")
_CREATE_RE = re.compile(r"([0-9a-f]{4}):trace:process:CreateProcessInternalW app "
                        + _WIDE + r" cmdline (" + _WIDE + ")")
_STARTED_RE = re.compile(r"([0-9a-f]{4}):trace:process:CreateProcessInternalW "
                         r"started process pid [0-9a-f]+ tid ([0-9a-f]+)")


def message_box_texts(stderr_text, thread=None):
    """Texts of the boxes shown (debug '+msgbox'), of one thread if given."""
    return [decode_debugstr(m.group(2)) for m in _MSGBOX_RE.finditer(stderr_text)
            if thread is None or m.group(1) == thread]


def relayed_calls(stderr_text, function, thread=None):
    """Arguments of each relayed call of function, e.g. 'KERNEL32.Sleep'
    (debug '+relay', see Session.relay_only), of one thread if given."""
    pattern = re.compile(r"([0-9a-f]{4}):Call " + re.escape(function) + r"\((.*?)\) ret=")
    return [m.group(2) for m in pattern.finditer(stderr_text)
            if thread is None or m.group(1) == thread]


def started_processes(stderr_text):
    """(command line, main thread id) of each process that a traced program
    started (debug '+process'), in order."""
    events = sorted([(m.start(), "create", m.group(1), m.group(2))
                     for m in _CREATE_RE.finditer(stderr_text)]
                    + [(m.start(), "started", m.group(1), m.group(2))
                       for m in _STARTED_RE.finditer(stderr_text)])
    pending, started = {}, []
    for _, kind, thread, value in events:
        if kind == "create":
            pending[thread] = decode_debugstr(value)
        elif thread in pending:
            started.append((pending.pop(thread), value))
    return started


class Running:
    """A Windows program started in the background."""

    def __init__(self, proc, started, stdout_path, stderr_path):
        self.proc = proc
        self.started = started
        self.stdout_path = stdout_path
        self.stderr_path = stderr_path

    def wait(self, timeout=RUN_TIMEOUT):
        try:
            self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError(f"program still running after {timeout} s")
        return Result(self.proc.returncode, time.monotonic() - self.started,
                      self.stdout_path, self.stderr_path)

    def running(self):
        return self.proc.poll() is None

    def stop(self):
        _stop_process(self.proc)


_REG_VALUE_RE = re.compile(r"^    (.*?)    (REG_[A-Z_]+)(?:    (.*))?$")


def parse_reg_query(text):
    """Parses `reg query` output into ({name: (type, data)}, [subkeys])."""
    values, subkeys = {}, []
    for line in text.splitlines():
        line = line.rstrip("\r")
        match = _REG_VALUE_RE.match(line)
        if match:
            values[match.group(1)] = (match.group(2), match.group(3) or "")
        elif line.startswith("HKEY_") and "\\" in line:
            subkeys.append(line)
    if subkeys:
        subkeys = subkeys[1:]  # the first is the key asked about
    return values, subkeys


class Keys(dict):
    """Registry paths compare without regard to case, as the registry's do."""

    def __init__(self, items=()):
        super().__init__()
        for key, value in dict(items).items():
            self[key] = value

    def __setitem__(self, key, value):
        super().__setitem__(key.lower(), value)

    def __getitem__(self, key):
        return super().__getitem__(key.lower())

    def __contains__(self, key):
        return super().__contains__(key.lower())

    def __delitem__(self, key):
        super().__delitem__(key.lower())

    def get(self, key, default=None):
        return super().get(key.lower(), default)


def parse_reg_export(text):
    """A `reg export` file as Keys {key: {value name: (type, data)}}, with
    the roots shortened to HKCU and HKLM; the default value is named ''."""
    roots = {"HKEY_CURRENT_USER": "HKCU", "HKEY_LOCAL_MACHINE": "HKLM"}
    lines, pending = [], ""
    for line in text.splitlines():
        if line.endswith("\\") and not line.rstrip().endswith('"'):
            pending += line[:-1].strip()
            continue
        lines.append(pending + line.strip() if pending else line)
        pending = ""
    tree, values = Keys(), None
    for line in lines:
        if line.startswith("[") and line.endswith("]"):
            root, _, rest = line[1:-1].partition("\\")
            values = {}
            tree[roots.get(root, root) + "\\" + rest] = values
        elif values is not None and line.startswith(('"', "@")):
            if line.startswith("@"):
                name, raw = "", line[2:]
            else:
                end = 1
                while line[end] != '"':
                    end += 2 if line[end] == "\\" else 1
                name = line[1:end].replace('\\"', '"').replace("\\\\", "\\")
                raw = line[end + 2:]
            if raw.startswith('"'):
                data = raw[1:-1].replace('\\"', '"').replace("\\\\", "\\")
                values[name] = ("REG_SZ", data)
            elif raw.startswith("dword:"):
                values[name] = ("REG_DWORD", int(raw[6:], 16))
            else:
                kind, _, hexdata = raw.partition(":")
                data = bytes(int(b, 16) for b in hexdata.split(",") if b)
                values[name] = ({"hex": "REG_BINARY"}.get(kind, kind), data)
    return tree


class Session:
    """A prefix, held locked, with a display and a running wineserver."""

    def __init__(self, name):
        self.name = name
        self.prefix = prefix_dir()
        self.artefacts = os.path.join(artefacts_dir(), name)
        self.display = Display(self.artefacts)
        self._lock = None
        self._started = []
        self._run_count = 0

    # -- life cycle

    def open(self):
        lock = file_lock(self.prefix + ".lock")
        lock.__enter__()
        self._lock = lock
        try:
            # This run's output and screenshots only.
            shutil.rmtree(self.artefacts, ignore_errors=True)
            os.makedirs(self.artefacts)
            _create_prefix_locked(self.prefix)
            kill_wineserver(self.prefix)  # left by a run that was cut short
            self.display.start()
            # Keep the server up between programs, and pay for the first
            # start (services, desktop shell) here rather than in a case.
            _run_tool(["wineserver", "-p"], env=self.env(), timeout=60, capture=False)
            warm = self.start(["cmd", "/c", "exit"], label="warm-up")
            warm.wait(FIRST_START_TIMEOUT)
        except BaseException:
            self.close()
            raise
        return self

    def close(self):
        for running in self._started:
            running.stop()
        self._started = []
        kill_wineserver(self.prefix)
        self.display.stop()
        if self._lock is not None:
            lock, self._lock = self._lock, None
            lock.__exit__(None, None, None)

    def env(self, debug="-all"):
        return wine_env(self.prefix, self.display.name, debug)

    # -- programs

    def _output_paths(self, label):
        self._run_count += 1
        stem = re.sub(r"[^A-Za-z0-9_.-]+", "_", label)[:60]
        base = os.path.join(self.artefacts, "runs", f"{self._run_count:03d}-{stem}")
        os.makedirs(os.path.dirname(base), exist_ok=True)
        return base + ".out", base + ".err"

    def start(self, command, debug="-all", label=None, cwd=None):
        """Starts `wine command...`; command[0] is a Unix path or C:\\ path."""
        stdout_path, stderr_path = self._output_paths(label or " ".join(command))
        with open(stdout_path, "wb") as out, open(stderr_path, "wb") as err:
            proc = subprocess.Popen(["wine"] + list(command), env=self.env(debug),
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                    cwd=cwd)
        running = Running(proc, time.monotonic(), stdout_path, stderr_path)
        self._started.append(running)
        return running

    def run(self, command, timeout=RUN_TIMEOUT, debug="-all", label=None):
        running = self.start(command, debug=debug, label=label)
        try:
            return running.wait(timeout)
        finally:
            running.stop()

    def stop_started(self):
        """Stops whatever a case left running (a box nobody answered)."""
        for running in self._started:
            running.stop()
        self._started = []

    # -- windows

    def _xdotool(self, *args, timeout=TOOL_TIMEOUT):
        return _run_tool(["xdotool"] + list(args), env=self.env(), timeout=timeout)

    def find_windows(self, caption):
        code, out = self._xdotool("search", "--name", "^" + re.escape(caption) + "$")
        return out.split() if code == 0 else []

    def wait_for_window(self, caption, timeout=WINDOW_TIMEOUT, running=None):
        """Id of the first window so captioned; None if none comes in time
        (or the program, if given, has ended meanwhile)."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            ids = self.find_windows(caption)
            if ids:
                return ids[0]
            if running is not None and not running.running():
                return None
            time.sleep(0.3)
        return None

    def start_for_window(self, command, caption, debug="-all", label=None,
                         timeout=WINDOW_TIMEOUT, attempts=3):
        """Starts a program that may show a window so captioned and waits for
        it: (running program, window id or None once the program has ended
        without one). Under qemu Wine's desktop process sometimes dies as it
        starts, and the program then cannot show any window at all: that
        start is retried, a bounded number of times."""
        debug += ",err+winediag"  # where that failure shows
        for _ in range(attempts):
            running = self.start(command, debug=debug, label=label)
            window = self.wait_for_window(caption, timeout, running=running)
            if window is not None or running.running():
                return running, window
            if DESKTOP_FAILED not in _read_text(running.stderr_path):
                return running, None
        raise HarnessError(f"Wine's desktop failed to start {attempts} times")

    def window_caption(self, window):
        code, out = self._xdotool("getwindowname", window)
        return out.rstrip("\n") if code == 0 else None

    def press_key(self, window, key):
        """Answers a box: 'y' Yes, 'n' No, 'Return' its default button."""
        self._xdotool("key", "--window", window, key)

    def visible_windows(self):
        """(id, caption) of each visible top-level window."""
        code, out = self._xdotool("search", "--onlyvisible", "--maxdepth", "1",
                                  "--name", "")
        if code != 0:
            return []
        return [(wid, self.window_caption(wid)) for wid in out.split()]

    def screenshot(self, name):
        """Saves the whole screen as a PNG under the artefacts; returns its path."""
        path = os.path.join(self.artefacts, "screenshots",
                            re.sub(r"[^A-Za-z0-9_.-]+", "_", name) + ".png")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        env = self.env()
        xwd = subprocess.Popen(["xwd", "-root", "-silent", "-display", self.display.name],
                               env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            _run_tool(["convert", "xwd:-", path], env=env, stdin=xwd.stdout, check=True)
        finally:
            xwd.stdout.close()
            _stop_process(xwd, grace=5)
        return path

    def window_visible(self, window):
        code, out = self._xdotool("search", "--onlyvisible", "--maxdepth", "1",
                                  "--name", "")
        return code == 0 and window in out.split()

    def screenshot_drawn(self, name, window=None, timeout=30):
        """A screenshot once the window (if given) is mapped and the screen
        is no longer blank: under qemu a box is found some time before it
        is drawn. Returns its path, or None if nothing was drawn in time
        (the last, blank, shot is kept all the same)."""
        deadline = time.monotonic() + timeout
        while window is not None and not self.window_visible(window):
            if time.monotonic() > deadline:
                break
            time.sleep(0.3)
        while True:
            path = self.screenshot(name)
            code, out = _run_tool(["convert", path, "-format", "%[fx:standard_deviation]",
                                   "info:"], env=self.env())
            with contextlib.suppress(ValueError):
                if code == 0 and float(out) > 0:
                    # Mapped with its background first; the text follows.
                    time.sleep(2)
                    return self.screenshot(name)
            if time.monotonic() > deadline:
                return None
            time.sleep(1)

    # -- registry (through Wine's own reg.exe)

    def reg(self, *args):
        result = self.run(["reg"] + list(args), label="reg " + " ".join(args[:2]))
        return result.exit_code, result.stdout

    def reg_query(self, key, name=None):
        """({name: (type, data)}, [subkeys]) of key, or None if it is absent.
        The default value is named '(Default)'."""
        args = ["query", key] + (["/v", name] if name is not None else [])
        code, out = self.reg(*args)
        if code != 0:
            return None
        return parse_reg_query(out)

    def reg_value(self, key, name):
        """(type, data) of one value, or None."""
        found = self.reg_query(key, name)
        return None if found is None else found[0].get(name)

    def reg_add(self, key, name=None, data=None, kind="REG_SZ"):
        args = ["add", key]
        if name is not None:
            args += ["/v", name, "/t", kind, "/d", data if data is not None else ""]
        code, _ = self.reg(*args, "/f")
        if code != 0:
            raise HarnessError(f"reg add {key} {name} failed ({code})")

    def reg_delete(self, key, name=None):
        """Deletes a value, or the whole key; absent ones are no error."""
        args = ["delete", key] + (["/v", name] if name is not None else [])
        return self.reg(*args, "/f")[0] == 0

    def reg_export(self, key):
        """Keys {key: {name: (type, data)}} of key and its subkeys, from
        `reg export` (exact types and data); empty when key is absent."""
        target = TOOLS_DIR + r"\export.reg"
        path = self.unix_path(target)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if os.path.exists(path):
            os.remove(path)
        code, _ = self.reg("export", key, target, "/y")
        if code != 0 or not os.path.exists(path):
            return Keys()
        with open(path, "rb") as handle:
            text = handle.read().decode("utf-16")
        os.remove(path)
        return parse_reg_export(text)

    def uninstaller_list(self):
        """Add/Remove Programs as `wine uninstaller --list` prints it:
        one line per entry, KEYNAME|||DisplayName."""
        return self.run(["uninstaller", "--list"], label="uninstaller --list").stdout

    def set_windows_version(self, version="win95", program="uninstall.exe"):
        self.reg_add(rf"HKCU\Software\Wine\AppDefaults\{program}", "Version", version)

    def clear_windows_version(self, program="uninstall.exe"):
        self.reg_delete(rf"HKCU\Software\Wine\AppDefaults\{program}")

    @contextlib.contextmanager
    def relay_only(self, functions):
        """Limits Wine's +relay trace to the given functions, e.g.
        ['KERNEL32.Sleep', 'user32.MessageBoxA'], while the block runs."""
        key = r"HKCU\Software\Wine\Debug"
        self.reg_add(key, "RelayInclude", ";".join(functions))
        try:
            yield
        finally:
            self.reg_delete(key, "RelayInclude")

    # -- files of the prefix

    def unix_path(self, windows_path):
        """The prefix's own file for C:\\..., matching names without regard to case."""
        match = re.match(r"^([A-Za-z]):[\\/]*(.*)$", windows_path)
        if not match or match.group(1).lower() != "c":
            raise HarnessError(f"not a C: path: {windows_path}")
        path = os.path.join(self.prefix, "drive_c")
        for part in [p for p in re.split(r"[\\/]+", match.group(2)) if p]:
            exact = os.path.join(path, part)
            if not os.path.exists(exact) and os.path.isdir(path):
                for entry in os.listdir(path):
                    if entry.lower() == part.lower():
                        exact = os.path.join(path, entry)
                        break
            path = exact
        return path

    def read_file(self, windows_path):
        with open(self.unix_path(windows_path), "rb") as handle:
            return handle.read()

    def write_file(self, windows_path, data):
        path = self.unix_path(windows_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as handle:
            handle.write(data)
        return path

    def run_line(self, line, timeout=RUN_TIMEOUT, label=None, encoding="ascii"):
        """Runs a command line exactly as written, quotes and blanks included,
        through a batch file for Wine's command processor (wine's own
        argument handling would requote it). The result's exit code is the
        last program's."""
        script = TOOLS_DIR + r"\line.bat"
        self.write_file(script, line.encode(encoding) + b"\r\n")
        return self.run(["cmd", "/c", script], timeout=timeout, label=label or line)

    def write_sample_product(self, product_dir, list_bytes=None):
        """The sample product's files (SAMPLE_FILES, one byte each) under a
        program directory of the prefix, and its list file unless
        list_bytes is None."""
        for relative in SAMPLE_FILES:
            target = self.unix_path(product_dir + "\\" + relative)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as handle:
                handle.write(b"x")
        if list_bytes is not None:
            with open(self.unix_path(product_dir + r"\Uninstall.lst"), "wb") as handle:
                handle.write(list_bytes)

    def install(self, windows_path, source=None):
        """Copies a program (uninstall.exe by default) to C:\\... in the prefix."""
        target = self.unix_path(windows_path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source or uninstaller_path(), target)
        return target

    def remove_tree(self, windows_path):
        shutil.rmtree(self.unix_path(windows_path), ignore_errors=True)


# ---------------------------------------------------------------------------
# Test cases

_session = None


def session():
    """The session of this process, opened on first use."""
    global _session
    if _session is None:
        name = os.path.splitext(os.path.basename(sys.argv[0]))[0] or "wine"
        _session = Session(name).open()
    return _session


def close_session():
    global _session
    if _session is not None:
        current, _session = _session, None
        current.close()


class WineTestCase(unittest.TestCase):
    """Gives each case the process's Wine session; when a case fails, saves a
    screenshot first, then stops whatever the case left running."""

    @classmethod
    def setUpClass(cls):
        cls.wine = session()

    def setUp(self):
        self.addCleanup(self.wine.stop_started)

    def _case_failed(self):
        outcome = getattr(self, "_outcome", None)
        return outcome is not None and not getattr(outcome, "success", True)

    def save_screenshot(self, suffix=""):
        name = self.id().split(".", 1)[-1] + suffix
        with contextlib.suppress(Exception):
            path = self.wine.screenshot(name)
            print(f"\nscreenshot: {path}", file=sys.stderr)

    @contextlib.contextmanager
    def subTest(self, *args, **params):
        # The screen as it was when the case failed, not after the others.
        with super().subTest(*args, **params):
            try:
                yield
            except Exception:
                self._shot_taken = True
                self.save_screenshot("-" + "-".join(f"{k}={v}" for k, v in params.items()))
                raise

    def tearDown(self):
        if self._case_failed() and not getattr(self, "_shot_taken", False):
            self.save_screenshot()


def main():
    """Runs the test file's cases, one result line each; exit code 1 if any fails."""
    try:
        program = unittest.main(module="__main__", verbosity=2, exit=False)
        ok = program.result.wasSuccessful()
    finally:
        close_session()
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    # `harness.py create-prefix`: the CTest fixture that makes the prefix once.
    if sys.argv[1:] == ["create-prefix"]:
        created = ensure_prefix()
        print(("created " if created else "reusing ") + prefix_dir())
    else:
        sys.exit("usage: harness.py create-prefix")
