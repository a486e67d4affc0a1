"""Two copies of the window under Xvfb, one sending a file to the other; the receiving one is
read through AT-SPI: its fields by their caption names, its status bar panels changing through
the transfer, its gauge's value."""

import os
import signal
import subprocess
import sys
import tempfile
import threading
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

SKIP = 77


xvfb_pipe = []


def start_xvfb():
    read_fd, write_fd = os.pipe()
    log = tempfile.TemporaryFile()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "800x600x24",
                             "-nolisten", "tcp"], pass_fds=[write_fd], stderr=log)
    xvfb.log = log
    os.close(write_fd)
    # Read up to the newline and keep the pipe open: Xvfb writes the number and the newline
    # apart, and dies when the second write finds the pipe closed.
    text = b""
    while not text.endswith(b"\n"):
        chunk = os.read(read_fd, 64)
        if not chunk:
            break
        text += chunk
    xvfb_pipe.append(read_fd)
    display = text.decode().strip()
    if not display:
        xvfb.kill()
        print("SKIP: Xvfb did not start")
        sys.exit(SKIP)
    return xvfb, ":" + display


def start_copy(harness, args, env):
    """Starts a copy whose output is read all along (a full pipe would stop its window) and
    kept as lines."""
    process = subprocess.Popen([harness] + args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, env=env, text=True)
    process.lines = []

    def drain():
        for line in process.stdout:
            process.lines.append(line.strip())

    threading.Thread(target=drain, daemon=True).start()
    return process


def wait_line(process, prefix, timeout=60):
    deadline = time.time() + timeout
    while time.time() < deadline and process.poll() is None:
        for line in list(process.lines):
            if line.startswith(prefix):
                return line
        time.sleep(0.05)
    return None


def find_app(pid, timeout=60):
    deadline = time.time() + timeout
    while time.time() < deadline:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is not None and app.get_process_id() == pid:
                return app
        time.sleep(0.1)
    return None


def walk(node, found):
    if node is None:
        return
    found.append(node)
    for i in range(node.get_child_count()):
        walk(node.get_child_at_index(i), found)


def everything(app):
    found = []
    walk(app, found)
    return found


def main():
    harness = sys.argv[1]
    xvfb, display = start_xvfb()
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
    env.pop("WAYLAND_DISPLAY", None)
    # The launcher starts the accessibility bus's own daemon in its process group, which is
    # killed as a whole at the end.
    launcher = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                start_new_session=True)
    time.sleep(0.5)
    work = tempfile.mkdtemp()
    os.makedirs(os.path.join(work, "recv"))
    os.makedirs(os.path.join(work, "cfg-r"))
    os.makedirs(os.path.join(work, "cfg-s"))
    source = os.path.join(work, "leeme.bin")
    with open(source, "wb") as f:
        f.write(os.urandom(48 << 20))
    processes = [xvfb, launcher]
    failures = []
    try:
        receiver = start_copy(harness, ["--listen-port", "0", "--config", work + "/cfg-r",
                                        "--folder", work + "/recv/", "--accept"], env)
        processes.append(receiver)
        listening = wait_line(receiver, "listening ")
        if listening is None:
            xvfb.log.seek(0)
            print("SKIP: the window did not start under Xvfb:", " | ".join(receiver.lines[-3:]),
                  xvfb.log.read()[-300:].decode(errors="replace"))
            return SKIP
        port = listening.split()[1]
        app = find_app(receiver.pid)
        if app is None:
            print("SKIP: the window is not on the accessibility bus")
            return SKIP

        nodes = everything(app)
        names = {}
        for node in nodes:
            names.setdefault(node.get_role_name(), []).append(node.get_name())
        for caption in ["Archivo", "Tamaño", "Direccion", "Guadar Archivos en:"]:
            if not any(node.get_name() == caption and node.get_role() in
                       (Atspi.Role.TEXT, Atspi.Role.ENTRY) for node in nodes):
                failures.append("no field named %r: %r" % (caption, names))
        bars = [n for n in nodes if n.get_role() == Atspi.Role.STATUS_BAR]
        gauges = [n for n in nodes if n.get_role() == Atspi.Role.PROGRESS_BAR
                  and n.get_name() == "Progreso"]
        if len(bars) != 1 or bars[0].get_child_count() != 2:
            failures.append("no status bar with two panels: %r" % names)
            return 1
        if not gauges:
            failures.append("no gauge named Progreso: %r" % names)
            return 1
        bar, gauge = bars[0], gauges[0]

        sender = start_copy(harness, ["--listen-port", "0", "--connect-port", port,
                                      "--config", work + "/cfg-s", "--send", source,
                                      "--to", "127.0.0.1", "--exit-after-transfer"], env)
        processes.append(sender)
        seen = [[], []]
        values = set()
        deadline = time.time() + 120
        while time.time() < deadline and receiver.poll() is None:
            for i in range(2):
                panel = bar.get_child_at_index(i)
                text = panel.get_name() if panel is not None else None
                if text is not None and (not seen[i] or seen[i][-1] != text):
                    seen[i].append(text)
            values.add(int(Atspi.Value.get_current_value(gauge)))
            if seen[1] and seen[1][-1] == "Recibido!":
                break
            time.sleep(0.01)
        print("panel 0 read:", seen[0])
        print("panel 1 read:", seen[1])
        print("gauge values read:", sorted(values))
        if "Conectado." not in seen[0]:
            failures.append("panel 0 never read 'Conectado.'")
        if "Recibido!" not in seen[1]:
            failures.append("panel 1 never read 'Recibido!'")
        if not any(0 < v <= 100 for v in values):
            failures.append("the gauge's value never moved")
        return 1 if failures else 0
    finally:
        for line in failures:
            print("FAIL:", line)
        for p in reversed(processes):
            if p.poll() is None:
                p.kill()
                p.wait()
        try:
            os.killpg(launcher.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


if __name__ == "__main__":
    sys.exit(main())
