#!/usr/bin/python3
"""The pendant on a real LinuxCNC, end to end.

Starts the sample configuration headless from a fresh copy, with k2t-linuxcnc
as its display and the virtual pendant, works the pendant through a scripted
run and checks LinuxCNC's own status and HAL pins (through its Python modules,
not the bridge) after each step. Another NML client writes between the
pendant's commands; LinuxCNC's task is stopped while a jog runs, and only the
pendant's E-stop through HAL stops the motion. Stops LinuxCNC by PID at the end.

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

# LinuxCNC's Python modules are Debian's; its clients share $HOME with LinuxCNC.
os.environ["HOME"] = os.path.join(WORK, "sim", "home")  # what the start script gives LinuxCNC
if os.getuid() == 0:  # as the start script sets them for LinuxCNC
    os.environ.setdefault("RTAPI_UID", "65534")
    os.environ["RTAPI_FIFO_PATH"] = os.path.join(WORK, "sim", "rtfifo", "rtapi_fifo")
import hal  # noqa: E402
import linuxcnc  # noqa: E402


class Failed(Exception):
    pass


def pids_of(*names):
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/comm") as f:
                if f.read().strip() in names:
                    found.append(int(pid))
        except OSError:
            pass
    return found


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
        self.stopped_task = None
        self.hal = None
        self.t0 = time.monotonic()

    # ---- LinuxCNC ----------------------------------------------------------
    def start(self):
        # LinuxCNC's start script would stop the one running (the start script refuses too).
        running = pids_of("linuxcncsvr", "milltask", "rtapi_app")
        if running or os.path.exists(LOCK):
            raise Failed(f"another LinuxCNC may run on this machine ({LOCK}, processes {running}); "
                         "the test would stop it")
        os.makedirs(WORK, exist_ok=True)
        out = open(LOG, "w")  # a file, never a pipe: LinuxCNC's daemons keep their copies open
        self.proc = subprocess.Popen(
            [START, BRIDGE, os.path.join(WORK, "sim"), "--fresh", "--pendant", "virtual"],
            stdin=subprocess.PIPE, stdout=out, stderr=subprocess.STDOUT, text=True)
        out.close()
        self.wait(lambda: "k2t-linuxcnc: ready" in open(LOG, errors="replace").read(), 60,
                  "the bridge to be ready", poll_status=False)
        self.stat = linuxcnc.stat()
        self.command = linuxcnc.command()
        # Python reads HAL pins only as a component; it leaves before LinuxCNC
        # stops (which would end it as it ends every userspace component).
        self.hal = hal.component("k2t-sim-run")
        self.hal.ready()
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
        if self.hal is not None:  # a component without pins is falsy
            self.hal.exit()
            self.hal = None
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
        """Hold a key, then confirm with EN."""
        self.send(f"press {key}")
        time.sleep(0.1)
        self.send("press en")
        time.sleep(0.1)
        self.send("release en")
        time.sleep(0.05)
        self.send(f"release {key}")

    def pin(self, name):
        return hal.get_value(name)

    def wait_pin(self, name, value, timeout, what):
        self.wait(lambda: self.pin(name) == value, timeout, what)

    def x_settled(self, target, what, timeout=3):
        self.wait(lambda: abs(self.work(0) - target) < 1e-6 and self.stat.current_vel == 0, timeout, what)

    # ---- the scripted run ---------------------------------------------------
    def script(self):
        s = self.poll()
        if s.task_state != linuxcnc.STATE_ESTOP:
            raise Failed(f"LinuxCNC should start in E-stop: {self.summary()}")
        self.wait_pin("k2t.estop-ok", True, 2, "k2t.estop-ok once the bridge runs")
        # The machine this runs on may be busy (a CI run, builds beside it):
        # a bridge kept off the processor for half a second must not end the
        # run. A user's machine keeps the configuration's half second.
        hal.set_p("watchdog.timeout-0", "2")
        beat = self.pin("k2t.watchdog")
        self.wait_pin("k2t.watchdog", not beat, 0.5, "k2t.watchdog to toggle")
        if not self.pin("k2t.connected") or not self.pin("motion.enable"):
            raise Failed("k2t.connected and motion.enable should be true with the pendant there")
        self.say("HAL: k2t.estop-ok, k2t.connected, k2t.watchdog beating, motion.enable")

        self.send("estop on")
        self.wait_pin("k2t.estop-ok", False, 1, "k2t.estop-ok false while the pendant's E-stop is down")
        time.sleep(0.2)
        self.wait(lambda: self.stat.task_state == linuxcnc.STATE_ESTOP, 2, "E-stop held while the switch is down")
        self.send("estop off")
        self.wait(lambda: self.stat.task_state == linuxcnc.STATE_ON, 3, "machine on after the E-stop release")
        self.say("E-stop released, machine on")

        # Step jogs are LinuxCNC increments in MANUAL mode; the user's MDI
        # mode comes back, and another client's command between two of them
        # holds nothing up.
        self.command.mode(linuxcnc.MODE_MDI)
        self.command.wait_complete()
        x0 = self.work(0)
        self.send("mode 1")  # velocity -> step mode
        time.sleep(0.2)
        self.send("wheel +10")  # ten detents of 0.001
        self.x_settled(x0 + 0.010, "step jog of X by 0.010")
        self.command.feedrate(0.6)  # another NML client, between two of the pendant's commands
        t = time.monotonic()
        self.send("wheel +5")
        self.x_settled(x0 + 0.015, "a second step jog of X by 0.005", timeout=1.5)
        took = time.monotonic() - t
        self.wait(lambda: self.stat.task_mode == linuxcnc.MODE_MDI, 3, "the user's MDI mode back after the step jogs")
        time.sleep(0.3)  # past the module's restore of what it saved
        if abs(self.poll().feedrate - 0.6) > 1e-9:
            raise Failed(f"the feed override another client set should stay 60 %: {self.summary()}")
        self.say(f"step jogs: X {x0:.4f} -> {self.work(0):.4f} (the second {took:.2f} s after another client's "
                 f"command), back in MDI, feed override {self.stat.feedrate * 100:.0f} %")

        x1 = self.work(0)
        self.send("wheel +1")
        time.sleep(0.12)
        self.send("wheel -2")
        self.x_settled(x1 - 0.001, "X one step below after +1 then -2 within 120 ms")
        self.say(f"quick reversal: X {x1:.4f} -> {self.work(0):.4f}")

        self.command.feedrate(1.0)
        self.send("mode 1")  # step -> velocity mode
        time.sleep(0.2)
        x1 = self.work(0)
        self.send("wheel +60 ticks 20 rate 30")
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
            return now - still["since"] > 0.2 and self.stat.current_vel == 0

        self.wait(stopped, 6, "X to stop once the wheel rests")
        self.say(f"velocity jog ended by the wheel: X {self.work(0):.4f}")

        self.send("mode 3")  # feed override
        time.sleep(0.2)
        self.send("wheel +20 ticks 10")
        self.wait(lambda: self.stat.feedrate > 1.05, 3, "feed override above 105 %")
        self.say(f"feed override from the wheel: {self.poll().feedrate * 100:.1f} %")

        self.send("mode 1")  # back to step mode, as a machinist would before starting
        time.sleep(0.2)
        self.confirm("spindle")
        self.wait(lambda: self.stat.spindle[0]["enabled"] and self.stat.spindle[0]["speed"] == 1000, 3,
                  "the spindle on at [K2T]SPINDLE_SPEED")
        self.say("spindle on at 1000")

        self.confirm("start")
        running = (linuxcnc.INTERP_READING, linuxcnc.INTERP_WAITING)
        self.wait(lambda: self.stat.task_mode == linuxcnc.MODE_AUTO and self.stat.interp_state in running, 5,
                  "the program to run")
        self.say(f"cycle start: running {os.path.basename(self.stat.file)}")
        time.sleep(0.5)

        self.confirm("start")
        self.wait(lambda: self.stat.interp_state == linuxcnc.INTERP_PAUSED and self.stat.paused, 5, "pause")
        self.say("paused")

        self.confirm("start")
        self.wait(lambda: self.stat.interp_state in running and not self.stat.paused, 5, "resume")
        self.say("resumed")
        time.sleep(0.3)

        self.confirm("stop")
        self.wait(lambda: self.stat.interp_state == linuxcnc.INTERP_IDLE, 5, "the program to stop")
        self.say("stopped")

        # LinuxCNC's task hung during a jog: only the pendant's E-stop through
        # HAL (k2t.estop-ok into motion.enable) can stop the axis now.
        self.send("mode 1")  # step -> velocity mode
        time.sleep(0.2)
        self.send("spin 20")
        self.wait(lambda: abs(self.pin("motion.current-vel")) > 0, 3, "the wheel's jog to move")
        task = pids_of("milltask")
        if len(task) != 1:
            raise Failed(f"no single milltask process: {task}")
        self.stopped_task = task[0]
        os.kill(self.stopped_task, signal.SIGSTOP)
        try:
            time.sleep(0.1)
            t = time.monotonic()
            self.send("estop on")
            while self.pin("motion.motion-enabled"):
                if time.monotonic() - t > 1:
                    raise Failed("motion.motion-enabled still true 1 s after the pendant's E-stop, task stopped")
                time.sleep(0.001)
            took = time.monotonic() - t
            if took > 0.1:
                raise Failed(f"motion.motion-enabled went false {took * 1000:.0f} ms after the E-stop, not within 100 ms")
            self.wait(lambda: self.pin("motion.current-vel") == 0, 1, "the axis to stop", poll_status=False)
            self.say(f"task stopped, jog running: the pendant's E-stop disabled motion in {took * 1000:.0f} ms")
        finally:
            self.send("spin 0")
            os.kill(self.stopped_task, signal.SIGCONT)
            self.stopped_task = None
        self.wait(lambda: self.stat.task_state == linuxcnc.STATE_ESTOP, 3, "E-stop once task runs again")
        self.send("estop off")
        self.wait(lambda: self.stat.task_state == linuxcnc.STATE_ON, 3, "machine on after the release")
        self.say("task running again, E-stop released, machine on")

        self.send("unplug")
        self.wait(lambda: not self.pin("k2t.connected") and not self.pin("k2t.estop-ok"), 1,
                  "k2t.connected and k2t.estop-ok false with the pendant gone", poll_status=False)
        self.send("plug")
        self.wait(lambda: self.pin("k2t.connected") and self.pin("k2t.estop-ok"), 1,
                  "k2t.connected and k2t.estop-ok true with the pendant back", poll_status=False)
        self.say("pendant unplugged and plugged: k2t.connected and k2t.estop-ok followed")


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
