#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A site under faults, for a set time, then every sign accounted for (run by scripts/soak.sh).

Two brokers bridged as packaging/mosquitto/painel-sinaletico-ponte.conf bridges them, posts in
their windows on virtual panels with the cable's echo, and two control rooms, all listing both
brokers, under one Xvfb. For the set time the script chooses signs as people would: in a control
room's window (Ctrl+A and a key, or Escape for "PARAR EM TODOS"), on a post's own keys, and on a
post's command line; and at random moments it kills (SIGKILL) and starts again a broker, a post or
the first control room. The second control room and the first post are never killed: their
memory and open files are sampled throughout.

At the end, from the panels' frame logs and the programs' journals:
- every sign on each line was journaled by its post, in order, from a choice somebody made
  (nothing sent that nobody chose); a post killed may take its last entries with it, and a sign
  on the line just before a kill is counted as such, never more than the kill could explain;
- every send the journal calls "enviado" is on the line, and none is "confirmado" that is not
  (nothing confirmed that was not on the line);
- each request of a control room was carried out at most once by each post, and each post it
  named has its answer or "sem resposta" in that control room's journal, unless the control
  room was killed while it waited; an answer "confirmado" has its post's entry and its sign on
  the line;
- each command line that said the sign went out has its entry and its sign on the line;
- the memory and file descriptors of the processes never killed stay flat.
Writes soak.json beside its logs and exits 1 when anything is not accounted for.
"""
import argparse
import json
import os
import random
import re
import shutil
import signal
import socket
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time

CODES = {"Esquerda": 1, "Frente": 2, "Direita": 3, "Parar": 4, "Xadrez": 7}
# The windows' keys 1 to 5 are the signs in screen order.
KEYS = ["Parar", "Frente", "Esquerda", "Direita", "Xadrez"]
ANSWERS = {"confirmação", "falha", "sem eco", "recusado", "pedido expirado", "resposta tardia", "sem resposta"}
WAIT_S = 2.0  # how long a control room waits for an answer


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def within(seconds, test):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = test()
        if value:
            return value
        time.sleep(0.1)
    return None


class Site:
    def __init__(self, args, scratch):
        self.args = args
        self.build = args.build
        self.scratch = scratch
        self.procs = {}  # name -> Popen
        self.events = []  # (wall time, what) of the script's own doings
        self.display = None
        self.started = {}  # name -> wall time it was last started

    def log(self, what):
        self.events.append((time.time(), what))
        if self.args.verbose:
            print(f"{time.strftime('%H:%M:%S')} {what}", flush=True)

    def spawn(self, name, argv, env=None, pass_fds=()):
        with open(os.path.join(self.scratch, f"{name}.log"), "ab") as out:
            proc = subprocess.Popen(argv, env=env, stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, start_new_session=True,
                                    pass_fds=pass_fds)
        self.procs[name] = proc
        return proc

    def alive(self, name):
        proc = self.procs.get(name)
        return proc is not None and proc.poll() is None

    def kill(self, name, sig=signal.SIGKILL):
        proc = self.procs.get(name)
        if proc is None or proc.poll() is not None:
            return
        proc.send_signal(sig)
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()

    # The display and its window manager, so that windows take keys as a desk's would.
    def start_display(self):
        r, w = os.pipe()
        self.spawn("xvfb", ["Xvfb", "-displayfd", str(w), "-screen", "0", "1600x1000x24", "-nolisten", "tcp"], pass_fds=(w,))
        os.close(w)
        with os.fdopen(r) as pipe:
            self.display = ":" + pipe.readline().strip()
        # A window that comes up (a post started again) must not take the keys meant for another.
        rc = os.path.join(self.scratch, "openbox.xml")
        with open(rc, "w") as f:
            f.write('<openbox_config xmlns="http://openbox.org/3.4/rc"><focus><focusNew>no</focusNew></focus></openbox_config>\n')
        self.spawn("openbox", ["openbox", "--config-file", rc], env=dict(os.environ, DISPLAY=self.display))

    # Two brokers, the second bridged to the first: what is published on either reaches the other.
    def start_brokers(self):
        self.ports = {"broker-a": free_port(), "broker-b": free_port()}
        a = f"listener {self.ports['broker-a']} 127.0.0.1\nallow_anonymous true\npersistence false\n"
        b = (f"listener {self.ports['broker-b']} 127.0.0.1\nallow_anonymous true\npersistence false\n"
             f"connection painel-sinaletico-ponte\naddress 127.0.0.1:{self.ports['broker-a']}\n"
             "topic painel-sinaletico/# both 1\ntopic painel-central/# both 1\n"
             "remote_clientid painel-sinaletico-ponte\ncleansession false\nrestart_timeout 1 2\nnotifications false\n")
        for name, text in (("broker-a", a), ("broker-b", b)):
            with open(os.path.join(self.scratch, f"{name}.conf"), "w") as f:
                f.write(text)
            self.start_broker(name)

    def start_broker(self, name):
        self.spawn(name, ["mosquitto", "-c", os.path.join(self.scratch, f"{name}.conf")])
        port = self.ports[name]
        if not within(10, lambda: self.accepts(port)):
            raise RuntimeError(f"{name} did not start")

    @staticmethod
    def accepts(port):
        try:
            socket.create_connection(("127.0.0.1", port), 0.5).close()
            return True
        except OSError:
            return False

    def hosts(self):
        return f"127.0.0.1:{self.ports['broker-a']},127.0.0.1:{self.ports['broker-b']}"

    def home(self, name):
        return os.path.join(self.scratch, name)

    def env(self, name):
        home = self.home(name)
        return dict(os.environ, HOME=home, XDG_CONFIG_HOME=f"{home}/config", XDG_STATE_HOME=f"{home}/state", XDG_RUNTIME_DIR=f"{home}/run",
                    DISPLAY=self.display, DBUS_SESSION_BUS_ADDRESS="disabled:", QT_QPA_PLATFORM="xcb")

    def make_home(self, name):
        home = self.home(name)
        os.makedirs(f"{home}/config/painel-sinaletico")
        os.makedirs(f"{home}/state")
        os.makedirs(f"{home}/run", mode=0o700)
        return home

    # A post: its virtual panel, with the cable's echo, and the program in its window.
    def add_post(self, n):
        name = f"posto-{n}"
        home = self.make_home(name)
        panel = self.spawn(f"painel-{n}", [f"{self.build}/painel-monitor", "--pty", "--eco"])
        log = os.path.join(self.scratch, f"painel-{n}.log")
        pty = within(10, lambda: open(log).readline().strip())
        if not pty or panel.poll() is not None:
            raise RuntimeError(f"virtual panel {n} did not start")
        os.symlink(pty, f"{home}/config/painel-sinaletico/com1")
        with open(f"{home}/config/painel-sinaletico/painel-sinaletico.conf", "w") as f:
            f.write(f"[mqtt]\nhost={self.hosts()}\nid={name}\nnome=Posto {n}\ngrupo=Sector {1 + (n - 1) % 2}\n[eco]\ncom1=true\n")
        self.start_post(name)

    def start_post(self, name):
        self.started[name] = time.time()
        self.spawn(name, [f"{self.build}/painel-sinaletico"], env=self.env(name))
        self.log(f"start {name}")

    def add_central(self, name):
        home = self.make_home(name)
        with open(f"{home}/config/painel-sinaletico/painel-central.conf", "w") as f:
            f.write(f"[mqtt]\nhost={self.hosts()}\nid={name}\n")
        self.start_central(name)

    def start_central(self, name):
        self.spawn(name, [f"{self.build}/painel-central"], env=self.env(name))
        self.log(f"start {name}")

    def window(self, name):
        proc = self.procs.get(name)
        if proc is None or proc.poll() is not None:
            return None
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(proc.pid)], env=dict(os.environ, DISPLAY=self.display),
                               capture_output=True, text=True, timeout=10).stdout.split()
        return found[0] if found else None

    def keys(self, name, *keys):
        wid = self.window(name)
        if wid is None:
            return False
        try:
            done = subprocess.run(["xdotool", "windowactivate", "--sync", wid, "key", "--clearmodifiers", *keys],
                                  env=dict(os.environ, DISPLAY=self.display), capture_output=True, timeout=10)
        except subprocess.TimeoutExpired:
            return False
        return done.returncode == 0

    def command_line(self, name, sign):
        try:
            done = subprocess.run([f"{self.build}/painel-sinaletico", "--sinal", sign], env=self.env(name), capture_output=True, text=True, timeout=15)
        except subprocess.TimeoutExpired:
            return None, "no answer in 15 s"
        return done.returncode, (done.stdout + done.stderr).strip()


def sample(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
        return rss, len(os.listdir(f"/proc/{pid}/fd"))
    except (OSError, StopIteration):
        return None


def rows(path, query):
    """A journal's rows, read from a copy so that a program still writing it is not disturbed."""
    if not os.path.exists(path):
        return []
    with tempfile.TemporaryDirectory() as d:
        copy = os.path.join(d, "j.sqlite")
        for suffix in ("", "-wal"):
            if os.path.exists(path + suffix):
                shutil.copy(path + suffix, copy + suffix)
        db = sqlite3.connect(copy)
        db.row_factory = sqlite3.Row
        try:
            return [dict(r) for r in db.execute(query)]
        finally:
            db.close()


