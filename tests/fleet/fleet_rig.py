"""A fleet of simulated gateway sites on loopback, for the fleet tools' tests
and benchmark: one gwsim per site on a pseudo-terminal, one ser2net serving
them all over RFC 2217 (a site over TLS with client certificates, its keys
made by openssl at start, never kept), optionally netrelay in front of each
plain site adding a delay each way, and an Ansible inventory of the sites.

As a program it serves a fleet until SIGTERM (scripts/bench-fleet.sh):
    fleet_rig.py --build BUILD --dir DIR --sites 100 [--delay MS] [--pace]
writes DIR/inventory.yml and DIR/addresses (NAME ADDRESS lines), then
DIR/ready.
"""

import argparse
import os
import signal
import socket
import subprocess
import sys
import time

SER2NET = next((p for p in ("/usr/sbin/ser2net", "/usr/bin/ser2net") if os.path.exists(p)), "ser2net")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port):
    """Whether something listens on 127.0.0.1:port, from the kernel's table
    (a trial connection would make ser2net open the line)."""
    wanted = "0100007F:%04X" % port
    with open("/proc/net/tcp") as table:
        return any(f[1] == wanted and f[3] == "0A" for f in (line.split() for line in table.readlines()[1:]))


def wait_for(what, ready, seconds=10):
    deadline = time.monotonic() + seconds
    while not ready():
        if time.monotonic() > deadline:
            raise RuntimeError("waited in vain for " + what)
        time.sleep(0.02)


def settings_with(data, cell, number):
    """A settings file's bytes with one cell's number text replaced, padded
    again with NUL bytes to whole 256-byte blocks."""
    lines = data.rstrip(b"\0").split(b"\r\n")
    prefix = b"%d," % cell
    for i, line in enumerate(lines):
        if line.lstrip().startswith(prefix):
            head, _, rest = line.partition(b'"')
            _, _, tail = rest.partition(b'"')
            lines[i] = head + b'"' + number.encode("cp866") + b'"' + tail
            break
    else:
        raise ValueError("no cell %d" % cell)
    out = b"\r\n".join(lines)
    return out + b"\0" * (-len(out) % 256)


class Site:
    def __init__(self, name, kind):
        self.name = name
        self.kind = kind  # "plain", "tls" or "dead"
        self.port = None  # what tarvelin and the inventory take
        self.address = None  # the network address behind it


