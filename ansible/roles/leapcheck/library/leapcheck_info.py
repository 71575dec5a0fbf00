#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright (c) 2026 the leapcheck authors; MIT License (see LICENSE)
"""What a host's leap test compares against, and its service's runs."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type  # pylint: disable=invalid-name

DOCUMENTATION = r"""
module: leapcheck_info
short_description: The clock of a host's leap test, and its service's runs
description:
  - Tells which clock C(leapcheck runtest) counts its ticks with on this host
    and whether that clock is independent of the performance counter, from
    the line the program prints on standard error as the test starts.
  - Where C(leapcheck.service) runs, the line is its run's, read from the
    journal, since a second run could find the HPET busy and tell of another
    clock. Where it does not, and I(run_seconds) is given, the test runs that
    long. Where systemd cannot tell whether it runs, nothing runs.
  - On a host that systemd does not run (a container, WSL, Devuan), the
    state is C(no-systemd), the test runs as elsewhere, and there are no
    runs of the service.
  - With I(runs), the service's runs from the journal, those of this boot
    (or where this boot has none the last one before it), read with only
    the fields needed; their lines go to a file on the host, not into the
    result. Changes nothing but that file.
options:
  run_seconds:
    description: How long the test runs to print its line; 0 runs nothing.
    type: int
    default: 0
  runs:
    description: Read the service's runs from the journal.
    type: bool
    default: false
author: the leapcheck authors
"""

EXAMPLES = r"""
- name: Find the leap test's clock
  leapcheck_info:
    run_seconds: 2
  become: true
  register: leapcheck_clock

- name: Read the service's runs
  leapcheck_info:
    runs: true
  become: true
  register: leapcheck_journal
# Then fetch leapcheck_journal.lines_file and remove it on the host.
"""

RETURN = r"""
state:
  description: >-
    The unit's state (active, inactive, failed, ...), not-found, no-systemd
    where systemd does not run the host, or unknown where systemctl failed
    (state_error says how).
  returned: always
  type: str
state_error:
  description: How systemctl failed; empty where it did not.
  returned: always
  type: str
clock:
  description: >-
    The tick line's parts (line, clock, rate, independent, cannot_see, why)
    and where it came from (source: service or run); empty where there is
    none, and clock_error says why (a line that does not parse quoted).
  returned: always
  type: dict
clock_error:
  description: Why there is no clock; empty where there is one.
  returned: always
  type: str
runs:
  description: >-
    Each run shown, oldest first: invocation, this_boot, start, seconds,
    running, ended_by_reboot, clock, clock_error, reports (how many).
  returned: when runs
  type: list
  elements: dict
reports:
  description: >-
    The reports of the runs shown: count, and the first's and the last's
    time as journalctl's short-iso-precise prints them (empty where none).
  returned: when runs
  type: dict
lines_file:
  description: >-
    A file on the host with the runs' lines as journalctl's
    short-iso-precise prints them, for the caller to fetch and remove;
    empty where there is no run.
  returned: when runs
  type: str
earlier_boots:
  description: Whether the journal keeps a boot before this one.
  returned: when runs
  type: bool
"""

import json
import os
import re
import tempfile
import time

from ansible.module_utils.basic import AnsibleModule

UNIT = "leapcheck.service"
PREFIX = "leapcheck: tick count: "
# The line's fixed grammar; WHY runs to the end of the line.
TICK = re.compile(
    r"^leapcheck: tick count: (?P<clock>.+?), (?P<rate>[0-9]+) Hz, "
    r"(?:(?P<independent>independent of the counter)"
    r"|follows the counter: (?P<cannot_see>.*?))"
    r"(?:; (?:no timer of its own|not used): (?P<why>.*))?$")
# Only what the runs are read from: a report can be long, its other fields
# longer, and a host that reports often has many.
FIELDS = "--output-fields=MESSAGE,_SYSTEMD_INVOCATION_ID,INVOCATION_ID,JOB_TYPE,_BOOT_ID"
# The most boots looked back for the last run before this one.
BOOTS_BACK = 20


def parse_tick(line):
    """The tick line's parts, or None for another line."""
    match = TICK.match(line.rstrip("\n"))
    if not match:
        return None
    return {
        "line": line.rstrip("\n"),
        "clock": match.group("clock"),
        "rate": int(match.group("rate")),
        "independent": match.group("independent") is not None,
        "cannot_see": match.group("cannot_see") or "",
        "why": match.group("why") or "",
    }


def tick_of(line):
    """(parts, error) for a line: its parts; or, for a tick line this
    grammar does not read (a newer program's), the line quoted; or neither
    for another line."""
    line = line.rstrip("\n")
    tick = parse_tick(line)
    if tick:
        return tick, ""
    if line.startswith(PREFIX):
        return {}, "a tick line this playbook does not read: '%s'" % line
    return {}, ""


def systemd_runs_host():
    """Whether systemd runs this host (sd_booted's test)."""
    return os.path.isdir("/run/systemd/system")