def line_signs(log):
    """The sign codes the virtual panel received, in order, each with whether its cable's echo
    was cut then."""
    codes = []
    cut = False
    with open(log, errors="replace") as f:
        for line in f:
            m = re.match(r"^[0-9.]+  A5 79 5A 7B ([0-9A-F]{2})  set_sign_code", line)
            if m:
                codes.append((int(m.group(1), 16), cut))
            elif "eco: cabo cortado" in line:
                cut = True
            elif "eco: cabo ligado de novo" in line:
                cut = False
    return codes


def request_of(detail):
    m = re.search(r"pedido (\S+?)(?:;|,|$|\s)", detail or "")
    return m.group(1) if m else None


class Accounts:
    def __init__(self):
        self.problems = []
        self.figures = {}

    def wrong(self, text):
        self.problems.append(text)

    def add(self, key, n=1):
        self.figures[key] = self.figures.get(key, 0) + n


def account_post(site, name, n, acc, lives):
    """The line against the post's journal, over all its lives."""
    journal = f"{site.home(name)}/state/painel-sinaletico/registo.sqlite"
    entries = rows(journal, "SELECT id, utc_ms, origem, acao, sinal, resultado, eco, pormenor FROM registo ORDER BY id")
    sends = [e for e in entries if e["sinal"] and e["acao"] in ("arranque", "sinal", "fim de duração") or (e["origem"] == "central" and e["sinal"] and e["resultado"] in ("enviado", "porta não abriu", "falhou na escrita"))]
    line = line_signs(os.path.join(site.scratch, f"painel-{n}.log"))
    starts = sum(1 for e in entries if e["acao"] == "arranque")
    if starts != lives:
        acc.wrong(f"{name}: {starts} start-ups journaled for {lives} starts")
    # Walk the line and the journal's sends together; a sign on the line without its entry is
    # allowed only where a kill cut the post's life short (its next entry is a start-up).
    i = 0
    unjournaled = 0
    for k, e in enumerate(sends):
        out = e["resultado"] == "enviado"
        if not out:
            continue
        code = CODES[e["sinal"]]
        skipped = []
        while i < len(line) and line[i][0] != code:
            skipped.append(line[i][0])
            i += 1
        if i == len(line):
            acc.wrong(f"{name}: entry {e['id']} says {e['sinal']} was sent ({e['eco']}), but it is not on the line after what came before")
            return
        if skipped:
            if e["acao"] != "arranque":
                acc.wrong(f"{name}: {len(skipped)} sign(s) on the line nobody journaled before entry {e['id']} ({e['sinal']}): codes {skipped}")
            unjournaled += len(skipped)
        if e["eco"] == "confirmado":
            acc.add("confirmed on the cable, on the line")
            if line[i][1]:
                acc.wrong(f"{name}: entry {e['id']} says {e['sinal']} came back on the cable, which was cut then")
        elif line[i][1]:
            acc.add("sent while the cable was cut, not confirmed")
        i += 1
        acc.add("line signs journaled")
    if i < len(line):
        acc.wrong(f"{name}: {len(line) - i} sign(s) at the end of the line that nobody journaled: codes {[c for c, _ in line[i:]]}")
    if unjournaled > lives - 1:
        acc.wrong(f"{name}: {unjournaled} signs lost from the journal, more than {lives - 1} kills could take")
    acc.add("line signs lost with a killed post", unjournaled)
    for e in entries:
        if e["origem"] in ("segurança",) and e["sinal"]:
            acc.wrong(f"{name}: entry {e['id']} chose {e['sinal']} by itself ({e['origem']}) though no safe state is set")
    return entries


