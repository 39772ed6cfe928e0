"""The Wine side of the end-to-end tests: an X display, a Windows 95 mode
prefix made once and copied for each scenario, an emulated machine loaded into
such a prefix, a program run with its message boxes answered by keystrokes,
and the prefix read back as an emulated machine's registry and files."""
import os
import shutil
import subprocess
import time
from pathlib import Path

# Windows 95's desktop colour behind the screenshots.
DESKTOP = "#008080"
SCREEN = "1024x768x24"
# Parts of the prefix that are Wine's own and large: linked, never copied.
LINKED_DIRS = {"drive_c/windows/system32", "drive_c/windows/syswow64",
               "drive_c/windows/winsxs"}
KEYS = {"IDYES": "y", "IDNO": "n", "IDOK": "Return", "IDCANCEL": "Escape",
        "IDABORT": "a", "IDRETRY": "r", "IDIGNORE": "i"}


X11_KEY = r"HKCU\Software\Wine\X11 Driver"


class WineError(RuntimeError):
    pass


def run(command, **kwargs):
    kwargs.setdefault("check", True)
    kwargs.setdefault("stdin", subprocess.DEVNULL)
    kwargs.setdefault("capture_output", True)
    kwargs.setdefault("text", True)
    kwargs.setdefault("timeout", 120)
    return subprocess.run(command, **kwargs)


class Display:
    """An Xvfb server with Windows 95's desktop colour."""

    def __init__(self):
        read, write = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", SCREEN,
             "-nolisten", "tcp", "-noreset"], pass_fds=(write,),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as pipe:
            number = pipe.readline().strip()
        if not number:
            self.server.kill()
            raise WineError("Xvfb did not start")
        self.name = ":" + number
        run(["xsetroot", "-solid", DESKTOP], env=self.env(os.environ))
        # The pointer in a corner, off every window.
        run(["xdotool", "mousemove", "0", "0"], env=self.env(os.environ))

    def env(self, base):
        return dict(base, DISPLAY=self.name)

    def close(self):
        self.server.terminate()
        try:
            self.server.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.server.kill()