def unit_state(module):
    """LoadState, ActiveState and InvocationID of the unit, and how
    systemctl failed (empty where it did not): a failed query is no
    answer, never "not active"."""
    rc, out, err = module.run_command(
        ["systemctl", "show", UNIT, "--property=LoadState,ActiveState,InvocationID"])
    fields = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    if rc != 0 or not fields.get("LoadState") or not fields.get("ActiveState"):
        return {}, "systemctl show: %s" % (
            " ".join(err.split())[:200] or "exit status %d, no state" % rc)
    return fields, ""


def journal_entries(module, args):
    """The journal's entries for the unit (as root), oldest first."""
    rc, out, err = module.run_command(
        ["journalctl", "--no-pager", "--quiet", "--output=json", FIELDS, "--unit=" + UNIT] + args)
    if rc != 0:
        module.fail_json(msg="journalctl: " + (err.strip() or "exit status %d" % rc))
    return parse_json_lines(out)


def parse_json_lines(out):
    """journalctl's JSON output as entries; a line cut short is skipped."""
    entries = []
    for line in out.splitlines():
        try:
            entry = json.loads(line)
        except ValueError:
            continue
        if isinstance(entry, dict) and str(entry.get("__REALTIME_TIMESTAMP", "")).isdigit():
            entries.append(entry)
    return entries


def message(entry):
    """An entry's message as text: journalctl gives bytes as numbers, and
    null for a field it leaves out (one too large)."""
    text = entry.get("MESSAGE")
    if isinstance(text, list):
        return bytes(number & 0xFF for number in text if isinstance(number, int)).decode(
            "utf-8", "replace")
    return text if isinstance(text, str) else ""


def group_runs(entries):
    """Runs by invocation, oldest first: the program's lines carry
    _SYSTEMD_INVOCATION_ID, systemd's own about the unit INVOCATION_ID."""
    runs = []
    by_id = {}
    for entry in entries:
        invocation = entry.get("_SYSTEMD_INVOCATION_ID") or entry.get("INVOCATION_ID")
        if not invocation:
            continue
        run = by_id.get(invocation)
        if run is None:
            run = {"invocation": invocation, "boot": entry.get("_BOOT_ID", ""),
                   "first": int(entry["__REALTIME_TIMESTAMP"]), "program": False,
                   "clock": {}, "clock_error": "", "stopping": None, "reports": 0}
            by_id[invocation] = run
            runs.append(run)
        run["last"] = int(entry["__REALTIME_TIMESTAMP"])
        # systemd's first word on the run after the program's start (its
        # stop, or the program's end) is where the run ended.
        if entry.get("_SYSTEMD_INVOCATION_ID") != invocation and run["program"] \
                and entry.get("JOB_TYPE") != "start" and run["stopping"] is None:
            run["stopping"] = run["last"]
        if entry.get("_SYSTEMD_INVOCATION_ID") == invocation:
            run["program"] = True
            text = message(entry)
            if text.startswith("LEAP: "):
                run["reports"] += 1
            # The last tick line: a run whose timer went wrong says so in a
            # second one, naming the clock it went on with.
            tick, error = tick_of(text)
            if tick or error:
                run["clock"], run["clock_error"] = tick, error
    # A start that systemd logged but the program never printed in is no
    # run of the test.
    return [run for run in runs if run["program"]]


# What a shutdown starts: reaching these and nothing else after a run's
# stop means the stop was the shutdown's.
SHUTDOWN_UNITS = re.compile(
    r"^(shutdown|final|umount|reboot|poweroff|halt|kexec|exit)\.target$"
    r"|^systemd-(reboot|poweroff|halt|kexec|exit)\.service$")


def boot_ended_run(module, run):
    """Whether the run went on until its boot ended: it was never stopped
    (a crash or power loss), or systemd started nothing after its stop
    but what a shutdown starts. A stop by hand is followed by other starts
    (a login, a timer) before the system goes down."""
    if run["stopping"] is None:
        return True
    rc, out, _ = module.run_command(
        ["journalctl", "--no-pager", "--quiet", "--output=json", "--output-fields=UNIT",
         "_BOOT_ID=" + run["boot"], "_PID=1", "JOB_TYPE=start"])
    if rc != 0:
        return False
    for entry in parse_json_lines(out):
        if int(entry["__REALTIME_TIMESTAMP"]) > run["stopping"] and \
                not SHUTDOWN_UNITS.match(str(entry.get("UNIT", ""))):
            return False
    return True


def current_boot():
    with open("/proc/sys/kernel/random/boot_id") as boot_id:
        return boot_id.read().strip().replace("-", "")


def probe(module, seconds):
    """The tick line of a run of SECONDS; its parts, or why there are none."""
    rc, _, err = module.run_command(
        ["timeout", str(seconds), "/usr/bin/leapcheck", "runtest"])
    for line in err.splitlines():
        tick, error = tick_of(line)
        if tick or error:
            return tick, error
    return {}, "the test printed no tick line in %d s (exit status %d%s)" % (
        seconds, rc, ": " + " ".join(err.split())[:200] if err.strip() else "")


