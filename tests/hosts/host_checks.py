"""What the host tests in other languages share: the custom environment they start the
library with, the log lines of one process, and named checks (CTest reports the program as
one test; its output names each check)."""
import os
import sys


def custom_environment(path, companion_folder, table_folder, settings_folder):
    """Writes a custom environment file: the companion, the error table and the user
    settings in the given folders (texts as the library reads them)."""
    keys = {"KYRO_COMMON_BIN_LOCATION": companion_folder,
            "KYRO_ERROR_TABLE_LOCATION": table_folder,
            "KYRO_USER_SETTINGS_FILE_LOCATION": settings_folder}
    with open(path, "w", encoding="utf-8") as out:
        out.write('<KYROCUSTOMENV><PLATFORM OS="Windows">\n')
        for key, value in keys.items():
            out.write(f'  <KEY ID="{key}"><STRING>{value}</STRING></KEY>\n')
        out.write("</PLATFORM></KYROCUSTOMENV>\n")


def lines_of_process(path, pid, separator, start=0):
    """The lines of a log that `pid` stamped, from byte `start` on, without the stamp
    (process id, date, time)."""
    if not os.path.exists(path):
        return []
    with open(path, "rb") as log:
        log.seek(start)
        lines = log.read().decode("utf-8", "replace").replace("\r\n", "\n").split("\n")
    return [line.split(separator, 3)[3] for line in lines
            if line.startswith(f"{pid}{separator}") and line.count(separator) >= 3]


class Cases:
    """Named checks, printed as they are made; the exit status says whether all passed."""

    def __init__(self, program):
        self.program = program
        self.cases = []

    def check(self, name, ok, detail=""):
        self.cases.append((name, bool(ok), detail))
        print(f"[{'  OK  ' if ok else 'FAILED'}] {self.program}: {name}" +
              ("" if ok else f": {detail}"))
        return ok

    def equal(self, name, got, expected):
        return self.check(name, got == expected, f"got {got!r}, expected {expected!r}")

    def finish(self):
        failed = [name for name, ok, _ in self.cases if not ok]
        sys.exit(1 if failed or not self.cases else 0)