def run(args):
    scratch = args.keep or tempfile.mkdtemp(prefix="painel-soak-")
    os.makedirs(scratch, exist_ok=True)
    site = Site(args, scratch)
    rng = random.Random(args.seed)
    acc = Accounts()
    centrals = ["central-a", "central-b"]
    posts = [f"posto-{n}" for n in range(1, args.posts + 1)]
    lives = {name: 1 for name in posts + centrals}
    actions = []  # what the script asked, for the accounts
    samples = {}
    central_kills = []  # (name, wall time) of each control room killed
    try:
        site.start_display()
        site.start_brokers()
        for n in range(1, args.posts + 1):
            site.add_post(n)
        for name in centrals:
            site.add_central(name)
        # Everyone on a broker, and their windows up, before the clock starts.
        def connected(name):
            journal = "registo-central.sqlite" if name in centrals else "registo.sqlite"
            said = rows(f"{site.home(name)}/state/painel-sinaletico/{journal}", "SELECT id FROM registo WHERE resultado = 'MQTT ligado'")
            return bool(said) and site.window(name) is not None
        if not within(60, lambda: all(connected(name) for name in posts + centrals)):
            raise RuntimeError("the site did not come up in 60 s")
        time.sleep(2)
        start = time.time()
        end = start + args.minutes * 60
        print(f"soak: {args.posts} posts, 2 bridged brokers, 2 control rooms, {args.minutes} min, seed {args.seed}, logs in {scratch}", flush=True)
        down = {}  # name -> wall time it comes back

        def bring_back(name):
            if name.startswith("broker"):
                site.start_broker(name)
                site.log(f"start {name}")
            else:
                lives[name] += 1
                (site.start_post if name.startswith("posto") else site.start_central)(name)

        next_fault = start + rng.uniform(*args.fault_every)
        kinds = []
        cuts = []  # (when it is mended, panel)
        next_sample = start
        witnesses = ["posto-1", "central-b"] + [f"painel-{n}" for n in range(1, args.posts + 1)]
        while time.time() < end:
            now = time.time()
            for name, back in list(down.items()):
                if now >= back:
                    del down[name]
                    bring_back(name)
            for back, n in [c for c in cuts if c[0] <= now]:
                cuts.remove((back, n))
                site.procs[f"painel-{n}"].send_signal(signal.SIGUSR1)
                site.log(f"mended painel-{n}'s cable")
            # Nothing ends but by the script's hand: a crash is a fault found, and the site goes on.
            for name in ["broker-a", "broker-b"] + posts + centrals + [f"painel-{n}" for n in range(1, args.posts + 1)]:
                if name not in down and not site.alive(name):
                    acc.wrong(f"{name} ended by itself (exit status {site.procs[name].returncode})")
                    if name.startswith("painel"):
                        raise RuntimeError(f"virtual panel {name} ended")
                    down[name] = now
            if now >= next_fault and now < end - 20:
                # Each kind of fault in turn, in an order drawn anew each round; one broker at a
                # time, as a broken machine leaves the site the other.
                if not kinds:
                    kinds = rng.sample(["broker", "posto", "central", "cabo"], 4)
                kind = kinds.pop()
                if kind == "broker":
                    choices = [] if any(b in down for b in ("broker-a", "broker-b")) else ["broker-a", "broker-b"]
                elif kind == "posto":
                    # Not one just started: its start-up would not be journaled yet, and a
                    # start-up unaccounted for is a fault of the soak, not of the post.
                    choices = [p for p in posts[1:] if p not in down and time.time() - site.started.get(p, 0) > 5]
                elif kind == "cabo":
                    # The cable's echo cut for a while at one panel: its sends then are no proof.
                    n = rng.randint(1, args.posts)
                    site.procs[f"painel-{n}"].send_signal(signal.SIGUSR1)
                    site.log(f"cut painel-{n}'s cable")
                    acc.add("cables cut")
                    cuts.append((time.time() + rng.uniform(2, 8), n))
                    next_fault = time.time() + rng.uniform(*args.fault_every)
                    continue
                else:
                    choices = [] if "central-a" in down else ["central-a"]
                if not choices:
                    next_fault = time.time() + 1
                    continue
                victim = rng.choice(choices)
                site.kill(victim)
                site.log(f"kill {victim}")
                acc.add(f"killed: {victim.split('-')[0]}")
                if victim in centrals:
                    central_kills.append((victim, time.time()))
                down[victim] = time.time() + (rng.uniform(2, 8) if victim.startswith("broker") else rng.uniform(0.5, 3))
                next_fault = time.time() + rng.uniform(*args.fault_every)
            if now >= next_sample:
                for w in witnesses:
                    s = sample(site.procs[w].pid)
                    if s:
                        samples.setdefault(w, []).append((now - start, *s))
                next_sample = now + 5
            kind = rng.choices(["central", "stop all", "key", "command line"], weights=[3, 1, 3, 3])[0]
            sign = rng.choice(KEYS)
            at = time.time()
            if kind in ("central", "stop all"):
                who = rng.choice(centrals)
                keys = ["Escape"] if kind == "stop all" else ["ctrl+a", str(KEYS.index(sign) + 1)]
                ok = site.keys(who, *keys)
                actions.append({"at": at, "kind": kind, "who": who, "sign": "Parar" if kind == "stop all" else sign, "done": ok})
            elif kind == "key":
                who = rng.choice(posts)
                ok = site.keys(who, str(KEYS.index(sign) + 1))
                actions.append({"at": at, "kind": kind, "who": who, "sign": sign, "done": ok})
            else:
                who = rng.choice(posts)
                rc, said = site.command_line(who, sign)
                actions.append({"at": at, "kind": kind, "who": who, "sign": sign, "rc": rc, "said": said})
            time.sleep(rng.uniform(*args.pace))
        # Everything back, every wait over, then the programs closed as a user closes them.
        for _, n in cuts:
            site.procs[f"painel-{n}"].send_signal(signal.SIGUSR1)
        for name in list(down):
            bring_back(name)
        time.sleep(WAIT_S + 3)
        for name in centrals + posts:
            site.kill(name, signal.SIGTERM)
        elapsed = time.time() - start
    finally:
        for name in list(site.procs):
            site.kill(name, signal.SIGTERM)
    account(site, args, acc, posts, centrals, lives, actions, central_kills, samples)
    acc.figures["minutes"] = round(elapsed / 60, 1)
    acc.figures["actions"] = len(actions)
    report = {"figures": acc.figures, "problems": acc.problems, "seed": args.seed, "posts": args.posts, "actions": actions, "events": site.events,
              "samples": samples}
    with open(os.path.join(scratch, "soak.json"), "w") as f:
        json.dump(report, f, indent=1, ensure_ascii=False)
    return conclude(args, scratch, acc)