class Fleet:
    """Sites under `root` (also the directory tarvelin runs in: address files
    and journals); start() brings them up, stop() ends every process it
    started, by its PID."""

    def __init__(self, build, root, pace=False, delay_ms=0):
        self.build = os.path.abspath(build)
        self.root = os.path.abspath(root)
        self.pace = pace
        self.delay_ms = delay_ms
        self.sites = []
        self.processes = []
        os.makedirs(self.root, exist_ok=True)

    def add(self, name, kind="plain"):
        site = Site(name, kind)
        self.sites.append(site)
        return site

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *_):
        self.stop()

    def spawn(self, args, **kwargs):
        process = subprocess.Popen(args, **kwargs)
        self.processes.append(process)
        return process

    def stop(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
        for process in self.processes:
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        self.processes = []

    def start(self):
        gwsim = os.path.join(self.build, "tarvelin-gwsim")
        log = open(os.path.join(self.root, "gwsim.log"), "ab")
        served = [s for s in self.sites if s.kind != "dead"]
        for site in served:
            link = os.path.join(self.root, "gw-" + site.name)
            self.spawn([gwsim, "--link", link] + (["--pace"] if self.pace else []), stdout=log, stderr=log,
                       cwd=self.root)
        for site in served:
            link = os.path.join(self.root, "gw-" + site.name)
            wait_for("gwsim's " + link, lambda: os.path.islink(link))
        if any(s.kind == "tls" for s in served):
            self.make_keys()
        config = ["%YAML 1.1", "---"]
        ports = {}
        for site in served:
            ports[site.name] = free_port()
            tls = ""
            if site.kind == "tls":
                tls = "ssl(key=%s/server.key,cert=%s/server.crt,clientauth)," % (self.keys, self.keys)
            config += [
                "connection: &%s" % site.name,
                "  accepter: telnet(rfc2217),%stcp(nodelay),127.0.0.1,%d" % (tls, ports[site.name]),
                "  connector: serialdev,%s/gw-%s,115200n81,local" % (self.root, site.name),
                "  options:",
                "    max-connections: 1",
                "    chardelay: false",
            ]
            if site.kind == "tls":
                config.append("    authdir: %s/auth" % self.keys)
        with open(os.path.join(self.root, "ser2net.yaml"), "w") as f:
            f.write("\n".join(config) + "\n")
        if served:
            self.spawn([SER2NET, "-n", "-u", "-c", os.path.join(self.root, "ser2net.yaml")],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for site in served:
            port = ports[site.name]
            wait_for("ser2net on port %d" % port, lambda: listening(port))
        tls_number = 0
        for site in self.sites:
            if site.kind == "dead":
                # Nothing listens there: "отказ в соединении".
                site.port = site.address = "rfc2217://127.0.0.1:%d" % free_port()
            elif site.kind == "tls":
                tls_number += 1
                site.address = "rfc2217s://127.0.0.1:%d" % ports[site.name]
                site.port = "COM%d" % tls_number
                with open(os.path.join(self.root, site.port), "w") as f:
                    f.write("%s\nca=keys/ca.pem\ncert=keys/op.crt\nkey=keys/op.key\n" % site.address)
            else:
                port = ports[site.name]
                if self.delay_ms:
                    port = self.relay(port)
                site.port = site.address = "rfc2217://127.0.0.1:%d" % port

    def relay(self, upstream):
        """netrelay in front of ser2net's port, adding the delay each way; its port."""
        relay = self.spawn([os.path.join(self.build, "tests", "netrelay"), str(upstream), str(self.delay_ms)],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return int(relay.stdout.readline())

    def make_keys(self):
        """A site CA, the server's certificate for 127.0.0.1 signed by it, and
        the operator's certificate that ser2net's authdir allows."""
        self.keys = os.path.join(self.root, "keys")
        os.makedirs(os.path.join(self.keys, "auth", "operator", "allowed_certs"), exist_ok=True)
        ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
        steps = [
            ["req", "-x509"] + ec + ["-days", "2", "-subj", "/CN=Fleet CA", "-keyout", "ca.key", "-out", "ca.pem"],
            ["req"] + ec + ["-subj", "/CN=localhost", "-keyout", "server.key", "-out", "server.csr"],
            ["x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-days", "2",
             "-extfile", "san.ext", "-out", "server.crt"],
            ["req", "-x509"] + ec + ["-days", "2", "-subj", "/CN=operator", "-keyout", "op.key", "-out", "op.crt"],
        ]
        with open(os.path.join(self.keys, "san.ext"), "w") as f:
            f.write("subjectAltName=IP:127.0.0.1\n")
        for step in steps:
            subprocess.run(["openssl"] + step, cwd=self.keys, check=True, capture_output=True)
        os.chmod(os.path.join(self.keys, "op.key"), 0o600)
        allowed = os.path.join(self.keys, "auth", "operator", "allowed_certs")
        with open(os.path.join(self.keys, "op.crt"), "rb") as src, open(os.path.join(allowed, "op.crt"), "wb") as dst:
            dst.write(src.read())
        subprocess.run(["openssl", "rehash", allowed], check=True, capture_output=True)

    def inventory(self, path, gateway_of=None):
        """An inventory of the sites: group gateways, a local connection,
        each site's port (and gateway when gateway_of names one)."""
        lines = [
            "gateways:",
            "  vars:",
            "    ansible_connection: local",
            '    ansible_python_interpreter: "{{ ansible_playbook_python }}"',
            "    tarvelin_dir: %s" % self.root,
            "  hosts:",
        ]
        for site in self.sites:
            lines += ["    %s:" % site.name, "      port: %s" % site.port]
            if gateway_of and site.name in gateway_of:
                lines.append("      gateway: %d" % gateway_of[site.name])
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")


def main():
    parser = argparse.ArgumentParser(description="Serves a fleet of gwsim sites until SIGTERM.")
    parser.add_argument("--build", required=True)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--sites", type=int, default=10)
    parser.add_argument("--delay", type=int, default=0, help="ms added each way by netrelay")
    parser.add_argument("--pace", action="store_true", help="gwsim at 115200 baud")
    args = parser.parse_args()
    fleet = Fleet(args.build, args.dir, pace=args.pace, delay_ms=args.delay)
    for n in range(1, args.sites + 1):
        fleet.add("site%03d" % n)
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    signal.signal(signal.SIGINT, lambda *_: stop.append(1))
    try:
        fleet.start()
        fleet.inventory(os.path.join(args.dir, "inventory.yml"))
        with open(os.path.join(args.dir, "addresses"), "w") as f:
            f.writelines("%s %s\n" % (s.name, s.port) for s in fleet.sites)
        open(os.path.join(args.dir, "ready"), "w").close()
        while not stop:
            signal.pause()
    finally:
        fleet.stop()


if __name__ == "__main__":
    sys.exit(main())
