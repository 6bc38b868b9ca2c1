#!/usr/bin/env python3
"""A host in Python: loads libkyroint.so with ctypes, starts the library, writes each kind
of record, asks for each dialog (the companion answers by script), and checks the answers
and the lines in the error, debug and performance logs.

  ctypes_host.py --library <libkyroint.so> --bin <folder of Vex.exe> --data <data folder>
"""
import argparse
import ctypes
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from host_checks import Cases, custom_environment, lines_of_process  # noqa: E402

c_int, c_char_p = ctypes.c_int, ctypes.c_char_p
WORK = ctypes.CFUNCTYPE(None, ctypes.c_void_p)
# kyro/kyroint.h, as far as this host calls it: (result, arguments).
SIGNATURES = {
    "kyrointStartUp": (c_int, []),
    "kyrointVersion": (c_char_p, []),
    "kyrointSetErrorLogFile": (c_int, [c_char_p]),
    "kyrointLogError": (c_int, [c_int, c_int, c_char_p, c_int, c_char_p]),
    "kyrointLogDebug": (c_int, [c_int, c_char_p]),
    "kyrointLogPerfMarker": (c_int, [c_int, c_char_p, c_int]),
    "kyrointIsDebugLogEnabled": (c_int, []),
    "kyrointIsPerfLogEnabled": (c_int, []),
    "kyrointSetLocale": (None, [c_char_p]),
    "kyrointSetResourceFolder": (c_int, [c_char_p]),
    "kyrointGetString": (c_int, [c_char_p, c_char_p, c_int]),
    "kyrointShowErrorDialog": (c_int, [c_char_p, c_char_p, c_char_p, c_int]),
    "kyrointShowInsufficientMemory": (c_int, []),
    "kyrointShowMessageBox": (c_int, [c_char_p, c_char_p, c_int, c_char_p, c_char_p, c_int]),
    "kyrointShowPrivacyPolicy": (c_int, [c_char_p, c_char_p, c_char_p, c_char_p]),
    "kyrointAcquireWaitDialog": (None, [c_int]),
    "kyrointReleaseWaitDialog": (None, []),
    "kyrointShowWaitDialog": (c_int, []),
    "kyrointHideWaitDialog": (c_int, []),
    "kyrointRunWithPleaseWait": (c_int, [WORK, ctypes.c_void_p, ctypes.c_uint]),
}


def load(path):
    lib = ctypes.CDLL(path)
    for name, (result, arguments) in SIGNATURES.items():
        function = getattr(lib, name)
        function.restype, function.argtypes = result, arguments
    return lib


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--library", required=True)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--data", required=True)
    options = parser.parse_args()
    cases = Cases("python_host_tests")

    with tempfile.TemporaryDirectory() as work:
        custom = os.path.join(work, "custom.xml")
        custom_environment(custom, options.bin, options.data, os.path.join(work, "user"))
        # Read by the library when it starts and at each record: set before it loads.
        os.environ.update(NORVELDT_KYRO_CUSTOM_ENV=custom, XDG_DATA_HOME=work,
                          KYRO_DEBUG_MODE="1", KYRO_PERF_LOG="1",
                          KYRO_VEX_ANSWERS="ErrorDialog=reply;MessageBox=1;"
                                           "PrivacyPolicyDialog=2;PleaseWaitDialog=none")
        lib = load(options.library)
        errors = os.path.join(work, "errors.log")

        cases.equal("StartUp", (lib.kyrointStartUp(), lib.kyrointVersion()), (1, b"15.0.73.0"))
        cases.equal("Records", (
            lib.kyrointSetErrorLogFile(errors.encode()),
            lib.kyrointLogError(3, 2, b"C:\\src\\host.py", 42, "1.0 \u00df".encode()),
            lib.kyrointLogDebug(3, "gr\u00fc\u00dfe from Python".encode()),
            lib.kyrointLogPerfMarker(3, b"PYWORK.START", 1),
            lib.kyrointLogPerfMarker(3, b"PYWORK.STOP", 0),
            lib.kyrointIsDebugLogEnabled(), lib.kyrointIsPerfLogEnabled()), (1,) * 7)
        cases.equal("RefusedRecords", (
            lib.kyrointSetErrorLogFile(None), lib.kyrointLogDebug(3, None),
            lib.kyrointLogDebug(3, b"\xc3\x28"), lib.kyrointLogPerfMarker(3, b"\xff", 1),
            lib.kyrointLogError(3, 2, b"\xc0\xaf", 1, None)), (0,) * 5)

        lib.kyrointSetLocale(b"de_DE")
        text = ctypes.create_string_buffer(64)
        cases.equal("Text", (lib.kyrointSetResourceFolder(options.data.encode()),
                             lib.kyrointGetString(b"IDS_BUTTON_CANCEL", text, len(text)),
                             text.value), (1, 6, b"Cancel"))
        ran = []
        work_done = WORK(lambda context: ran.append(context))
        lib.kyrointAcquireWaitDialog(1)
        cases.equal("Dialogs", (
            lib.kyrointShowErrorDialog(b"Kyro", b"Python asks", b"Details", 4),
            lib.kyrointShowInsufficientMemory(),
            lib.kyrointShowMessageBox(b"Kyro", b"Go on?", 3, b"Yes", b"No", 1),
            lib.kyrointShowPrivacyPolicy(b"Kyro Py", b"KyroPy15", None, b""),
            lib.kyrointShowWaitDialog(), lib.kyrointHideWaitDialog()), (1, 1, 1, 19, 0, 0))
        lib.kyrointReleaseWaitDialog()
        cases.equal("WorkUnderPleaseWait",
                    (lib.kyrointRunWithPleaseWait(work_done, 7, 0), ran), (1, [7]))

        pid = os.getpid()
        host = os.uname().nodename
        error_lines = lines_of_process(errors, pid, "\t")
        cases.equal("ErrorLog", error_lines[:1] + error_lines[3:7],
                    ["Reason=Fatal error", "File=host.py,Line=42", "VendorID=3 [Host Application]",
                     "VendorError=2 [The host application ran out of memory]",
                     "Host Application=1.0 \u00df"])
        cases.equal("ErrorLogHostFacts", error_lines[1:2], [f"ComputerName={host}"])
        # The library's own record goes to the same file: the privacy policy declined.
        cases.check("ErrorLogLibraryRecord",
                    "KyroIntError=19 [The privacy policy was not accepted]" in error_lines[7:],
                    f"lines {error_lines!r}")
        user = os.path.join(work, "Norveldt", "Kyro")
        cases.equal("DebugLog", lines_of_process(os.path.join(user, "KyroDebug.log"), pid, "\t"),
                    ["Host\tgr\u00fc\u00dfe from Python\t"])
        markers = [line.split(",")[-3:-1] for line in
                   lines_of_process(os.path.join(user, "KyroPerfLog.csv"), pid, ",")]
        cases.equal("PerformanceLog", markers,
                    [["KyroInt", "KYROINITIALIZE.START"], ["KyroInt", "KYROINITIALIZE.STOP"],
                     ["Host", "PYWORK.START"], ["Host", "PYWORK.STOP"]])
    cases.finish()


if __name__ == "__main__":
    main()