def boot_offsets(module):
    """The journal's boots as journalctl numbers them: 0 for this one, -1,
    -2 ... for earlier ones."""
    _, out, _ = module.run_command(["journalctl", "--no-pager", "--quiet", "--list-boots"])
    offsets = []
    for line in out.splitlines():
        words = line.split()
        if words and re.match(r"^-?[0-9]+$", words[0]):
            offsets.append(int(words[0]))
    return offsets


def scan_reports(lines):
    """Count, first and last time of the reports in journalctl's short
    output (the time is its first word)."""
    times = [line.split(" ", 1)[0] for line in lines.splitlines() if "]: LEAP: " in line]
    return {"count": len(times), "first": times[0] if times else "",
            "last": times[-1] if times else ""}


def write_lines(module, shown):
    """The shown runs' lines to a file of their own; its path and the
    reports in them."""
    rc, lines, err = module.run_command(
        ["journalctl", "--no-pager", "--quiet", "--output=short-iso-precise",
         "--identifier=leapcheck"]
        + ["_SYSTEMD_INVOCATION_ID=" + run["invocation"] for run in shown])
    if rc != 0:
        module.fail_json(msg="journalctl: " + (err.strip() or "exit status %d" % rc))
    handle, path = tempfile.mkstemp(prefix="leapcheck-", suffix=".txt")
    with os.fdopen(handle, "w") as out:
        out.write(lines)
    return path, scan_reports(lines)


def show_runs(module, state):
    """The runs of this boot, or the last one before it; only the boot read
    that holds them."""
    boot = current_boot()
    offsets = boot_offsets(module)
    earlier = sorted((offset for offset in offsets if offset < 0), reverse=True)
    shown = group_runs(journal_entries(module, ["--boot=0"]))
    for offset in earlier[:BOOTS_BACK]:
        if shown:
            break
        shown = group_runs(journal_entries(module, ["--boot=%d" % offset]))[-1:]
    now = int(time.time() * 1000000)
    running_id = state.get("InvocationID", "") if state.get("ActiveState") == "active" else ""
    path, reports = write_lines(module, shown) if shown else ("", scan_reports(""))
    result = []
    for run in shown:
        running = run["invocation"] == running_id
        result.append({
            "invocation": run["invocation"],
            "this_boot": run["boot"] == boot,
            "start": time.strftime("%Y-%m-%dT%H:%M:%S%z", time.localtime(run["first"] // 1000000)),
            "seconds": ((now if running else run["stopping"] or run["last"]) - run["first"]) // 1000000,
            "running": running,
            "ended_by_reboot": run["boot"] != boot and boot_ended_run(module, run),
            "clock": run["clock"],
            "clock_error": run["clock_error"],
            "reports": run["reports"],
        })
    return {"runs": result, "reports": reports, "lines_file": path, "earlier_boots": bool(earlier)}


def service_clock(module, state):
    """The running service's tick line: its parts and the error."""
    if not state.get("InvocationID"):
        return {}, "the service runs, and this systemd names no run to read its line from"
    last = ({}, "the service runs, and its tick line is not in the journal (yet)")
    for entry in journal_entries(module, ["_SYSTEMD_INVOCATION_ID=" + state["InvocationID"],
                                          "--identifier=leapcheck"]):
        tick, error = tick_of(message(entry))
        if tick or error:  # the last: a timer gone wrong gives a second
            last = (dict(tick, source="service") if tick else {}, error)
    return last


def main():
    module = AnsibleModule(
        argument_spec={"run_seconds": {"type": "int", "default": 0},
                       "runs": {"type": "bool", "default": False}},
        supports_check_mode=True)
    result = {"changed": False, "state": "no-systemd", "state_error": "",
              "clock": {}, "clock_error": ""}
    state, error = unit_state(module) if systemd_runs_host() else ({}, "")
    if error:
        result["state"], result["state_error"] = "unknown", error
    elif state:
        result["state"] = "not-found" if state["LoadState"] == "not-found" else state["ActiveState"]
    # A second test beside the service could find the HPET busy and name
    # another clock than the service's: the service's own line, or nothing;
    # and where systemd cannot say whether it runs, nothing either.
    if error:
        result["clock_error"] = "not run: whether the service runs is not known (%s)" % error
    elif state.get("ActiveState") == "active":
        result["clock"], result["clock_error"] = service_clock(module, state)
    elif module.params["run_seconds"] > 0:
        tick, result["clock_error"] = probe(module, module.params["run_seconds"])
        result["clock"] = dict(tick, source="run") if tick else {}
    if module.params["runs"]:
        if error:
            module.fail_json(msg=error, **result)
        if state:
            result.update(show_runs(module, state))
        else:
            result.update(runs=[], reports=scan_reports(""), lines_file="", earlier_boots=False)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
