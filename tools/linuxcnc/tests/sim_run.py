#!/usr/bin/python3
"""The pendant on a real LinuxCNC, end to end.

Starts the sample configuration headless from a fresh copy, with k2t-linuxcnc
as its display and the virtual pendant, works the pendant through a scripted
run and checks LinuxCNC's own status (through its Python module, not the
bridge) after each step. Stops LinuxCNC by PID at the end.

usage: sim_run.py START_SCRIPT BRIDGE WORKDIR
"""
import os
import signal
import subprocess
import sys
import time

START, BRIDGE, WORK = sys.argv[1:4]
LOG = os.path.join(WORK, "linuxcnc.log")
LOCK = "/tmp/linuxcnc.lock"

# LinuxCNC's Python module is Debian's; its clients share $HOME with LinuxCNC.
os.environ["HOME"] = os.path.join(WORK, "sim", "home")  # what the start script gives LinuxCNC
import linuxcnc  # noqa: E402


class Failed(Exception):
    pass


def linuxcnc_running():
    """A LinuxCNC server of any session; a lock file without one is stale and LinuxCNC clears it."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/comm") as f:
                if f.read().strip() in ("linuxcncsvr", "milltask"):
                    return True
        except OSError:
            pass
    return False


def log_tail(lines=40):
    try:
        with open(LOG, errors="replace") as f:
            return "".join(f.readlines()[-lines:])
    except OSError:
        return "(no log)"


class Run:
    def __init__(self):
        self.proc = None
        self.stat = None
        self.t0 = time.monotonic()

    # ---- LinuxCNC ----------------------------------------------------------
    def start(self):
        if os.path.exists(LOCK) and linuxcnc_running():
            raise Failed(f"another LinuxCNC runs on this machine ({LOCK}); the test would stop it")
        os.makedirs(WORK, exist_ok=True)
        out = open(LOG, "w")  # a file, never a pipe: LinuxCNC's daemons keep their copies open
        self.proc = subprocess.Popen(
            [START, BRIDGE, os.path.join(WORK, "sim"), "--fresh", "--pendant", "virtual"],
            stdin=subprocess.PIPE, stdout=out, stderr=subprocess.STDOUT, text=True)
        out.close()
        self.wait(lambda: "k2t-linuxcnc: ready" in open(LOG, errors="replace").read(), 60,
                  "the bridge to be ready", poll_status=False)
        self.stat = linuxcnc.stat()
        self.say("LinuxCNC and the bridge are up")

    def bridge_pid(self):
        """The display program LinuxCNC runs: the bridge, a child of the linuxcnc script."""
        try:
            with open(f"/proc/{self.proc.pid}/task/{self.proc.pid}/children") as f:
                children = f.read().split()
        except OSError:
            return None
        for pid in children:
            try:
                with open(f"/proc/{pid}/comm") as f:
                    if f.read().strip() == "k2t-linuxcnc":
                        return int(pid)
            except OSError:
                pass
        return None

    def stop(self):
        """Ends the bridge by its PID; LinuxCNC's script then shuts LinuxCNC down."""
        if not self.proc or self.proc.poll() is not None:
            return self.proc.returncode if self.proc else 0
        pid = self.bridge_pid()
        if pid:
            os.kill(pid, signal.SIGTERM)
        try:
            return self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()  # the script; then what it started
            subprocess.run(["/usr/bin/halcmd", "stop"], capture_output=True)
            subprocess.run(["/usr/bin/halcmd", "unload", "all"], capture_output=True)
            subprocess.run(["/usr/lib/linuxcnc/realtime", "stop"], capture_output=True)
            raise Failed("LinuxCNC did not stop within 30 s of the bridge's SIGTERM")

    # ---- the pendant and the checks -----------------------------------------
    def send(self, *lines):
        for line in lines:
            self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def poll(self):
        self.stat.poll()
        return self.stat

    def wait(self, condition, timeout, what, poll_status=True):
        deadline = time.monotonic() + timeout
        while True:
            if poll_status:
                self.poll()
            if condition():
                return
            if self.proc.poll() is not None:
                raise Failed(f"LinuxCNC ended (status {self.proc.returncode}) while waiting for {what}")
            if time.monotonic() > deadline:
                raise Failed(f"no {what} within {timeout} s" + (f"; {self.summary()}" if poll_status else ""))
            time.sleep(0.02)

    def summary(self):
        s = self.stat
        return (f"task_state {s.task_state} task_mode {s.task_mode} interp_state {s.interp_state} "
                f"X {self.work(0):.4f} Y {self.work(1):.4f} feedrate {s.feedrate:.3f}")

    def work(self, axis):
        s = self.stat
        return s.actual_position[axis] - s.g5x_offset[axis] - s.tool_offset[axis] - s.g92_offset[axis]

    def say(self, text):
        print(f"{time.monotonic() - self.t0:6.2f} s  ok: {text}", flush=True)

    def confirm(self, key):
        """Hold a key until the pendant asks, then confirm with EN."""
        self.send(f"press {key}")
        time.sleep(0.8)
        self.send("press en")
        time.sleep(0.15)
        self.send("release en")
        time.sleep(0.1)
        self.send(f"release {key}")

    # ---- the scripted run ---------------------------------------------------
    def script(self):
        s = self.poll()
        if s.task_state != linuxcnc.STATE_ESTOP:
            raise Failed(f"LinuxCNC should start in E-stop: {self.summary()}")

        self.send("estop on")
        time.sleep(0.3)
        self.wait(lambda: self.stat.task_state == linuxcnc.STATE_ESTOP, 2, "E-stop held while the switch is down")
        self.send("estop off")
        self.wait(lambda: self.stat.task_state == linuxcnc.STATE_ON, 3, "machine on after the E-stop release")
        self.say("E-stop released, machine on")

        x0 = self.work(0)
        self.send("mode 1")  # velocity -> step mode
        time.sleep(0.5)
        self.send("wheel +10")  # ten detents of 0.001
        self.wait(lambda: abs(self.work(0) - (x0 + 0.010)) < 1e-6 and self.stat.interp_state == linuxcnc.INTERP_IDLE,
                  5, "step jog of X by 0.010")
        self.say(f"step jog: X {x0:.4f} -> {self.work(0):.4f} (MDI mode {self.stat.task_mode})")

        self.send("mode 1")  # step -> velocity mode
        time.sleep(0.5)
        x1 = self.work(0)
        self.send("wheel +120 ticks 60 rate 30")
        self.wait(lambda: self.stat.task_mode == linuxcnc.MODE_MANUAL and self.work(0) > x1 + 0.1, 3,
                  "velocity jog of X in manual mode")
        self.say(f"velocity jog running: X {self.work(0):.4f}")
        still = {"x": None, "since": 0.0}

        def stopped():
            x = self.work(0)
            now = time.monotonic()
            if still["x"] is None or abs(x - still["x"]) > 1e-9:
                still["x"], still["since"] = x, now
                return False
            return now - still["since"] > 0.3 and self.stat.current_vel == 0

        self.wait(stopped, 6, "X to stop once the wheel rests")
        self.say(f"velocity jog ended by the wheel: X {self.work(0):.4f}")

        self.send("mode 3")  # feed override
        time.sleep(0.5)
        self.send("wheel +20 ticks 10")
        self.wait(lambda: self.stat.feedrate > 1.05, 3, "feed override above 105 %")
        time.sleep(0.4)
        self.say(f"feed override from the wheel: {self.poll().feedrate * 100:.1f} %")

        self.send("mode 1")  # back to step mode, as a machinist would before starting
        time.sleep(0.3)
        self.confirm("spindle")
        self.wait(lambda: self.stat.spindle[0]["enabled"] and self.stat.spindle[0]["speed"] == 1000, 3,
                  "the spindle on at [K2T]SPINDLE_SPEED")
        self.say("spindle on at 1000")

        self.confirm("start")
        running = (linuxcnc.INTERP_READING, linuxcnc.INTERP_WAITING)
        self.wait(lambda: self.stat.task_mode == linuxcnc.MODE_AUTO and self.stat.interp_state in running, 5,
                  "the program to run")
        self.say(f"cycle start: running {os.path.basename(self.stat.file)}")
        time.sleep(1.0)

        self.confirm("start")
        self.wait(lambda: self.stat.interp_state == linuxcnc.INTERP_PAUSED and self.stat.paused, 5, "pause")
        self.say("paused")

        self.confirm("start")
        self.wait(lambda: self.stat.interp_state in running and not self.stat.paused, 5, "resume")
        self.say("resumed")
        time.sleep(0.5)

        self.confirm("stop")
        self.wait(lambda: self.stat.interp_state == linuxcnc.INTERP_IDLE, 5, "the program to stop")
        self.say("stopped")

        self.send("estop on")
        self.wait(lambda: self.stat.task_state == linuxcnc.STATE_ESTOP, 2, "E-stop")
        self.say("E-stop")
        self.send("estop off")
        self.wait(lambda: self.stat.task_state == linuxcnc.STATE_ON, 3, "machine on after the second release")
        self.say("E-stop released again, machine on")


def main():
    run = Run()
    failure = None
    try:
        run.start()
        run.script()
    except Failed as e:
        failure = str(e)
    except Exception as e:  # noqa: BLE001 - any error must still stop LinuxCNC
        failure = f"{type(e).__name__}: {e}"
    try:
        code = run.stop()
        if failure is None and code != 0:
            failure = f"LinuxCNC (with the bridge as its display) ended with status {code}"
        elif failure is None:
            run.say("LinuxCNC stopped by the bridge's PID, status 0")
    except Failed as e:
        failure = failure or str(e)
    if failure is None and os.path.exists(LOCK):
        failure = f"{LOCK} is left behind"
    if failure:
        print(f"FAILED: {failure}\n--- last lines of {LOG}:\n{log_tail()}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