def reaccount(args):
    """The accounts of a run kept with --keep, again, from its soak.json, logs and journals."""
    with open(os.path.join(args.account, "soak.json")) as f:
        saved = json.load(f)
    site = Site(args, args.account)
    posts = [f"posto-{n}" for n in range(1, saved["posts"] + 1)]
    centrals = ["central-a", "central-b"]
    lives = {name: sum(1 for _, what in saved["events"] if what == f"start {name}") for name in posts + centrals}
    central_kills = [(what.split()[1], t) for t, what in saved["events"] if what.startswith("kill central")]
    acc = Accounts()
    account(site, args, acc, posts, centrals, lives, saved["actions"], central_kills, saved.get("samples", {}))
    for key in ("minutes", "actions") + (() if "samples" in saved else ("memory and descriptors (second third, last third)",)):
        acc.figures[key] = saved["figures"][key]
    args.keep = args.account
    return conclude(args, args.account, acc)


def conclude(args, scratch, acc):
    for key in sorted(acc.figures):
        print(f"  {key}: {acc.figures[key]}")
    if acc.problems:
        print(f"soak: {len(acc.problems)} thing(s) not accounted for (logs in {scratch}):", file=sys.stderr)
        for p in acc.problems[:50]:
            print(f"  {p}", file=sys.stderr)
        return 1
    print("soak: every sign accounted for")
    if not args.keep:
        shutil.rmtree(scratch, ignore_errors=True)
    return 0


