"""The Ansible collection (contrib/ansible) run by the real ansible-playbook,
with the example playbooks, against a fleet of gwsim sites behind ser2net on
loopback: plain sites, a site over TLS (client certificates) and a site where
nothing listens.

  files   a first run writes what differs and nothing else; a second
          changes nothing; check mode reports and writes nothing; the dead
          site fails alone with its reason and status; drift fails the site
          that drifted; backups are replaced only when they differ.
  byname  (tarvelin's set and diff) the forwarding number set on top of each
          SIM: check mode with --diff shows the change by name and writes
          nothing, a run changes only the sites that differ, a second run
          nothing; a value the forms refuse fails with the tool's reason and
          writes nothing; a settings file's dry run shows its change by name.

  ansible_fleet_test.py BUILD_DIR SOURCE_DIR files|byname
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fleet_rig import Fleet, settings_with  # noqa: E402

SKIP = 77


class Failure(Exception):
    pass


def check(condition, what, *details):
    if not condition:
        raise Failure(what + "".join("\n" + str(d) for d in details))


class Rig:
    def __init__(self, build, source, scratch):
        self.build = build
        self.source = source
        self.scratch = scratch
        self.fleet = Fleet(build, os.path.join(scratch, "fleet"))
        self.tarvelin = os.path.join(build, "tarvelin")
        self.examples = os.path.join(source, "contrib", "ansible", "examples")

    def tool(self, *args):
        """tarvelin in the fleet's directory; (status, stdout, stderr)."""
        r = subprocess.run([self.tarvelin] + list(args), cwd=self.fleet.root, capture_output=True,
                           env=dict(os.environ, LC_ALL="C.UTF-8"))
        return r.returncode, r.stdout.decode("utf-8", "replace"), r.stderr.decode("utf-8", "replace")

    def sim(self, site):
        """The site's SIM as a settings file's bytes."""
        path = os.path.join(self.scratch, "snapshot.set")
        status, _, err = self.tool("backup", site.port, path)
        check(status == 0, "no backup of %s: status %d" % (site.name, status), err)
        with open(path, "rb") as f:
            return f.read()

    def put(self, site, data):
        """Writes settings to the site's SIM directly."""
        path = os.path.join(self.scratch, "put.set")
        with open(path, "wb") as f:
            f.write(data)
        status, _, err = self.tool("restore", site.port, path)
        check(status == 0, "restore to %s: status %d" % (site.name, status), err)

    def playbook(self, name, *options):
        """ansible-playbook with an example playbook; (status, {host: the
        module's result, its "outcome" added: ok, changed, failed}, the
        output)."""
        record = os.path.join(self.scratch, "results.json")
        if os.path.exists(record):
            os.remove(record)
        here = os.path.dirname(os.path.abspath(__file__))
        env = dict(os.environ, LC_ALL="C.UTF-8", LANG="C.UTF-8",
                   ANSIBLE_COLLECTIONS_PATH=os.path.join(self.source, "contrib", "ansible"),
                   ANSIBLE_CALLBACK_PLUGINS=os.path.join(here, "callback_plugins"),
                   ANSIBLE_CALLBACKS_ENABLED="fleet_results", FLEET_RESULTS=record,
                   ANSIBLE_NOCOLOR="1", ANSIBLE_RETRY_FILES_ENABLED="0",
                   ANSIBLE_LOCAL_TEMP=os.path.join(self.scratch, "ansible-local"),
                   ANSIBLE_REMOTE_TEMP=os.path.join(self.scratch, "ansible-remote"),
                   ANSIBLE_CONFIG=os.path.join(self.scratch, "ansible.cfg"),
                   PATH=self.build + os.pathsep + os.environ.get("PATH", ""))
        args = ["ansible-playbook", "-i", os.path.join(self.scratch, "inventory.yml"),
                os.path.join(self.examples, name), "-f", "10"] + list(options)
        r = subprocess.run(args, cwd=self.scratch, capture_output=True, env=env, timeout=300)
        out = r.stdout.decode("utf-8", "replace") + r.stderr.decode("utf-8", "replace")
        check(os.path.exists(record), "ansible-playbook %s: no results (status %d)" % (" ".join(args[3:]), r.returncode),
              out)
        with open(record) as f:
            results = {host: dict(r["result"], outcome=r["outcome"]) for host, r in json.load(f).items()}
        return r.returncode, results, out

    def outcome(self, results):
        """{host: "changed" | "ok" | "failed"}."""
        return {host: r["outcome"] for host, r in results.items()}


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def files_part(rig):
    fleet = rig.fleet
    s1, s2, s3, s4, s5 = (fleet.add("s1"), fleet.add("s2"), fleet.add("s3"), fleet.add("s4", "tls"),
                          fleet.add("s5", "dead"))
    fleet.start()
    fleet.inventory(os.path.join(rig.scratch, "inventory.yml"), gateway_of={"s2": 1})
    sample = rig.sim(s1)
    sites = os.path.join(rig.scratch, "sites")
    os.makedirs(sites)
    wanted = {
        "s1": settings_with(sample, 99, "84957654321"),  # the forwarding number
        "s2": sample,  # as the SIM holds it
        "s3": settings_with(sample, 5, "5550505"),  # a contact
        "s4": settings_with(sample, 99, "84950000004"),  # over TLS
        "s5": sample,
    }
    for name, data in wanted.items():
        write(os.path.join(sites, name + ".set"), data)
    differing = {"s1": 99, "s3": 5, "s4": 99}
    served = (s1, s2, s3, s4)
    vars_ = ["-e", "settings_dir=" + sites]

    def expect(results, outcomes, what):
        got = rig.outcome(results)
        check(got == outcomes, what + ": %s, not %s" % (got, outcomes), json.dumps(results, indent=1, ensure_ascii=False))
        dead = results["s5"]
        check(dead.get("rc") == 3 and u"отказ в соединении" in dead.get("msg", ""),
              what + ": the dead site's failure lacks its status or reason", dead)

    expected_first = {"s1": "changed", "s2": "ok", "s3": "changed", "s4": "changed", "s5": "failed"}
    # Check mode: the differing cell of each site, nothing written.
    status, results, _ = rig.playbook("rollout.yml", "--check", *vars_)
    check(status == 2, "check run: ansible-playbook status %d" % status)
    expect(results, expected_first, "check run")
    for name, cell in differing.items():
        cells = [d["cell"] for d in results[name].get("differences", [])]
        check(cells == [cell], "check run: %s reports cells %s, not [%d]" % (name, cells, cell), results[name])
    for site in served:
        check(rig.sim(site) == sample, "check run wrote to " + site.name)
    print("ok: check mode reports s1, s3, s4, writes nothing; s5 fails alone")

    status, results, output = rig.playbook("rollout.yml", *vars_)
    check(status == 2, "first run: ansible-playbook status %d" % status)
    expect(results, expected_first, "first run")
    for site in served:
        st, out, err = rig.tool("verify", site.port, os.path.join(sites, site.name + ".set"))
        check(st == 0, "first run: %s does not hold its file (verify status %d)" % (site.name, st), out, err)
    recap = {m.group(1): m.group(2) for m in re.finditer(r"^(s[0-9]) +: (ok=.*)$", output, re.M)}
    check("changed=1" in recap.get("s1", "") and "failed=1" in recap.get("s5", "") and
          all("failed=0" in recap.get(n, "") for n in ("s1", "s2", "s3", "s4")), "first run: the recap", output)
    print("ok: the first run writes s1, s3, s4 (TLS), leaves s2; s5 fails alone")

    status, results, _ = rig.playbook("rollout.yml", *vars_)
    expect(results, {"s1": "ok", "s2": "ok", "s3": "ok", "s4": "ok", "s5": "failed"}, "second run")
    print("ok: the second run changes nothing")

    # s3 changed behind the playbook's back: drift fails s3 alone, writes nothing.
    rig.put(s3, sample)
    status, results, _ = rig.playbook("drift.yml", *vars_)
    expect(results, {"s1": "ok", "s2": "ok", "s3": "failed", "s4": "ok", "s5": "failed"}, "drift")
    check(results["s3"].get("rc") == 1 and results["s3"]["msg"].startswith("drift: the SIM differs from %s/s3.set in 1 line" % sites),
          "drift: s3's failure", results["s3"])
    check(rig.sim(s3) == sample, "drift wrote to s3")
    print("ok: drift fails the site that drifted: " + results["s3"]["msg"])

    # Backups: a new file each, then none replaced when the SIM has not changed.
    backups = os.path.join(rig.scratch, "backup")
    status, results, _ = rig.playbook("backup.yml", "-e", "backup_dir=" + backups)
    expect(results, {"s1": "changed", "s2": "changed", "s3": "changed", "s4": "changed", "s5": "failed"},
           "backup")
    for site in served:
        with open(os.path.join(backups, site.name + ".set"), "rb") as f:
            check(f.read() == rig.sim(site), "backup of %s is not its SIM" % site.name)
    check(sorted(os.listdir(backups)) == ["s1.set", "s2.set", "s3.set", "s4.set"],
          "backup: the directory holds %s" % os.listdir(backups))
    mtimes = {n: os.stat(os.path.join(backups, n)).st_mtime_ns for n in os.listdir(backups)}
    status, results, _ = rig.playbook("backup.yml", "-e", "backup_dir=" + backups)
    expect(results, {"s1": "ok", "s2": "ok", "s3": "ok", "s4": "ok", "s5": "failed"}, "backup again")
    check({n: os.stat(os.path.join(backups, n)).st_mtime_ns for n in os.listdir(backups)} == mtimes,
          "backup again replaced files")
    print("ok: backups made, kept when the SIM is the same")


