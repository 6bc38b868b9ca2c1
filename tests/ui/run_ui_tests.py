#!/usr/bin/env python3
"""The companion's dialogs as a person sees and answers them.

Starts a virtual display (Xvfb) of its own, runs the C host ui_host (natively, or under
Wine for the Windows build) without scripted answers, and for each dialog: waits for its
window by title, reads the texts the live window shows (Windows: its controls, through
ui_reader.exe; Linux: the accessibility tree, through read_gtk_window.py), saves a
screenshot under build/test-results/screens/<side>/, presses the keys a person would,
and checks the answer the host printed and what the library kept.

    run_ui_tests.py --build <build dir> --side posix|win32

Prints "[ OK ]" or "[FAIL]" and the trace for each case, and exits non-zero when a case
fails (CTest's JUnit output carries it).
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback
from xml.sax.saxutils import escape

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))
APPEAR_LIMIT = 2.0      # seconds from the request to its window on screen
WAIT_LIMIT = 20.0       # the longest any single wait of this test may take


def windows_path(path):
    """A Unix path as a Windows program under Wine sees it (drive Z: is the root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def png_header(width, height):
    """The start of a PNG of that size: signature, header chunk, one row of pixels."""
    import struct
    import zlib

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    row = zlib.compress(b"\0" + b"\xff\0\0" * width)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", row)


class Display:
    """An Xvfb server on the first free display number, stopped by its process id."""

    def __init__(self):
        for number in range(91, 140):
            if not os.path.exists(f"/tmp/.X{number}-lock") and \
               not os.path.exists(f"/tmp/.X11-unix/X{number}"):
                break
        self.name = f":{number}"
        self.process = subprocess.Popen(
            ["Xvfb", self.name, "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + WAIT_LIMIT
        while not os.path.exists(f"/tmp/.X11-unix/X{number}"):
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise RuntimeError("Xvfb did not start")
            time.sleep(0.05)

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()


class Session:
    """The display, the host and what the test needs around them."""

    def __init__(self, build, side, screens):
        self.build, self.side, self.screens = build, side, screens
        self.folder = tempfile.mkdtemp(prefix="kyro-ui-")
        self.display = Display()
        self.env = dict(os.environ)
        self.env.pop("KYRO_VEX_ANSWERS", None)
        self.env["DISPLAY"] = self.display.name
        self.host = None
        self.atspi = None
        if side == "posix":
            # The accessibility bus, through which the live GTK windows are read.
            self.atspi = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                          env=self.env, stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL)
            self.env.pop("NO_AT_BRIDGE", None)
            # GTK's bridge looks for the bus when the companion starts: it must be up.
            deadline = time.monotonic() + WAIT_LIMIT
            while subprocess.run(["dbus-send", "--session", "--dest=org.a11y.Bus",
                                  "--print-reply", "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
                                 env=self.env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL).returncode != 0:
                if time.monotonic() > deadline:
                    raise RuntimeError("the accessibility bus did not start")
                time.sleep(0.1)
        self.write_environment()
        self.make_images()
        if side == "win32":
            self.env["WINEPREFIX"] = os.path.join(build, "wineprefix-ui")
            self.env.setdefault("WINEDEBUG", "-all")
            self.env.setdefault("WINEDLLOVERRIDES", "winedbg.exe=d;mscoree,mshtml=")
            self.wine = os.environ.get("KYRO_WINE", "/usr/lib/wine/wine64")
            self.wineserver = os.environ.get("KYRO_WINESERVER", "/usr/lib/wine/wineserver")
            subprocess.run([self.wineserver, "-p"], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            # Wine's dialog font gets a Japanese fallback, as a Windows install has.
            subprocess.run([self.wine, "reg", "add", r"HKCU\Software\Wine\Fonts\Replacements",
                            "/v", "MS UI Gothic", "/t", "REG_SZ", "/d", "Noto Sans CJK JP", "/f"],
                           env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=300)

    # ---- set-up ------------------------------------------------------------------------

    def path(self, *parts):
        path = os.path.join(*parts)
        return windows_path(path) if self.side == "win32" else path

    def write_environment(self):
        bin_dir = os.path.join(self.build, "bin")
        data = os.path.join(self.build, "data")
        self.user = os.path.join(self.folder, "user")
        os.makedirs(self.user)
        keys = {
            "KYRO_COMMON_BIN_LOCATION": self.path(bin_dir),
            "KYRO_COMMON_LIB_LOCATION": self.path(bin_dir),
            "KYRO_COMMON_LOCALIZED_DATA_LOCATION": self.path(data),
            "KYRO_COMMON_DATA_LOCATION": self.path(self.folder),
            "KYRO_LOG_FILE_LOCATION": self.path(self.folder),
            "KYRO_ERROR_TABLE_LOCATION": self.path(data),
            "KYRO_USER_SETTINGS_FILE_LOCATION": self.path(self.user),
        }
        lines = ['<?xml version="1.0" encoding="UTF-8"?>', "<KYROCUSTOMENV>",
                 '  <PLATFORM OS="Windows">']
        for key, value in keys.items():
            lines.append(f'    <KEY ID="{key}"><STRING>{escape(value)}</STRING></KEY>')
        lines += ["  </PLATFORM>", "</KYROCUSTOMENV>", ""]
        custom = os.path.join(self.folder, "custom.xml")
        with open(custom, "w", encoding="utf-8") as out:
            out.write("\n".join(lines))
        self.env["NORVELDT_KYRO_CUSTOM_ENV"] = self.path(custom)
        self.env["KYRO_VEX_REQUEST_LOG"] = self.path(self.folder, "requests.log")

    def make_images(self):
        self.images = {}
        specs = {
            "branding.png": ["-size", "520x90", "gradient:#1f4e79-#4f9fd9", "-font",
                             "DejaVu-Sans-Bold", "-fill", "white", "-pointsize", "36",
                             "-gravity", "center", "-annotate", "0", "Kyro"],
            "hero.jpg": ["-size", "800x300", "plasma:steelblue-gold", "-blur", "0x2"],
            "hero.bmp": ["-size", "400x150", "xc:seagreen"],
        }
        for name, spec in specs.items():
            target = os.path.join(self.folder, name)
            subprocess.run(["convert"] + spec + [target], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.images[name] = self.path(target)
        # 100 megapixels as its header says: refused before any pixel is decoded.
        huge = os.path.join(self.folder, "huge.png")
        with open(huge, "wb") as out:
            out.write(png_header(10000, 10000))
        self.images["huge.png"] = self.path(huge)
        corrupt = os.path.join(self.folder, "corrupt.png")
        with open(corrupt, "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n" + os.urandom(4096))
        self.images["corrupt.png"] = self.path(corrupt)
        self.images["missing.png"] = self.path(self.folder, "missing.png")

    # ---- the host ----------------------------------------------------------------------

    def start_host(self):
        program = os.path.join(self.build, "bin", "ui_host" +
                               (".exe" if self.side == "win32" else ""))
        command = [self.wine, program] if self.side == "win32" else [program]
        self.host = subprocess.Popen(command, env=self.env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     text=True, encoding="utf-8", bufsize=1)
        assert self.answer("ready", WAIT_LIMIT * 3) == 1, "the host did not start"

    def ask(self, *fields):
        line = "\t".join(str(f).replace("\n", "\\n") for f in fields)
        self.asked_at = time.monotonic()
        self.host.stdin.write(line + "\n")
        self.host.stdin.flush()

    def answer(self, request, limit=WAIT_LIMIT):
        """The host's answer to `request`, waited for at most `limit` seconds."""
        import selectors
        selector = selectors.DefaultSelector()
        selector.register(self.host.stdout, selectors.EVENT_READ)
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            if selector.select(max(0.0, deadline - time.monotonic())):
                line = self.host.stdout.readline()
                if not line:
                    break
                name, _, value = line.strip().partition(" ")
                if name == request:
                    return int(value)
        raise AssertionError(f"no answer to {request} within {limit} s")

    def stop_host(self):
        if self.host is None:
            return
        if self.host.poll() is None:
            try:
                self.host.stdin.write("quit\n")
                self.host.stdin.flush()
                self.host.wait(10)
            except (OSError, subprocess.TimeoutExpired):
                self.host.kill()
                self.host.wait()
        self.host = None

    def kill_host(self):
        self.host.kill()
        self.host.wait()
        if self.side == "win32":
            # The Windows process behind the wine loader.
            subprocess.run(["pkill", "-9", "-f", "ui_host.exe"])
        self.host = None

    # ---- the windows -------------------------------------------------------------------

    def xdotool(self, *arguments):
        return subprocess.run(["xdotool"] + list(arguments), env=self.env,
                              capture_output=True, text=True, timeout=WAIT_LIMIT)

    def find_window(self, title, limit=WAIT_LIMIT):
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            found = self.xdotool("search", "--onlyvisible", "--name", "^" + title + "$")
            ids = found.stdout.split()
            if ids:
                return ids[-1]
            time.sleep(0.03)
        return None

    def appears(self, title):
        """The window's id, once it is up; fails when it took longer than APPEAR_LIMIT."""
        window = self.find_window(title)
        elapsed = time.monotonic() - self.asked_at
        assert window is not None, f"no window {title!r} appeared"
        self.timings.append((title, elapsed))
        assert elapsed <= APPEAR_LIMIT, f"{title!r} took {elapsed:.2f} s to appear"
        time.sleep(0.3)   # let it draw before it is read and shot
        return window

    def gone(self, title, limit=5.0):
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            if not self.xdotool("search", "--onlyvisible", "--name", "^" + title + "$").stdout.split():
                return True
            time.sleep(0.05)
        return False

    def keys(self, window, *keys):
        self.xdotool("windowfocus", "--sync", window)
        for key in keys:
            self.xdotool("key", key)
            time.sleep(0.15)

    def texts(self, title):
        """What the live window shows, one text per entry."""
        if self.side == "win32":
            reader = os.path.join(self.build, "bin", "ui_reader.exe")
            run = subprocess.run([self.wine, reader, title], env=self.env, capture_output=True,
                                 text=True, encoding="utf-8", timeout=WAIT_LIMIT * 3)
            return [line.split("\t", 1)[-1].replace("\\n", "\n")
                    for line in run.stdout.splitlines()]
        # The system's Python, which has the accessibility bindings.
        run = subprocess.run(["/usr/bin/python3", os.path.join(HERE, "read_gtk_window.py"), title],
                             env=self.env, capture_output=True, text=True, timeout=WAIT_LIMIT)
        return run.stdout.splitlines()

    def shoot(self, name):
        os.makedirs(self.screens, exist_ok=True)
        target = os.path.join(self.screens, name + ".png")
        subprocess.run(["import", "-display", self.display.name, "-window", "root", target],
                       env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=WAIT_LIMIT)
        return target

    def geometry(self, window):
        out = self.xdotool("getwindowgeometry", "--shell", window).stdout
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        return int(values.get("WIDTH", 0)), int(values.get("HEIGHT", 0))

    def settings(self):
        path = os.path.join(self.user, "KyroUserSettings.xml")
        return open(path, encoding="utf-8").read() if os.path.exists(path) else ""

    def close(self):
        self.stop_host()
        if self.side == "win32":
            subprocess.run([self.wineserver, "-k"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        if self.atspi is not None:
            self.atspi.terminate()
            self.atspi.wait()
        self.display.stop()
        shutil.rmtree(self.folder, ignore_errors=True)


def shown(texts, wanted):
    joined = "\n".join(texts)
    missing = [w for w in wanted if w not in joined]
    assert not missing, f"not on screen: {missing}; the window shows {texts!r}"


# ---- the cases ---------------------------------------------------------------------------

def error_dialog(s):
    s.ask("locale", "en_US")
    s.answer("locale")
    s.ask("error", "Kyro Test", "The drawing could not be saved", "Disk full.\nFree some space.", 4)
    window = s.appears("Kyro Test")
    shown(s.texts("Kyro Test"), ["The drawing could not be saved", "Details", "OK"])
    s.shoot("error")
    s.keys(window, "Tab", "space")
    time.sleep(0.3)
    shown(s.texts("Kyro Test"), ["Disk full."])
    s.shoot("error-details")
    s.keys(window, "Escape")
    assert s.answer("error") == 1
    assert s.gone("Kyro Test")
    # Without a detail there is nothing to expand; Enter closes it.
    s.ask("error", "Kyro Test", "Only a title", "", 3)
    window = s.appears("Kyro Test")
    assert "Details" not in "\n".join(s.texts("Kyro Test"))
    s.keys(window, "Return")
    assert s.answer("error") == 1


def insufficient_memory(s):
    s.ask("locale", "de_DE")
    s.answer("locale")
    s.ask("memory")
    window = s.appears("Kyro")
    shown(s.texts("Kyro"), ["Nicht genügend Arbeitsspeicher"])
    s.shoot("memory-de")
    s.keys(window, "Return")
    assert s.answer("memory") == 1


def message_box(s):
    s.ask("locale", "de_DE")
    s.answer("locale")
    s.ask("message", "Änderungen", "Ungespeicherte Änderungen verwerfen?", 2, "Verwerfen",
          "Behalten", 1)
    window = s.appears("Änderungen")
    texts = s.texts("Änderungen")
    shown(texts, ["Ungespeicherte Änderungen verwerfen?", "Verwerfen", "Behalten"])
    assert "Yes" not in texts and "No" not in texts, texts
    s.shoot("message-box")
    s.keys(window, "Return")   # the focused button: 1
    assert s.answer("message") == 1
    s.ask("message", "Änderungen", "Noch einmal?", 2, "Verwerfen", "Behalten", 0)
    window = s.appears("Änderungen")
    s.keys(window, "Return")
    assert s.answer("message") == 0
    s.ask("message", "Änderungen", "Schließen ohne Wahl", 2, "Verwerfen", "Behalten", 0)
    window = s.appears("Änderungen")
    s.keys(window, "Escape")
    assert s.answer("message") == -1


def privacy_policy(s):
    s.ask("locale", "ja_JP")
    s.answer("locale")
    s.ask("privacy", "Kyro Demo", "KyroDemo15", s.images["branding.png"], s.images["hero.jpg"])
    window = s.appears("プライバシー ポリシー")
    shown(s.texts("プライバシー ポリシー"), ["同意する", "同意しない"])
    s.shoot("privacy-ja")
    s.keys(window, "Escape")
    assert s.answer("privacy") == 19
    assert "KyroDemo15" not in s.settings()

    s.ask("locale", "en_US")
    s.answer("locale")
    s.ask("privacy", "Kyro Demo", "KyroDemo15", s.images["branding.png"], s.images["hero.bmp"])
    window = s.appears("Privacy policy")
    shown(s.texts("Privacy policy"), ["Help us improve Kyro", "Agree", "Decline"])
    s.shoot("privacy")
    s.keys(window, "Return")   # Agree has the focus
    assert s.answer("privacy") == 0
    assert "KyroDemo15" in s.settings(), s.settings()
    # Consent is on record: nothing is shown again.
    s.ask("privacy", "Kyro Demo", "KyroDemo15", "", "")
    assert s.answer("privacy") == 0
    assert s.find_window("Privacy policy", 1.0) is None


def bad_images(s):
    s.ask("locale", "xx_XX")   # unknown: the en_US texts
    s.answer("locale")
    s.ask("privacy", "Kyro Demo", "Other15", s.images["huge.png"], s.images["corrupt.png"])
    window = s.appears("Privacy policy")
    shown(s.texts("Privacy policy"), ["Agree", "Decline"])
    s.shoot("privacy-bad-images")
    s.keys(window, "Escape")
    assert s.answer("privacy") == 19
    s.ask("privacy", "Kyro Demo", "Other15", s.images["missing.png"], "")
    window = s.appears("Privacy policy")
    s.keys(window, "Escape")
    assert s.answer("privacy") == 19


def long_texts(s):
    s.ask("locale", "en_US")
    s.answer("locale")
    paragraph = "A line that goes on and on so that it must wrap somewhere. " * 8
    long_text = ("\n".join([paragraph] * 140))[:65536]
    rtl = "שלום עולם, זהו טקסט מימין לשמאל. مرحبا بالعالم"
    s.ask("error", "Kyro Long", rtl, long_text, 1)
    window = s.appears("Kyro Long")
    width, height = s.geometry(window)
    assert 0 < width <= 1280 and 0 < height <= 800, (width, height)
    s.keys(window, "Tab", "space")
    time.sleep(0.3)
    width, height = s.geometry(window)
    assert 0 < width <= 1280 and 0 < height <= 800, (width, height)
    s.shoot("error-long")
    s.keys(window, "Escape")
    assert s.answer("error") == 1


def please_wait(s):
    s.ask("locale", "fr_FR")
    s.answer("locale")
    s.ask("acquire")
    s.answer("acquire")
    s.ask("show")
    assert s.answer("show") == 0
    s.appears("Veuillez patienter")
    shown(s.texts("Veuillez patienter"), ["Veuillez patienter"])
    s.shoot("please-wait")
    s.ask("hide")
    assert s.answer("hide") == 0
    assert s.gone("Veuillez patienter"), "please-wait stayed after hide"
    s.ask("show")
    assert s.answer("show") == 0
    s.appears("Veuillez patienter")
    s.kill_host()
    assert s.gone("Veuillez patienter", 10.0), "please-wait outlived its host"
    s.start_host()


CASES = [error_dialog, insufficient_memory, message_box, privacy_policy, bad_images,
         long_texts, please_wait]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--side", choices=["posix", "win32"], required=True)
    parser.add_argument("--only", default="")
    options = parser.parse_args()
    if options.side == "posix" and os.environ.get("KYRO_UI_SESSION_BUS") != "1":
        # A session bus of our own for the accessibility bus, gone when the run ends.
        env = dict(os.environ, KYRO_UI_SESSION_BUS="1")
        return subprocess.run(["dbus-run-session", "--", sys.executable] + sys.argv,
                              env=env).returncode
    build = os.path.abspath(options.build)
    screens = os.path.join(TOP, "build", "test-results", "screens",
                           "linux" if options.side == "posix" else "windows")
    cases = [c for c in CASES if not options.only or c.__name__ in options.only.split(",")]
    session = Session(build, options.side, screens)
    session.timings = []
    outcomes = []
    try:
        session.start_host()
        for case in cases:
            started = time.monotonic()
            try:
                case(session)
                outcomes.append((case.__name__, time.monotonic() - started, None))
                print(f"[ OK ] {case.__name__}")
            except Exception:
                failure = traceback.format_exc()
                outcomes.append((case.__name__, time.monotonic() - started, failure))
                print(f"[FAIL] {case.__name__}\n{failure}")
                session.shoot("failed-" + case.__name__)
                # A window left up would take the next case's keys: start afresh.
                if session.host is not None:
                    session.kill_host()
                session.start_host()
    finally:
        session.close()
    for title, elapsed in session.timings:
        print(f"window {title!r} up {elapsed * 1000:.0f} ms after its request")
    print(f"screenshots: {screens}")

    return 1 if any(f for _, _, f in outcomes) else 0


if __name__ == "__main__":
    sys.exit(main())