def account(site, args, acc, posts, centrals, lives, actions, central_kills, samples):
    carried = {}  # (post, request) -> how many times its journal says it was carried out
    echoes = {}  # (post, request) -> its cable's echo, as its journal says
    for n, name in enumerate(posts, start=1):
        entries = account_post(site, name, n, acc, lives[name]) or []
        for e in entries:
            r = request_of(e["pormenor"])
            if r and e["resultado"] == "enviado":
                carried[(name, r)] = carried.get((name, r), 0) + 1
                echoes[(name, r)] = e["eco"]
                # Before the post has heard a control room's clock tick, its request is any
                # program's: carried out, journaled "remoto", its origin in the detail.
                if e["origem"] != "central":
                    acc.add("control-room requests taken before its clock was heard (journaled remoto)")
        keyed = sum(1 for e in entries if e["origem"] == "teclado" and e["acao"] == "sinal")
        pressed = sum(1 for a in actions if a["kind"] == "key" and a["who"] == name and a["done"])
        acc.add("signs by a post's key", keyed)
        if keyed > pressed:
            acc.wrong(f"{name}: {keyed} signs by key journaled, {pressed} keys pressed")
        remote = [e for e in entries if e["origem"] == "remoto" and e["acao"] == "sinal" and not request_of(e["pormenor"])]
        runs = [a for a in actions if a["kind"] == "command line" and a["who"] == name]
        for a in runs:
            acc.add(f"command lines: exit {a['rc']}")
            if a["rc"] is None:
                acc.wrong(f"{name}: a command line had no answer in 15 s ({a['sign']})")
        said_sent = [a for a in runs if a["rc"] in (0, 5)]
        acc.add("command lines that said sent", len(said_sent))
        sent_remote = [e for e in remote if e["resultado"] == "enviado"]
        if len(sent_remote) < len(said_sent):
            acc.wrong(f"{name}: {len(said_sent)} command lines said sent, {len(sent_remote)} journaled")
        if len(remote) > sum(1 for a in actions if a["kind"] == "command line" and a["who"] == name):
            acc.wrong(f"{name}: more command-line signs journaled than the script ran")
    for (name, r), times in carried.items():
        if times > 1:
            acc.wrong(f"{name}: request {r} carried out {times} times")
    acc.add("requests carried out by posts", len(carried))
    for central in centrals:
        journal = f"{site.home(central)}/state/painel-sinaletico/registo-central.sqlite"
        entries = rows(journal, "SELECT id, utc_ms, acao, resultado, pormenor FROM registo ORDER BY id")
        asked = {}
        for e in entries:
            if e["acao"] == "pedido":
                r = request_of(e["pormenor"])
                targets = e["pormenor"].split(": ", 1)[1].split(";")[0].split(", ") if ": " in e["pormenor"] else []
                asked[r] = {"at": e["utc_ms"] / 1000, "targets": [t for t in targets if t], "answers": {}}
        for e in entries:
            if e["acao"] in ANSWERS:
                r = request_of(e["pormenor"])
                post = e["pormenor"].split(" ")[0].rstrip(";")
                if r in asked:
                    asked[r]["answers"].setdefault(post, []).append((e["acao"], e["resultado"]))
        pressed = sum(1 for a in actions if a["who"] == central and a["done"])
        acc.add("requests by the control rooms", len(asked))
        if len(asked) > pressed:
            acc.wrong(f"{central}: {len(asked)} requests journaled, {pressed} keys pressed")
        for r, q in asked.items():
            killed = any(c == central and q["at"] - 1 <= t <= q["at"] + WAIT_S + 1 for c, t in central_kills)
            for post in q["targets"]:
                said = q["answers"].get(post)
                if not said:
                    if killed:
                        acc.add("waits cut short by a killed control room")
                    else:
                        acc.wrong(f"{central}: request {r} to {post} has neither an answer nor \"sem resposta\"")
                    continue
                acc.add(f"answers: {said[0][0]}")
                if said[0][0] == "confirmação" and said[0][1] == "confirmado no cabo" and (carried.get((post, r), 0) != 1 or echoes[(post, r)] != "confirmado"):
                    acc.wrong(f"{central}: told {post} confirmed request {r} on the cable, which its journal does not show")
    for (name, r) in carried:
        if not any(r and r.startswith(c + "-") for c in centrals):
            acc.wrong(f"{name}: carried out request {r}, which no control room of the site sent")
    # Flat: the last third's memory and descriptors against the second third's, so that the
    # start's caches are behind. AddressSanitizer keeps freed memory in quarantine, so under it
    # memory is shown, not judged.
    sanitized = "libasan" in subprocess.run(["ldd", f"{args.build}/painel-sinaletico"], capture_output=True, text=True).stdout
    flat = {}
    for w, points in samples.items():
        if len(points) < 6:
            continue
        third = len(points) // 3
        mid = [p for p in points[third:2 * third]]
        last = points[2 * third:]
        rss_mid, rss_last = statistics.median(p[1] for p in mid), statistics.median(p[1] for p in last)
        fd_mid, fd_last = max(p[2] for p in mid), max(p[2] for p in last)
        flat[w] = {"rss_kib": [int(rss_mid), int(rss_last)], "fds": [fd_mid, fd_last]}
        if rss_last > rss_mid + max(4096, rss_mid * 0.1) and not sanitized:
            acc.wrong(f"{w}: memory grew from {rss_mid:.0f} KiB to {rss_last:.0f} KiB")
        if fd_last > fd_mid + 2:
            acc.wrong(f"{w}: file descriptors grew from {fd_mid} to {fd_last}")
    acc.figures["memory and descriptors (second third, last third)"] = flat
    # Under the sanitizers, what they found in any program, a leak at its end included.
    for log in sorted(os.listdir(site.scratch)):
        if log.endswith(".log"):
            with open(os.path.join(site.scratch, log), errors="replace") as f:
                found = [line.strip() for line in f if re.search(r"ERROR: (Address|Leak)Sanitizer|runtime error:", line)]
            if found:
                acc.wrong(f"{log}: {found[0]}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build"))
    parser.add_argument("--minutes", type=float, default=60)
    parser.add_argument("--posts", type=int, default=6)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("--pace", type=float, nargs=2, default=(0.3, 1.5), metavar=("MIN", "MAX"), help="seconds between two choices")
    parser.add_argument("--fault-every", type=float, nargs=2, default=(10, 40), metavar=("MIN", "MAX"), help="seconds between two kills")
    parser.add_argument("--keep", help="keep the logs and journals in this folder")
    parser.add_argument("--verbose", action="store_true")
    parser.add_argument("--account", metavar="DIR", help="only the accounts of a run kept in DIR, again")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    return reaccount(args) if args.account else run(args)


if __name__ == "__main__":
    sys.exit(main())