class Prefix:
    """A Wine prefix; `wine` picks the 64-bit loader when no 32-bit one is
    installed, and runs both kinds of .exe where both are."""

    def __init__(self, path: Path, display: Display):
        self.path = path
        self.display = display

    def env(self):
        env = {k: v for k, v in os.environ.items()
               if not k.startswith("WINE")}
        env.update(WINEPREFIX=str(self.path), WINEDEBUG="-all", TZ="UTC",
                   # no downloads of the .NET and HTML engines, no menus
                   WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        return self.display.env(env)

    def wine(self, *args, cwd=None, timeout=120, check=True, output=None):
        """Runs a Wine command. Its output goes to a file, never to a pipe:
        the prefix's service processes inherit it and would hold a pipe open
        until the wineserver ends."""
        output = output or self.path.parent / "wine.log"
        with open(output, "ab") as out:
            return run(["wine", *map(str, args)], env=self.env(), cwd=cwd,
                       timeout=timeout, check=check, stdout=out, stderr=out,
                       capture_output=False, text=False)

    def wait_server(self):
        """Waits until the prefix's wineserver has ended, which writes its
        registry to disk."""
        run(["wineserver", "-w"], env=self.env(), timeout=60)

    def kill_server(self):
        run(["wineserver", "-k"], env=self.env(), timeout=60, check=False)
        self.wait_server()

    @property
    def drive_c(self) -> Path:
        return self.path / "drive_c"


def make_template(path: Path, display: Display, probe: Path) -> dict:
    """A fresh prefix in Windows 95 mode with its temporary directory at
    C:\\windows\\temp, as the emulated machine has it. Returns what the probe
    program reports there: version, directories."""
    prefix = Prefix(path, display)
    prefix.wine("wineboot", "-i", timeout=300)
    settings = [
        (r"HKCU\Software\Wine", "Version", "win95"),
        (r"HKCU\Environment", "TEMP", r"C:\windows\temp"),
        (r"HKCU\Environment", "TMP", r"C:\windows\temp"),
        # Wine draws the window frames itself, as Windows 95 does, since
        # there is no window manager on the display, and does not wait for
        # one when a window goes.
        (X11_KEY, "Decorated", "N"),
        (X11_KEY, "Managed", "N"),
    ]
    for key, name, value in settings:
        prefix.wine("reg", "add", key, "/v", name, "/d", value, "/f")
    prefix.wait_server()
    (path / "drive_c/windows/temp").mkdir(exist_ok=True)
    output = path.parent / "probe.txt"
    prefix.wine(probe, cwd=path / "drive_c", output=output)
    report = next((line for line in output.read_text().splitlines()
                   if line.count("|") == 4), "")
    prefix.wait_server()
    fields = dict(zip(["version", "windows", "system", "temp", "cwd"],
                      report.split("|")))
    if len(fields) != 5:
        raise WineError(f"probe gave {report!r}")
    return fields


def copy_prefix(template: Path, target: Path):
    """A copy of the template whose large system folders are hard links."""
    for root, dirs, files in os.walk(template):
        rel = Path(root).relative_to(template)
        (target / rel).mkdir(parents=True, exist_ok=True)
        linked = any(rel.as_posix() == d or rel.as_posix().startswith(d + "/")
                     for d in LINKED_DIRS)
        for name in files:
            source = Path(root) / name
            if source.is_symlink():
                os.symlink(os.readlink(source), target / rel / name)
            elif linked:
                os.link(source, target / rel / name)
            else:
                shutil.copy2(source, target / rel / name)
        for name in list(dirs):
            if (Path(root) / name).is_symlink():
                os.symlink(os.readlink(Path(root) / name), target / rel / name)
                dirs.remove(name)


def resolve(base: Path, parts) -> Path:
    """base/parts with each part matched without regard to case against what
    exists, as Windows resolves names."""
    here = base
    for part in parts:
        match = None
        if here.is_dir():
            for entry in here.iterdir():
                if entry.name.lower() == part.lower():
                    match = entry
                    break
        here = match if match is not None else here / part
    return here


class PathMap:
    """Between the emulated machine's C: names and the prefix's files: the
    machine's system directory is the prefix's (C:\\windows\\system32 under
    Wine whatever the Windows version)."""

    def __init__(self, machine_system: str, wine_system: str):
        self.machine = self.parts(machine_system)
        self.wine = self.parts(wine_system)

    @staticmethod
    def parts(path: str):
        return [p for p in path[3:].split("\\") if p]

    @staticmethod
    def starts(parts, prefix):
        return [p.lower() for p in parts[:len(prefix)]] == \
            [p.lower() for p in prefix]

    def to_wine(self, parts):
        if self.starts(parts, self.machine):
            return self.wine + list(parts[len(self.machine):])
        return list(parts)

    def to_machine(self, parts):
        if self.starts(parts, self.wine):
            return self.machine + list(parts[len(self.wine):])
        return list(parts)


def load_machine(prefix: Prefix, machine: Path, paths: PathMap):
    """Puts the machine's registry and drive C: into the prefix and links
    each other drive folder as its drive letter. Returns the upper-cased C:
    names of the files placed."""
    prefix.wine("regedit", "/S", machine / "registry.reg")
    placed = set()
    for root, dirs, files in os.walk(machine / "drive_c"):
        rel = Path(root).relative_to(machine / "drive_c").parts
        target_dir = resolve(prefix.drive_c, paths.to_wine(rel))
        target_dir.mkdir(parents=True, exist_ok=True)
        for name in files:
            target = resolve(target_dir, [name])
            if target.exists():
                target.unlink()  # may be a link into the template
            shutil.copy2(Path(root) / name, target)
            placed.add("\\".join(["C:", *rel, name]).upper())
    for folder in sorted(machine.glob("drive_?")):
        letter = folder.name[-1].lower()
        if letter == "c":
            continue
        link = prefix.path / "dosdevices" / f"{letter}:"
        if link.is_symlink() or link.exists():
            link.unlink()
        os.symlink(folder.resolve(), link)
    return placed


class Screens:
    """Screenshots of the display, cropped to the program's windows."""

    def __init__(self, display: Display, folder: Path | None):
        self.display = display
        self.folder = folder
        self.taken = []

    def take(self, name: str, windows):
        if self.folder is None:
            return
        boxes = [geometry(self.display, w) for w in windows]
        boxes = [b for b in boxes if b]
        if not boxes:
            return
        margin = 12
        left = max(0, min(b[0] for b in boxes) - margin)
        top = max(0, min(b[1] for b in boxes) - margin)
        right = max(b[0] + b[2] for b in boxes) + margin
        bottom = max(b[1] + b[3] for b in boxes) + margin
        self.folder.mkdir(parents=True, exist_ok=True)
        target = self.folder / f"{name}.png"
        run(["import", "-window", "root", "-crop",
             f"{right - left}x{bottom - top}+{left}+{top}", "+repage",
             str(target)], env=self.display.env(os.environ))
        self.taken.append(target)


def xdotool(display: Display, *args, check=False):
    return run(["xdotool", *args], env=display.env(os.environ), check=check,
               timeout=10)


def visible_windows(display: Display) -> list[tuple[str, str]]:
    """(id, title) of every mapped window with a title, oldest first."""
    found = xdotool(display, "search", "--onlyvisible", "--name", ".")
    windows = []
    for wid in found.stdout.split():
        title = xdotool(display, "getwindowname", wid).stdout.rstrip("\n")
        if title and title != "Default IME":
            windows.append((wid, title))
    return windows


def geometry(display: Display, wid: str):
    out = xdotool(display, "getwindowgeometry", "--shell", wid).stdout
    values = dict(line.split("=", 1) for line in out.split() if "=" in line)
    try:
        return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
    except KeyError:
        return None


def answer(display: Display, wid: str, key: str):
    xdotool(display, "windowfocus", "--sync", wid)
    time.sleep(0.2)
    xdotool(display, "key", "--clearmodifiers", key)


class RunResult:
    def __init__(self):
        self.boxes = []        # captions answered, in order, with the answer
        self.windows = []      # titles of other windows seen
        self.unexpected = []   # boxes nobody expected, closed with Escape
        self.exit_code = None
        self.timed_out = False
        self.seconds = 0.0
        self.trace = []        # (seconds, window id, title) as first seen


def run_program(prefix: Prefix, exe: Path, args, cwd: Path, boxes,
                shots: Screens, shot_names: dict, timeout: float = 60,
                settle: float = 0.4) -> RunResult:
    """Runs exe in the prefix. boxes: [(caption, answer name)] in the order
    the boxes are to come; each is answered with its key when a window of
    that title appears. shot_names: {('box', n) or ('dialog', n): name}
    says which moments become screenshots: the n-th box as it is answered,
    the n-th of the program's dialogs (titles in shot_names['dialogs']) as
    it stands. A window that is neither an expected box nor one of the
    program's dialogs and stays is closed with Escape and reported."""
    result = RunResult()
    display = prefix.display
    started = time.monotonic()
    # Wine's own errors go to the prefix's log, for a run that went wrong.
    env = dict(prefix.env(), WINEDEBUG="-all,err+all")
    log = open(prefix.path.parent / "wine.log", "ab")
    process = subprocess.Popen(
        ["wine", str(exe), *args], cwd=cwd, env=env,
        stdin=subprocess.DEVNULL, stdout=log, stderr=log,
        start_new_session=True)
    log.close()
    handled = set()
    first_seen = {}
    pending = list(boxes)
    try:
        while process.poll() is None:
            if time.monotonic() - started > timeout:
                result.timed_out = True
                os.killpg(process.pid, 9)
                break
            windows = visible_windows(display)
            now = time.monotonic()
            for wid, title in windows:
                if wid not in first_seen:
                    result.trace.append((now - started, wid, title))
                first_seen.setdefault(wid, now)
                if wid in handled or now - first_seen[wid] < settle:
                    continue
                if pending and title == pending[0][0]:
                    caption, reply = pending.pop(0)
                    number = len(result.boxes)
                    xdotool(display, "windowfocus", "--sync", wid)
                    time.sleep(0.2)
                    name = shot_names.get(("box", number))
                    if name:
                        shots.take(name, [w for w, _ in windows])
                    xdotool(display, "key", "--clearmodifiers", KEYS[reply])
                    result.boxes.append((caption, reply))
                    handled.add(wid)
                elif title in shot_names.get("dialogs", ()):
                    name = shot_names.get(("dialog", len(result.windows)))
                    # A dialog's controls are painted when its messages are
                    # handled, which the programs leave to chance: a second
                    # gives Wine the time to.
                    if name and now - first_seen[wid] < 1.0:
                        continue
                    if name:
                        shots.take(name, [wid])
                    result.windows.append(title)
                    handled.add(wid)
                elif now - first_seen[wid] > 3:
                    result.unexpected.append(title)
                    shots.take(f"unexpected-{len(result.unexpected)}",
                               [wid])
                    answer(display, wid, "Escape")
                    handled.add(wid)
            time.sleep(0.1)
        result.exit_code = process.wait(timeout=30)
    finally:
        if process.poll() is None:
            os.killpg(process.pid, 9)
            process.wait()
    result.seconds = time.monotonic() - started
    return result


def export_keys(prefix: Prefix, keys, folder: Path) -> list[bytes]:
    """The keys as one registry text, each exported by regedit (a key that
    does not exist gives nothing)."""
    texts = []
    for n, key in enumerate(keys):
        target = folder / f"export{n}.reg"
        prefix.wine("regedit", "/E", target, key, check=False)
        if target.exists():
            texts.append(target.read_bytes())
    return texts


def collect_files(prefix: Prefix, template: Path, paths: PathMap,
                  placed: set, ignored) -> dict:
    """{C: path upper-cased: bytes, or None for a folder} of everything on
    the prefix's C: that is not the template's own, under the machine's
    names. placed: the upper-cased names that load_machine put there.
    ignored: upper-cased C: paths under which Wine keeps its own state."""
    found = {}
    drive = prefix.drive_c
    template_c = template / "drive_c"
    for root, dirs, files in os.walk(drive):
        rel = Path(root).relative_to(drive).parts
        name = "\\".join(["C:"] + paths.to_machine(rel)).upper()
        if any((name + "\\").startswith(i) for i in ignored):
            dirs[:] = []
            continue
        if rel and not resolve(template_c, rel).is_dir():
            found[name] = None
        for file in files:
            path = Path(root) / file
            key = f"{name}\\{file.upper()}"
            original = resolve(template_c, [*rel, file])
            if key not in placed and original.is_file() and (
                    os.stat(original).st_ino == os.stat(path).st_ino or
                    original.read_bytes() == path.read_bytes()):
                continue  # the template's own
            found[key] = path.read_bytes()
    return found


def is_template_folder(template: Path, paths: PathMap, parts) -> bool:
    """Whether the machine's folder C:\\parts is one the template has."""
    return resolve(template / "drive_c", paths.to_wine(parts)).is_dir()
