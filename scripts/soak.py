#!/usr/bin/env python3
"""Soak of the launcher and zorserver from outside, with real processes.

A release of a few hundred files exists in an old and a new version; client folders start
with the old one and are brought up to date by the headless launcher from a zorserver on
127.0.0.1, while the soak
  1. kills the launcher with SIGKILL at random moments,
  2. kills and restarts zorserver while four launchers update at once,
  3. cuts connections at random byte offsets through a TCP proxy of its own,
  4. lets the disk fill up during an update (a small tmpfs; skipped where it cannot mount),
  5. runs the launcher in a folder on a file system mounted read-only.
After every fault each file of the release must be whole: the old or the new version, never
a mix. When a launcher finishes, its folder must be exact (the new release, the launcher,
the main program's start record and nothing else) and the main program must have started.

Prints one line per scenario and exits with 1 when anything was torn, lost or left undone.
Usage: soak.py N BIN_DIR   (BIN_DIR holds zorserver, Client, IClient and zorreg)
"""

import hashlib
import os
import random
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

# Every wait has a limit; reaching one is a fault (something hangs), never a reason to wait on.
LAUNCHER_LIMIT_S = 180
SERVER_START_LIMIT_S = 20
STARTED_RECORD_LIMIT_S = 10
# A launcher that gives up (after its bounded number of failed passes) is run again, as a
# user would; more runs than this for one update is a fault.
MAX_RUNS_PER_UPDATE = 8
# The launcher is killed this long at most after its start.
KILL_WITHIN_S = 4.0
OLD_TIME = 1609459200  # 2021-01-01: the installed files
NEW_TIME = 1717200000  # 2024-06-01: the release on the server
# Entries of a finished client folder besides the release files.
OWN_FILES = {"Client", "IClient.started", "DownLoadInfo.dat"}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def digest(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


class Soak:
    def __init__(self, count, bin_dir):
        self.count = count
        self.bin = bin_dir
        self.root = tempfile.mkdtemp(prefix="zor-soak-")
        self.processes = []  # every process started, stopped at the end
        self.mounts = []
        self.faults = []
        self.random = random.Random(os.environ.get("ZOR_SOAK_SEED") or None)
        self.server = None
        self.proxy = None
        self.port = free_port()

    # ---- release and client folders ----

    def make_release(self, files):
        """Old and new versions of `files` files (plus the main program and its ini file)."""
        self.old = os.path.join(self.root, "release-old")
        self.new = os.path.join(self.root, "release-new")
        folders = ["", "bpls/", "Graphs/", "Defines/", "Coms/", "SunRpt/deep/"]
        names = ["IClient", "ZORSys.ini"]
        for i in range(files):
            ext = [".dll", ".bpl", ".dat", ".rpt"][i % 4]
            names.append(f"{folders[i % len(folders)]}file{i:03d}{ext}")
        self.names = names
        self.digests = {}
        for version, base, stamp in (("old", self.old, OLD_TIME), ("new", self.new, NEW_TIME)):
            for name in names:
                path = os.path.join(base, name)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                if name == "IClient":
                    shutil.copyfile(os.path.join(self.bin, "IClient"), path)
                    os.chmod(path, 0o755)
                    if version == "new":  # a different program file: the same code, one byte more
                        with open(path, "ab") as f:
                            f.write(b"\0")
                elif name == "ZORSys.ini":
                    with open(path, "wb") as f:
                        f.write(b"[System]\r\nMainExe=IClient\r\n; " + version.encode() + b"\r\n")
                else:
                    with open(path, "wb") as f:
                        f.write(self.file_contents(name, version))
                os.utime(path, (stamp, stamp))
                self.digests.setdefault(name, {})[version] = digest(path)
        self.release_bytes = sum(os.path.getsize(os.path.join(self.new, n)) for n in names)

    def file_contents(self, name, version):
        """Mostly small files, some large; half of them compress well, half not at all."""
        r = random.Random(name)
        roll = r.random()
        size = r.randint(200, 30000) if roll < 0.8 else r.randint(30000, 300000) if roll < 0.97 else r.randint(600000, 1500000)
        if version == "new":
            size += size // 4  # the new release needs more room than the old (the full-disk case)
        r = random.Random(name + version)
        if r.random() < 0.5:
            return r.randbytes(size)
        words = [b"ZOR", b"launcher", b"release", version.encode(), name.encode(), b"\r\n"]
        out = bytearray()
        while len(out) < size:
            out += r.choice(words) + b" "
        return bytes(out[:size])

    def reg_dir(self, port):
        """A registry folder with the connection settings for 127.0.0.1:`port`."""
        path = os.path.join(self.root, f"reg-{port}")
        if os.path.isdir(path):
            return path
        os.makedirs(path)
        key = "HKLM\\Software\\ZOR\\DK880"
        env = dict(os.environ, ZOR_REGISTRY_DIR=path)
        for name, kind, value in (("ConnectType", "REG_DWORD", "1"), ("NetServer", "REG_SZ", "127.0.0.1"),
                                  ("TCPPort", "REG_DWORD", str(port)), ("ShowNextTime", "REG_DWORD", "1"),
                                  ("WaitInput", "REG_DWORD", "0")):
            subprocess.run([os.path.join(self.bin, "zorreg"), "add", key, "/v", name, "/t", kind, "/d", value, "/f"],
                           env=env, check=True, stdout=subprocess.DEVNULL)
        return path

    def reset_client(self, folder):
        """`folder` holds the launcher and the old release, nothing else."""
        if os.path.isdir(folder):
            for entry in os.listdir(folder):
                path = os.path.join(folder, entry)
                if os.path.isdir(path) and not os.path.islink(path):
                    shutil.rmtree(path)
                else:
                    os.remove(path)
        else:
            os.makedirs(folder)
        shutil.copy2(os.path.join(self.bin, "Client"), os.path.join(folder, "Client"))
        for name in self.names:
            target = os.path.join(folder, name)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy2(os.path.join(self.old, name), target)

    # ---- checks ----

    def check_whole(self, folder, context):
        """Every release file is the old or the new version. Returns the number of faults."""
        bad = 0
        for name in self.names:
            path = os.path.join(folder, name)
            if not os.path.isfile(path):
                self.fault(f"{context}: {name} is missing")
                bad += 1
                continue
            got = digest(path)
            if got not in self.digests[name].values():
                self.fault(f"{context}: {name} is torn ({os.path.getsize(path)} bytes, neither version)")
                bad += 1
        return bad

    def strays(self, folder):
        """Entries that a finished folder must not hold; an unfinished resume record counts."""
        found = []
        wanted = set(self.names) | OWN_FILES
        for base, dirs, files in os.walk(folder):
            for name in files:
                rel = os.path.relpath(os.path.join(base, name), folder)
                if rel not in wanted:
                    found.append(rel)
        info = os.path.join(folder, "DownLoadInfo.dat")
        if os.path.exists(info):
            with open(info, "rb") as f:
                if b"[" in f.read():
                    found.append("DownLoadInfo.dat (holds a resume record)")
        return sorted(found)

    def is_exact(self, folder):
        return all(digest(os.path.join(folder, n)) == self.digests[n]["new"]
                   for n in self.names if os.path.isfile(os.path.join(folder, n))) \
            and all(os.path.isfile(os.path.join(folder, n)) for n in self.names)

    def started_count(self, folder):
        try:
            with open(os.path.join(folder, "IClient.started"), "rb") as f:
                return f.read().count(b"\n")
        except FileNotFoundError:
            return 0

    def wait_started(self, folder, before):
        limit = time.monotonic() + STARTED_RECORD_LIMIT_S
        while time.monotonic() < limit:
            if self.started_count(folder) > before:
                time.sleep(0.05)  # the main program exits right after its record
                return True
            time.sleep(0.02)
        return False

    def finished(self, folder, context, started_before):
        """Whether the last run finished the update: the folder holds the new release and the
        main program was started once more. A finished folder with stray entries is a fault."""
        if not self.is_exact(folder) or not self.wait_started(folder, started_before):
            return False
        stray = self.strays(folder)
        if stray:
            self.fault(f"{context}: stray entries after a finished update: {', '.join(stray[:8])}"
                       + (f" and {len(stray) - 8} more" if len(stray) > 8 else ""))
        return True

    def fault(self, text):
        self.faults.append(text)
        print("FAULT: " + text, flush=True)

    # ---- processes ----

    def spawn(self, args, log, **kwargs):
        out = open(log, "ab")
        p = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=out, stderr=out, start_new_session=True, **kwargs)
        out.close()
        self.processes.append(p)
        return p

    def start_server(self):
        log = os.path.join(self.root, "server.log")
        limit = time.monotonic() + SERVER_START_LIMIT_S
        while True:
            mark = os.path.getsize(log) if os.path.exists(log) else 0
            p = self.spawn([os.path.join(self.bin, "zorserver"), "--release", self.new, "--port", str(self.port),
                            "--bind", "127.0.0.1", "--cache", os.path.join(self.root, "cache")], log)
            while time.monotonic() < limit:
                with open(log, "rb") as f:
                    f.seek(mark)
                    if b"listening on" in f.read():
                        self.server = p
                        return
                if p.poll() is not None:
                    break  # the port may still be held after a kill: try again
                time.sleep(0.02)
            if time.monotonic() >= limit:
                raise RuntimeError("zorserver did not start; see " + log)
            time.sleep(0.1)

    def kill_server(self):
        if self.server and self.server.poll() is None:
            self.server.kill()
            self.server.wait()
        self.server = None

    def start_launcher(self, folder, port, tag):
        run_dir = os.path.join(self.root, "run-" + tag)
        os.makedirs(run_dir, exist_ok=True)
        env = dict(os.environ, ZOR_UI="headless", ZOR_LCID="1033", ZOR_REGISTRY_DIR=self.reg_dir(port),
                   ZOR_RUNTIME_DIR=run_dir, ZOR_DEMO_HOLD_MS="0")
        return self.spawn([os.path.join(folder, "Client")], os.path.join(self.root, f"launcher-{tag}.log"),
                          cwd=folder, env=env)

    def wait_launcher(self, p, context):
        try:
            p.wait(timeout=LAUNCHER_LIMIT_S)
            return True
        except subprocess.TimeoutExpired:
            self.fault(f"{context}: the launcher did not end within {LAUNCHER_LIMIT_S} s")
            os.killpg(p.pid, signal.SIGKILL)
            p.wait()
            return False

    def update_to_end(self, folder, port, tag, context):
        """Runs the launcher until an update finishes (as a user starts it again after it
        gave up). Returns the number of runs, or 0 when it never finished."""
        for run in range(1, MAX_RUNS_PER_UPDATE + 1):
            before = self.started_count(folder)
            p = self.start_launcher(folder, port, tag)
            if not self.wait_launcher(p, context):
                return 0
            self.check_whole(folder, context)
            if self.finished(folder, context, before):
                return run
        self.fault(f"{context}: no update finished in {MAX_RUNS_PER_UPDATE} runs")
        return 0

    def stop_all(self):
        if self.proxy:
            self.proxy.stop()
        for p in self.processes:
            if p.poll() is None:
                try:
                    os.killpg(p.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                p.wait()
        for mount in reversed(self.mounts):
            subprocess.run(["umount", mount], stderr=subprocess.DEVNULL)
        shutil.rmtree(self.root, ignore_errors=True)

    # ---- scenarios ----

    def scenario_launcher_kills(self):
        folder = os.path.join(self.root, "client-kills")
        self.reset_client(folder)
        start = time.monotonic()
        self.update_to_end(folder, self.port, "kills", "launcher kills (timing run)")
        full = max(time.monotonic() - start, 1.0)
        kills = rounds = finished = torn = 0
        while kills < self.count:
            self.reset_client(folder)
            rounds += 1
            gave_up = 0
            while kills < self.count:
                before = self.started_count(folder)
                p = self.start_launcher(folder, self.port, "kills")
                try:
                    # Each run resumes where the last one was killed, so short lives still reach
                    # every phase: the start, the file list, each transfer and each replacement.
                    p.wait(timeout=self.random.uniform(0.05, min(full * 1.2, KILL_WITHIN_S)))
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
                    kills += 1
                    torn += self.check_whole(folder, f"launcher kill {kills}")
                    continue
                # It ended on its own: the update is done, or it gave up and is run again.
                torn += self.check_whole(folder, f"launcher kills round {rounds}")
                if self.finished(folder, f"launcher kills round {rounds}", before):
                    finished += 1
                    break
                gave_up += 1
                if gave_up == MAX_RUNS_PER_UPDATE:
                    self.fault(f"launcher kills round {rounds}: {gave_up} runs ended without finishing the update")
                    break
            if gave_up == MAX_RUNS_PER_UPDATE:
                break
        # The last round's folder is finished by a run without kills.
        if self.update_to_end(folder, self.port, "kills", "launcher kills (final run)"):
            finished += 1
        print(f"launcher kills: {kills} SIGKILLs in {rounds} updates (a whole update took {full:.1f} s), "
              f"{torn} torn or lost files, {finished} updates finished exact with the main program started",
              flush=True)

    def scenario_server_kills(self):
        rounds = max(1, self.count // 5)
        clients = [os.path.join(self.root, f"client-server-{i}") for i in range(4)]
        torn = finished = gave_up = reruns = 0
        for round_ in range(1, rounds + 1):
            launchers = []
            for i, folder in enumerate(clients):
                self.reset_client(folder)
                launchers.append((folder, self.started_count(folder), self.start_launcher(folder, self.port, f"s{i}")))
            time.sleep(self.random.uniform(0.3, 4.0))
            self.kill_server()
            for folder, _, _ in launchers:
                torn += self.check_whole(folder, f"server kill {round_}")
            self.start_server()
            for i, (folder, before, p) in enumerate(launchers):
                context = f"server kill {round_}, launcher {i + 1}"
                if not self.wait_launcher(p, context):
                    continue
                torn += self.check_whole(folder, context)
                if self.finished(folder, context, before):
                    finished += 1
                    continue
                gave_up += 1
                runs = self.update_to_end(folder, self.port, f"s{i}", context)
                if runs:
                    finished += 1
                    reruns += runs
        print(f"server kills: {rounds} SIGKILLs and restarts of zorserver during updates of 4 launchers, "
              f"{torn} torn or lost files, {finished} of {rounds * 4} launchers finished exact "
              f"({gave_up} gave up while the server was away and finished in {reruns} runs started again)", flush=True)

    def scenario_connection_cuts(self):
        proxy = self.proxy = CuttingProxy(self.port, self.count, self.random)
        proxy.start()
        folder = os.path.join(self.root, "client-cuts")
        runs = rounds = finished = torn = 0
        while proxy.cuts < self.count:
            self.reset_client(folder)
            rounds += 1
            for _ in range(MAX_RUNS_PER_UPDATE * 4):
                before = self.started_count(folder)
                p = self.start_launcher(folder, proxy.port, "cuts")
                runs += 1
                if not self.wait_launcher(p, "connection cuts"):
                    break
                torn += self.check_whole(folder, f"connection cuts run {runs}")
                if self.finished(folder, f"connection cuts round {rounds}", before):
                    finished += 1
                    break
            else:
                self.fault("connection cuts: an update did not finish in {} runs".format(MAX_RUNS_PER_UPDATE * 4))
                break
        proxy.stop()
        print(f"connection cuts: {proxy.cuts} cuts at random byte offsets over {proxy.connections} connections, "
              f"{runs} launcher runs for {rounds} updates, {torn} torn or lost files, {finished} updates finished exact",
              flush=True)

    def scenario_full_disk(self):
        small = os.path.join(self.root, "small-disk")
        os.makedirs(small)
        needed = sum(os.path.getsize(os.path.join(self.old, n)) for n in self.names) \
            + os.path.getsize(os.path.join(self.bin, "Client"))
        # Room for the old release and a tenth of the new: the update (a quarter larger) cannot fit.
        size = needed + self.release_bytes // 10
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", small],
                                 stderr=subprocess.PIPE, text=True)
        if mounted.returncode != 0:
            print(f"full disk: skipped: cannot mount a tmpfs here ({mounted.stderr.strip() or 'mount failed'})",
                  flush=True)
            return
        self.mounts.append(small)
        folder = os.path.join(small, "client")
        self.reset_client(folder)
        log = os.path.join(self.root, "launcher-disk.log")
        before = self.started_count(folder)
        p = self.start_launcher(folder, self.port, "disk")
        torn = 0
        if not self.wait_launcher(p, "full disk"):
            return
        torn += self.check_whole(folder, "full disk")
        filled = not self.is_exact(folder)
        stray = self.strays(folder)
        with open(log, "rb") as f:
            messages = [line for line in f.read().decode("utf-8", "replace").splitlines() if "space" in line.lower()]
        if not filled:
            self.fault("full disk: the update finished although the disk was too small")
        elif self.started_count(folder) > before:
            self.fault("full disk: the main program was started over an unfinished update")
        subprocess.run(["mount", "-o", f"remount,size={needed + self.release_bytes * 3}", small], check=True)
        runs = self.update_to_end(folder, self.port, "disk", "full disk (space freed)")
        print(f"full disk: a {size / 1e6:.1f} MB tmpfs filled during the update, {torn} torn or lost files, "
              f"{len(stray)} leftovers while full{' (' + ', '.join(stray[:4]) + ')' if stray else ''}, "
              f"{'finished exact after space was freed (' + str(runs) + ' run)' if runs else 'NOT finished after space was freed'}; "
              f"message: {messages[0].strip() if messages else '(none about space)'}", flush=True)

    def scenario_read_only(self):
        """The client folder on a file system mounted read-only: nothing may change, nothing
        may start; once it is writable again the update finishes."""
        small = os.path.join(self.root, "small-disk")
        if small not in self.mounts:
            print("read-only folder: skipped: no tmpfs of its own (see the full-disk line)", flush=True)
            return
        folder = os.path.join(small, "client")
        self.reset_client(folder)
        subprocess.run(["mount", "-o", "remount,ro", small], check=True)
        before = self.started_count(folder)
        p = self.start_launcher(folder, self.port, "read-only")
        ended = self.wait_launcher(p, "read-only folder")
        torn = self.check_whole(folder, "read-only folder")
        if ended and self.started_count(folder) > before:
            self.fault("read-only folder: the main program was started over an update that could not run")
        subprocess.run(["mount", "-o", "remount,rw", small], check=True)
        with open(os.path.join(self.root, "launcher-read-only.log"), "rb") as f:
            errors = [line for line in f.read().decode("utf-8", "replace").splitlines() if line.startswith("[Error]")]
        runs = self.update_to_end(folder, self.port, "read-only", "read-only folder (made writable)")
        print(f"read-only folder: {torn} torn or lost files, {len(errors)} error messages "
              f"({len(set(errors))} different), "
              f"{'finished exact once writable (' + str(runs) + ' run)' if runs else 'NOT finished once writable'}; "
              f"first message: {errors[0] if errors else '(none)'}", flush=True)

    def run(self):
        try:
            self.make_release(300)
            self.start_server()
            self.scenario_launcher_kills()
            self.scenario_server_kills()
            self.scenario_connection_cuts()
            self.scenario_full_disk()
            self.scenario_read_only()
        finally:
            self.stop_all()
        if self.faults:
            print(f"{len(self.faults)} faults", flush=True)
            return 1
        return 0


class CuttingProxy:
    """Forwards 127.0.0.1 connections to the server; until `budget` cuts are made, it cuts
    some of them after a random number of bytes (both directions counted), with a reset."""

    def __init__(self, target_port, budget, rng):
        self.target = target_port
        self.budget = budget
        self.random = rng
        self.cuts = 0
        self.connections = 0
        self.lock = threading.Lock()
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(64)
        self.port = self.listener.getsockname()[1]
        self.stopping = False

    def start(self):
        threading.Thread(target=self.accept_loop, daemon=True).start()

    def stop(self):
        if not self.stopping:
            self.stopping = True
            self.listener.close()

    def accept_loop(self):
        while not self.stopping:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            with self.lock:
                self.connections += 1
                cut_at = self.random.randint(0, 120000) if self.cuts < self.budget and self.random.random() < 0.6 else None
            threading.Thread(target=self.pump, args=(client, cut_at), daemon=True).start()

    def pump(self, client, cut_at):
        try:
            server = socket.create_connection(("127.0.0.1", self.target))
        except OSError:
            client.close()
            return
        moved = 0
        sockets = [client, server]
        try:
            while True:
                readable, _, _ = select.select(sockets, [], [], 30)
                if not readable:
                    break
                for s in readable:
                    data = s.recv(65536)
                    if not data:
                        return
                    if cut_at is not None and moved + len(data) >= cut_at:
                        with self.lock:
                            if self.cuts < self.budget:
                                self.cuts += 1
                                keep = cut_at - moved
                                (server if s is client else client).sendall(data[:keep])
                                for sock in sockets:  # a reset, as a broken line gives
                                    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                                return
                            cut_at = None
                    (server if s is client else client).sendall(data)
                    moved += len(data)
        except OSError:
            pass
        finally:
            client.close()
            server.close()


def main():
    if len(sys.argv) != 3 or not sys.argv[1].isdigit() or int(sys.argv[1]) < 1:
        print(__doc__.strip().splitlines()[-2].strip(), file=sys.stderr)
        return 2
    return Soak(int(sys.argv[1]), sys.argv[2]).run()


if __name__ == "__main__":
    sys.exit(main())
