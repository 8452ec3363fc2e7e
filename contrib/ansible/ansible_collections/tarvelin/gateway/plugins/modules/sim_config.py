#!/usr/bin/python
# -*- coding: utf-8 -*-
# One gateway's SIM configuration, managed through the tarvelin scripted
# commands (backup, restore, verify, diff, set with --json) on the node the
# module runs on: the control node with connection local.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: sim_config
short_description: Manage a GSM gateway's configuration on its SIM with tarvelin
version_added: "1.0.0"
description:
  - Keeps the configuration a GSM gateway holds in the 99 phonebook cells of its SIM as a settings
    file says, changes settings by name on top of what the SIM holds, backs the SIM up to a file and
    checks it against a file.
  - Runs C(tarvelin) with C(--json) on the node the task runs on; a playbook of gateways runs on the
    control node (a local connection), one host per site, each with its own I(port) and I(gateway).
  - Only the cells that differ from the SIM are written; the task reports C(changed) only when cells
    were written (or, in check mode, would be).
  - A failure fails that host alone, with the tool's reason in C(msg) and its exit status in C(rc);
    the other sites go on.
requirements:
  - tarvelin on the node the task runs on (the .deb, or a build with I(tarvelin) naming it)
options:
  port:
    description:
      - How the gateway is reached, as the scripted commands take it.
      - A device path (C(/dev/ttyUSB0)), C(COMn) or C(COMn:G) (a C(./COMn) link or address file in
        I(chdir)), a network serial port C(rfc2217://host:port), or over TLS C(rfc2217s://host:port)
        (the server's certificate checked against the system's CA store), or any other address form
        tarvelin(1) lists, such as the one naming the TLS files inline (relative names are taken from
        I(chdir)).
      - An address file C(COMn) in I(chdir) may name the TLS files on lines of its own
        (C(ca=), C(cert=), C(key=)).
    type: str
    required: true
  gateway:
    description:
      - The gateway on that port, 1 to 4 (chosen by the DTR and RTS lines).
      - Without it, the one C(COMn:G) names, else 1.
    type: int
    choices: [1, 2, 3, 4]
  state:
    description:
      - C(present) writes what differs between the SIM and I(src) and/or I(settings).
      - C(backup) copies the SIM to I(dest).
      - C(verified) reads the SIM and fails when it differs from I(src) and/or I(settings) (drift);
        it never writes.
      - Without it, C(backup) when only I(dest) is given, else C(present).
    type: str
    choices: [present, backup, verified]
  src:
    description:
      - A settings file (C(*.set)) on the control node, the configuration the SIM should hold.
      - A file without the gateway's signature in cell 98 is refused (the tool's status 4).
    type: path
  settings:
    description:
      - Settings by name (the keys of C(tarvelin set), for example C(forwarding.number),
        C(forwarding.delay), C(incoming.barring), C(contacts.7.name), C(routes.3.password)), each
        with its value as text.
      - Applied on top of I(src) when it is given, else on top of what the SIM holds now (read first).
      - Quote values in YAML (C("0312"), C("10")); a value the forms would not take fails the task
        with the tool's reason, and nothing is written.
      - A route password given here shows in the task's arguments; set C(no_log) on such a task.
    type: dict
  dest:
    description:
      - With I(state=backup), the file the SIM is copied to. It is replaced whole, and only when the
        copy is complete and differs from it; the previous file stays on any failure (a SIM without
        the gateway's signature, a SIM whose last write stopped part way).
    type: path
  tarvelin:
    description:
      - The tarvelin program (a name looked up on the PATH, or a path).
    type: str
    default: tarvelin
  chdir:
    description:
      - The directory tarvelin runs in. C(COMn) ports, relative TLS file names and the journal of a
        write that stopped part way are found there; keep it the same for every run against a
        gateway, so that a backup sees a half-written SIM for what it is.
      - Default, the directory the task runs in.
    type: path
attributes:
  check_mode:
    support: full
    description: The SIM is read and compared; nothing is written to it or to I(dest).
  diff_mode:
    support: full
    description: The settings that change, by name, before and after (C(tarvelin diff --json)).
notes:
  - Relative I(src) and I(dest) are taken from the directory the task runs in; C({{ playbook_dir }})
    makes them independent of it.
  - I(settings) and diff mode need the C(set) and C(diff) commands of tarvelin.
author:
  - TARVELIN developers
"""

EXAMPLES = r"""
- name: Roll the site's configuration out (only differing cells are written)
  tarvelin.gateway.sim_config:
    port: "{{ gateway_port }}"
    gateway: "{{ gateway_number }}"
    src: "{{ playbook_dir }}/files/{{ inventory_hostname }}.set"

- name: Change the forwarding number on top of what each SIM holds
  tarvelin.gateway.sim_config:
    port: rfc2217://gw-site7.example:4001
    gateway: 2
    settings:
      forwarding.number: "84957654321"
      forwarding.delay: "15"

- name: Nightly copy of the SIM
  tarvelin.gateway.sim_config:
    port: COM3:2
    chdir: /srv/gateways
    state: backup
    dest: /srv/gateways/backup/{{ inventory_hostname }}.set

- name: Fail the site when its SIM drifted from the reference
  tarvelin.gateway.sim_config:
    port: rfc2217s://gw-site7.example:4001
    state: verified
    src: "{{ playbook_dir }}/files/reference.set"
"""

RETURN = r"""
rc:
  description: The exit status of the tarvelin command that failed (1 differences, 2 usage or a
    refused setting, 3 device or a SIM without the gateway's signature, 4 file, 5 the SIM's last
    write did not complete); C(msg) gives its reason.
  returned: failed
  type: int
  sample: 3
summary:
  description: The JSON summary of the last command that reached the gateway (backup, verify or
    restore); its C(status) is that command's exit status.
  returned: when the gateway was reached
  type: dict
  sample: {"status": 0, "command": "restore", "gateway": "rfc2217://10.0.0.5:2001:1",
           "file": "site7.set", "cells_differing": 0, "refused_lines": [], "reason": null,
           "notices": [], "journal": null}
differences:
  description: The lines of the file that differ from the SIM (C(tarvelin verify --json)), before
    any was written.
  returned: when the SIM was compared with a file
  type: list
  elements: dict
  sample: [{"line": 99, "cell": 99, "file": "84957654321", "sim": "89161234567",
            "file_name": "99", "sim_name": "99"}]
changes:
  description: The settings that differ from the SIM to what it should hold, by name
    (C(tarvelin diff --json)), each with its value before and after and the change in words;
    route passwords masked.
  returned: in diff mode, whenever I(settings) were applied, and on drift
  type: list
  elements: dict
  sample: [{"key": "forwarding.number", "setting": "Переадресация: номер", "old": "89161234567",
            "new": "84957654321", "text": "Переадресация: номер 89161234567 -> 84957654321"}]
dest:
  description: The backup file.
  returned: with I(state=backup)
  type: str
  sample: /srv/gateways/backup/site7.set
"""

import json
import os
import re
import shutil
import tempfile

from ansible.module_utils.basic import AnsibleModule

# Messages in Russian as the tool says them, UTF-8 whatever the node's locale.
TOOL_ENV = {"LC_ALL": "C.UTF-8", "LANG": "C.UTF-8"}
COM_NAME = re.compile(r"^(?i:com)([0-9]{1,2})(?::([1-4]))?$")


def json_documents(text):
    """stdout of a --json run: one document (diff) or JSON Lines (the rest)."""
    text = text.strip()
    if not text:
        return []
    try:
        return [json.loads(text)]
    except ValueError:
        pass
    documents = []
    for line in text.splitlines():
        try:
            documents.append(json.loads(line))
        except ValueError:
            continue
    return documents


class Gateway(object):
    """The tool, the port and the gateway of one task."""

    def __init__(self, module):
        self.module = module
        p = module.params
        self.cwd = os.path.abspath(p["chdir"] or os.getcwd())
        if not os.path.isdir(self.cwd):
            module.fail_json(msg="chdir %s is not a directory" % self.cwd)
        tool = p["tarvelin"]
        self.tool = tool if "/" in tool else module.get_bin_path(tool, required=True)
        self.port = p["port"]
        self.port_options = []
        named = COM_NAME.match(self.port)
        if p["gateway"] is not None:
            if named and named.group(2) and int(named.group(2)) != p["gateway"]:
                module.fail_json(msg="port %s and gateway %d name different gateways" % (self.port, p["gateway"]))
            self.port_options = ["--gateway", str(p["gateway"])]
        self.summary = None  # of the last command on the port

    def run(self, args):
        rc, out, err = self.module.run_command([self.tool] + args, cwd=self.cwd, environ_update=TOOL_ENV)
        return rc, json_documents(out), out, err

    def fail(self, what, rc, documents, out, err, **extra):
        summary = documents[-1] if documents and isinstance(documents[-1], dict) else {}
        reason = summary.get("reason") if isinstance(summary, dict) else None
        if not reason:
            lines = [line for line in err.splitlines() if line.strip()]
            reason = lines[-1] if lines else "status %d" % rc
            if reason.startswith("tarvelin: "):
                reason = reason[len("tarvelin: "):]
        # The summary is what stdout said; stdout itself only when it said something else.
        said = dict(summary=summary) if summary else dict(stdout=out)
        self.module.fail_json(msg="%s: %s" % (what, reason), rc=rc, stderr=err, **dict(said, **extra))

    def command(self, name, files_before_port, files_after_port, what):
        """Runs a command on the port; fails the task on a status other than 0 and 1."""
        args = [name, "--json"] + self.port_options + files_before_port + [self.port] + files_after_port
        rc, documents, out, err = self.run(args)
        if documents and isinstance(documents[-1], dict):
            self.summary = documents[-1]
        if rc not in (0, 1):
            self.fail(what, rc, documents, out, err)
        return rc, documents, out, err

    def backup(self, path, what="backup"):
        rc, documents, out, err = self.command("backup", [], [path], what)
        if rc != 0:
            self.fail(what, rc, documents, out, err)

    def verify(self, path):
        """The file's lines that differ from the SIM's."""
        rc, documents, _, _ = self.command("verify", [], [path], "verify")
        return rc == 1, [d for d in documents if isinstance(d, dict) and "line" in d]

    def restore(self, path):
        rc, documents, out, err = self.command("restore", [], [path], "restore")
        if rc != 0:
            self.fail("restore", rc, documents, out, err)

    def diff(self, a, b, on_port):
        """The settings that differ from a to b, by name; None (and a warning) when the tool cannot say."""
        args = ["diff", "--json"] + (self.port_options if on_port else []) + [a, b]
        rc, documents, out, err = self.run(args)
        if rc not in (0, 1) or not documents or "changes" not in documents[0]:
            if rc in (3, 4, 5):
                self.fail("diff", rc, documents, out, err)
            self.module.warn("tarvelin diff gave no changes (status %d): %s" % (rc, err.strip()))
            return None
        return documents[0]["changes"]

    def set(self, path, settings):
        args = ["set", "--json", path] + ["%s=%s" % (k, v) for k, v in settings]
        rc, documents, out, err = self.run(args)
        if rc != 0:
            self.fail("set", rc, documents, out, err)


def settings_pairs(module):
    pairs = []
    for key, value in (module.params["settings"] or {}).items():
        if isinstance(value, bool) or value is None or isinstance(value, (dict, list)):
            module.fail_json(msg="settings: %s needs a text value (quote it in YAML)" % key)
        pairs.append((key, str(value)))
    return pairs


def diff_of(changes, before_header, after_header):
    """Ansible's before and after: a line a setting that changes, its key, its
    value and the setting in the forms' words ("forwarding.number: 89161234567
    # Переадресация: номер"). A masked password is said to change."""
    def value(change, side):
        text = change.get(side)
        text = "(none)" if text is None else text
        if side == "new" and change.get("old") == change.get("new"):
            text += " (changed)"
        return text

    def lines(side):
        out = ""
        for c in changes:
            words = "  # %s" % c["setting"] if c.get("setting") else ""
            out += "%s: %s%s\n" % (c.get("key"), value(c, side), words)
        return out
    return {"before": lines("old"), "after": lines("new"),
            "before_header": before_header, "after_header": after_header}


def same_bytes(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        return fa.read() == fb.read()


def backup_state(module, gw, result):
    dest = os.path.abspath(module.params["dest"])
    result["dest"] = dest
    folder = os.path.dirname(dest)
    if not os.path.isdir(folder):
        module.fail_json(msg="dest: no directory %s" % folder)
    # The copy lands beside dest and replaces it whole once it is complete.
    fd, partial = tempfile.mkstemp(prefix=".%s." % os.path.basename(dest), suffix=".part", dir=folder)
    os.close(fd)
    try:
        gw.backup(partial)
        existed = os.path.exists(dest)
        if existed and same_bytes(partial, dest):
            return
        result["changed"] = True
        if module._diff and existed:
            changes = gw.diff(dest, partial, False)
            if changes is not None:
                result["changes"] = changes
                result["diff"] = diff_of(changes, dest, "%s (SIM)" % gw.port)
        if not module.check_mode:
            os.replace(partial, dest)
    finally:
        if os.path.exists(partial):
            os.remove(partial)


def wanted_state(module, gw, result, scratch, state):
    """present and verified: the file the SIM should hold, and whether it differs."""
    p = module.params
    pairs = settings_pairs(module)
    sim_copy = None
    if p["src"]:
        src = os.path.abspath(p["src"])
        if not os.path.isfile(src):
            module.fail_json(msg="src: no file %s" % src)
        target = src
    else:
        # Settings on top of what the SIM holds: a fresh copy of it.
        sim_copy = os.path.join(scratch, "sim.set")
        gw.backup(sim_copy, "reading the SIM")
        target = sim_copy
    if pairs:
        edited = os.path.join(scratch, "wanted.set")
        shutil.copyfile(target, edited)
        gw.set(edited, pairs)
        target = edited

    if sim_copy is not None:
        # The SIM's own copy: what differs is known without reading it again.
        differs = not same_bytes(sim_copy, target)
        if differs:
            changes = gw.diff(sim_copy, target, False)
            if changes is not None:
                result["changes"] = changes
                if module._diff:
                    result["diff"] = diff_of(changes, "%s (SIM)" % gw.port, "settings")
    else:
        differs, result["differences"] = gw.verify(target)
        if differs and (module._diff or state == "verified"):
            changes = gw.diff(gw.port, target, True)
            if changes is not None:
                result["changes"] = changes
                result["diff"] = diff_of(changes, "%s (SIM)" % gw.port, p["src"])
    return target, differs


def drift_message(p, result):
    """"drift: the SIM differs from site7.set in 2 lines: Переадресация: номер
    89161234567 -> 84957654321; ...", the changes from the SIM to the file."""
    if "differences" in result:
        n = len(result["differences"])
        text = "drift: the SIM differs from %s in %d line%s" % (p["src"], n, "" if n == 1 else "s")
    else:
        n = len(result.get("changes") or [])
        text = "drift: the SIM differs in %d setting%s" % (n, "" if n == 1 else "s")
    words = [c["text"] for c in result.get("changes") or [] if c.get("text")]
    return text + (": " + "; ".join(words) if words else "")


def main():
    module = AnsibleModule(
        argument_spec=dict(
            port=dict(type="str", required=True),
            gateway=dict(type="int", choices=[1, 2, 3, 4]),
            state=dict(type="str", choices=["present", "backup", "verified"]),
            src=dict(type="path"),
            settings=dict(type="dict"),
            dest=dict(type="path"),
            tarvelin=dict(type="str", default="tarvelin"),
            chdir=dict(type="path"),
        ),
        supports_check_mode=True,
    )
    p = module.params
    state = p["state"] or ("backup" if p["dest"] and not (p["src"] or p["settings"]) else "present")
    if state == "backup" and not p["dest"]:
        module.fail_json(msg="state=backup needs dest")
    if state != "backup" and not (p["src"] or p["settings"]):
        module.fail_json(msg="state=%s needs src or settings" % state)

    gw = Gateway(module)
    result = dict(changed=False)
    scratch = tempfile.mkdtemp(prefix="tarvelin-")
    try:
        if state == "backup":
            backup_state(module, gw, result)
        else:
            target, differs = wanted_state(module, gw, result, scratch, state)
            if differs and state == "verified":
                result.update(rc=1, summary=gw.summary)
                module.fail_json(msg=drift_message(p, result), **result)
            if differs:
                result["changed"] = True
                if not module.check_mode:
                    gw.restore(target)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    if gw.summary is not None:
        # Only a failure carries rc: Ansible takes any other rc than 0 for one.
        result["summary"] = gw.summary
    module.exit_json(**result)


if __name__ == "__main__":
    main()
