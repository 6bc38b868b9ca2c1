#!/usr/bin/env python3
"""Runs msvc_host.exe (a host linked against kyroint.lib by MSVC's rules) under Wine and
checks what it answered and what it wrote: the error log it named, and its lines in the
user's debug and performance logs.

  run_msvc_host.py --wine <wine64> --bin <folder of msvc_host.exe, kyroint.dll, Vex.exe>
                   --data <folder of KyroErrorCodes.xml>
"""
import argparse
import glob
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from host_checks import Cases, custom_environment, lines_of_process  # noqa: E402


def windows(path):
    """A Unix path as a Windows program under Wine names it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def user_logs():
    """The debug and performance logs in every Wine user's folder of the prefix, each with
    its size now: Wine gives out process ids again, so only what is added counts."""
    prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
    paths = glob.glob(os.path.join(prefix, "drive_c", "users", "*", "AppData", "Local",
                                   "Norveldt", "Kyro", "Kyro*"))
    return {path: os.path.getsize(path) for path in paths}


def added_lines(sizes, name, pid, separator):
    return [line for path, size in user_logs().items() if path.endswith(name)
            for line in lines_of_process(path, pid, separator, sizes.get(path, 0))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--data", required=True)
    options = parser.parse_args()
    cases = Cases("msvc_host_tests")

    with tempfile.TemporaryDirectory() as work:
        custom = os.path.join(work, "custom.xml")
        custom_environment(custom, windows(options.bin), windows(options.data),
                           windows(os.path.join(work, "user")))
        errors = os.path.join(work, "errors.log")
        sizes = user_logs()
        env = dict(os.environ, NORVELDT_KYRO_CUSTOM_ENV=windows(custom),
                   KYRO_VEX_ANSWERS="MessageBox=1", KYRO_DEBUG_MODE="1", KYRO_PERF_LOG="1")
        try:
            run = subprocess.run([options.wine, os.path.join(options.bin, "msvc_host.exe"),
                                  windows(errors)], env=env, capture_output=True, timeout=120,
                                 stdin=subprocess.DEVNULL)
            output = run.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
            returncode = run.returncode
        except subprocess.TimeoutExpired:
            output, returncode = "", "timed out"
        cases.equal("HostEnds", returncode, 0)
        answers, pid = output.rsplit("pid=", 1) if "pid=" in output else (output, "")
        pid = pid.strip()
        cases.equal("Answers", answers,
                    "startUp=1\nnamed=1\nerror=1\ndebug=1\nperf=11\nbutton=1\n")
        cases.check("ProcessId", pid.isdigit(), f"output {output!r}")

        error_lines = lines_of_process(errors, pid, "\t")
        cases.check("ErrorRecord",
                    error_lines[:1] == ["Reason=Fatal error"] and
                    error_lines[3:] == ["File=msvc_host.c,Line=42",
                                        "VendorID=3 [Host Application]",
                                        "VendorError=2 [The host application ran out of memory]",
                                        "Host Application=1.0"], f"lines {error_lines!r}")
        debug_lines = added_lines(sizes, "KyroDebug.log", pid, "\t")
        cases.equal("DebugLine", debug_lines, ["Host\thello from an MSVC host\t"])
        markers = [line.split(",")[-3:] for line in added_lines(sizes, "KyroPerfLog.csv", pid, ",")]
        cases.check("PerformanceMarkers",
                    [m for m in markers if m[1].startswith("HOSTWORK")] ==
                    [["Host", "HOSTWORK.START", ""], ["Host", "HOSTWORK.STOP", ""]] and
                    [m[1] for m in markers if m[1].startswith("KYROINITIALIZE")] ==
                    ["KYROINITIALIZE.START", "KYROINITIALIZE.STOP"], f"markers {markers!r}")
    cases.finish()


if __name__ == "__main__":
    main()
