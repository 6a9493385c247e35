#!/usr/bin/env python3
"""A second start of the real program, 50 times, against a first one that is starting up or
hidden in the tray, on a private X server with a window manager and a tray host.

Each round starts a first program (set to start in the tray) and starts a second one at a
different moment of its start-up (the splash, the loading), then hides the first one's window
to the tray again and again and starts a second one each time. Every second start must end
with status 0 and leave the first one's window on the screen; a second start that ends with an
error, hangs, or leaves no window fails the test. Exit 77 (skipped) when Xvfb, openbox, trayer,
xdotool or xprop is missing.

Usage: second_start.py --telvox PATH [--rounds 10] [--per-round 5]
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

TOOLS = ("Xvfb", "openbox", "trayer", "xdotool", "xprop")


def wait_until(condition, limit):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return condition()


class Desktop:
    """Xvfb on a free display number, openbox and trayer; everything ended by its pid."""

    def __init__(self, work):
        self.procs = []
        self.env = None
        for number in range(140, 200):
            if os.path.exists(f"/tmp/.X11-unix/X{number}") or os.path.exists(f"/tmp/.X{number}-lock"):
                continue
            server = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if wait_until(lambda: os.path.exists(f"/tmp/.X11-unix/X{number}") or server.poll() is not None, 10) \
                    and server.poll() is None:
                self.procs.append(server)
                runtime = os.path.join(work, "run")
                os.makedirs(runtime, mode=0o700)
                self.env = dict(os.environ, DISPLAY=f":{number}", QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=runtime)
                break
            server.wait()
        if not self.env:
            raise RuntimeError("no X server could be started")
        for tool in (["openbox"], ["trayer"]):
            self.procs.append(subprocess.Popen(tool, env=self.env, stdout=subprocess.DEVNULL,
                                               stderr=subprocess.DEVNULL))
        # On a busy machine the window manager and the tray host can take seconds to come up;
        # a first program started before them has no tray, and a minimise reaches nobody.
        if not wait_until(lambda: self.window_manager_ready() and self.tray_ready(), 30):
            raise RuntimeError("openbox or trayer did not come up within 30 s")
        time.sleep(0.3)

    def window_manager_ready(self):
        check = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env,
                               capture_output=True, text=True).stdout
        return "window id" in check

    def tray_ready(self):
        return bool(subprocess.run(["xdotool", "search", "--classname", "trayer"], env=self.env,
                                   capture_output=True, text=True).stdout.split())

    def visible_windows(self, pid):
        """Names of the visible top-level windows of process `pid`."""
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)], env=self.env,
                               capture_output=True, text=True).stdout.split()
        names = []
        for window in found:
            name = subprocess.run(["xdotool", "getwindowname", window], env=self.env,
                                  capture_output=True, text=True).stdout.strip()
            names.append((window, name))
        return names

    def close(self):
        for proc in reversed(self.procs):
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--telvox", required=True)
    ap.add_argument("--rounds", type=int, default=10)
    ap.add_argument("--per-round", type=int, default=5)
    args = ap.parse_args()
    missing = [tool for tool in TOOLS if not shutil.which(tool)]
    if missing:
        print(f"skipped: {', '.join(missing)} not installed (scripts/setup installs them)")
        return 77

    work = tempfile.mkdtemp(prefix="telvox-second-start-")
    desktop = Desktop(work)
    failures = []
    tries = 0
    try:
        for round_no in range(args.rounds):
            home = os.path.join(work, f"home{round_no}")
            os.makedirs(home)
            with open(os.path.join(home, "telvox.ini"), "w") as f:
                f.write(f"[Config]\nLanguage=0\nLine0=1\nSaveFile={home}/waveFiles/\nMinOnStart=1\nTrayHint=1\n")
            env = dict(desktop.env, TELVOX_HOME=home)
            first = subprocess.Popen([args.telvox], env=env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)

            def main_window():
                return [w for w, name in desktop.visible_windows(first.pid) if name == "Telvox"]

            try:
                # The first second start comes at a different moment of the first one's start-up
                # each round: from just after its launch to the end of its splash and loading.
                delay = 0.05 + round_no * 0.35
                for n in range(args.per_round):
                    if n == 0:
                        time.sleep(delay)
                        moment = f"{delay:.2f} s after the first start"
                    else:
                        windows = main_window()
                        if windows:
                            subprocess.run(["xdotool", "windowminimize", windows[0]], env=desktop.env)
                        if not wait_until(lambda: not main_window(), 5):
                            failures.append(f"round {round_no}: the window did not go to the tray")
                            break
                        moment = "hidden in the tray"
                    tries += 1
                    begin = time.monotonic()
                    try:
                        second = subprocess.run([args.telvox], env=env, capture_output=True, text=True, timeout=30)
                        status, said = second.returncode, (second.stdout + second.stderr).strip()
                    except subprocess.TimeoutExpired:
                        status, said = "hung", ""
                    spent = time.monotonic() - begin
                    shown = wait_until(lambda: bool(main_window()), 10)
                    verdict = "ok" if status == 0 and shown else "FAILED"
                    print(f"try {tries:2d} ({moment}): status {status} in {spent * 1000:.0f} ms, "
                          f"window {'shown' if shown else 'not shown'} {verdict} {said}".rstrip())
                    if verdict != "ok":
                        failures.append(f"try {tries} ({moment}): status {status}, window "
                                        f"{'shown' if shown else 'not shown'} {said}".rstrip())
            finally:
                first.send_signal(signal.SIGTERM)
                try:
                    first.wait(timeout=20)
                except subprocess.TimeoutExpired:
                    first.kill()
                    first.wait()
                    failures.append(f"round {round_no}: the first program did not end on SIGTERM")
                if first.returncode not in (0, None, -signal.SIGKILL):
                    failures.append(f"round {round_no}: the first program ended with status {first.returncode}")
    finally:
        desktop.close()
        shutil.rmtree(work, ignore_errors=True)

    print(f"{tries} second starts, {len(failures)} failed")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