def byname_part(rig):
    status, _, _ = rig.tool("--help")
    if " set " not in rig.tool("--help")[1] or " diff " not in rig.tool("--help")[1]:
        print("SKIP: this tarvelin has no set and diff commands")
        return SKIP
    fleet = rig.fleet
    s1, s2, s3 = fleet.add("s1"), fleet.add("s2"), fleet.add("s3", "tls")
    fleet.start()
    fleet.inventory(os.path.join(rig.scratch, "inventory.yml"))
    sample = rig.sim(s1)
    target = "84957654321"
    rig.put(s2, settings_with(sample, 99, target))
    was = {site.name: rig.sim(site) for site in (s1, s2, s3)}
    number = ["-e", "forwarding_number=" + target]

    status, results, _ = rig.playbook("forwarding.yml", "--check", "--diff", *number)
    check(rig.outcome(results) == {"s1": "changed", "s2": "ok", "s3": "changed"},
          "check run: %s" % rig.outcome(results), results)
    for name in ("s1", "s3"):
        diff = results[name].get("diff", {})
        if isinstance(diff, list):
            diff = diff[0] if diff else {}
        check("forwarding.number: 89161234567" in diff.get("before", "") and
              "forwarding.number: " + target in diff.get("after", ""),
              "check run: %s's diff does not show the number by name" % name, results[name])
    for site in (s1, s2, s3):
        check(rig.sim(site) == was[site.name], "check run wrote to " + site.name)
    print("ok: check mode with --diff shows forwarding.number by name, writes nothing")

    status, results, _ = rig.playbook("forwarding.yml", *number)
    check(status == 0 and rig.outcome(results) == {"s1": "changed", "s2": "ok", "s3": "changed"},
          "first run: status %d, %s" % (status, rig.outcome(results)), results)
    for site in (s1, s2, s3):
        check(rig.sim(site) == settings_with(sample, 99, target), "first run: %s does not hold the number" % site.name)
    status, results, _ = rig.playbook("forwarding.yml", *number)
    check(status == 0 and set(rig.outcome(results).values()) == {"ok"},
          "second run: %s" % rig.outcome(results), results)
    print("ok: the number set where it differed, a second run changes nothing")

    status, results, _ = rig.playbook("forwarding.yml", "-e", "forwarding_number=12AB")
    check(status == 2 and set(rig.outcome(results).values()) == {"failed"}, "refused value: %s" % rig.outcome(results))
    for name, r in results.items():
        check(r.get("rc") == 2 and r.get("msg", "").startswith("set: ") and len(r["msg"]) > len("set: "),
              "refused value: %s's failure" % name, r)
    for site in (s1, s2, s3):
        check(rig.sim(site) == settings_with(sample, 99, target), "refused value written to " + site.name)
    print("ok: a refused value fails each site with the reason: " + results["s1"]["msg"])

    sites = os.path.join(rig.scratch, "sites")
    os.makedirs(sites)
    for site in (s1, s2, s3):
        write(os.path.join(sites, site.name + ".set"), settings_with(sample, 99, "89160000000"))
    status, results, _ = rig.playbook("rollout.yml", "--check", "--diff", "-e", "settings_dir=" + sites)
    check(set(rig.outcome(results).values()) == {"changed"}, "file dry run: %s" % rig.outcome(results))
    diff = results["s3"].get("diff", {})
    if isinstance(diff, list):
        diff = diff[0] if diff else {}
    check("forwarding.number: " + target in diff.get("before", "") and
          "forwarding.number: 89160000000" in diff.get("after", ""), "file dry run: s3's diff", results["s3"])
    print("ok: a settings file's dry run shows its change by name")
    return 0


def main():
    build, source, part = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), sys.argv[3]
    if shutil.which("ansible-playbook") is None:
        print("FAIL: ansible-playbook is not installed; scripts/setup-deps.sh installs it (ansible-core)")
        return 1
    scratch = tempfile.mkdtemp(prefix="tarvelin-ansible-")
    open(os.path.join(scratch, "ansible.cfg"), "w").close()
    rig = Rig(build, source, scratch)
    try:
        status = (files_part if part == "files" else byname_part)(rig) or 0
    except Failure as failure:
        print("FAIL: %s" % failure)
        status = 1
    finally:
        rig.fleet.stop()
        shutil.rmtree(scratch, ignore_errors=True)
    return status


if __name__ == "__main__":
    sys.exit(main())
