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
    long.
  - With I(runs), the service's runs from the journal, those of this boot
    (or where this boot has none the last one before it), with their lines,
    reports and how long each ran. Changes nothing.
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

RETURN = r"""
state:
  description: The unit's state (active, inactive, failed, ...), or not-found.
  returned: always
  type: str
clock:
  description: >-
    The tick line's parts (line, clock, rate, independent, cannot_see, why)
    and where it came from (source: service or run); empty where there is
    none, and clock_error says why.
  returned: always
  type: dict
clock_error:
  description: Why there is no clock; empty where there is one.
  returned: always
  type: str
runs:
  description: >-
    Each run shown, oldest first: invocation, this_boot, start, seconds,
    running, ended_by_reboot, clock, reports (their times).
  returned: when runs
  type: list
lines:
  description: The program's lines of those runs as journalctl prints them.
  returned: when runs
  type: str
earlier_boots:
  description: Whether the journal keeps a boot before this one.
  returned: when runs
  type: bool
"""

import json
import re
import time

from ansible.module_utils.basic import AnsibleModule

UNIT = "leapcheck.service"
# The line's fixed grammar; WHY runs to the end of the line.
TICK = re.compile(
    r"^leapcheck: tick count: (?P<clock>.+?), (?P<rate>[0-9]+) Hz, "
    r"(?:(?P<independent>independent of the counter)"
    r"|follows the counter: (?P<cannot_see>.*?))"
    r"(?:; no timer of its own: (?P<why>.*))?$")


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


def unit_state(module):
    """LoadState, ActiveState and InvocationID of the unit."""
    _, out, _ = module.run_command(
        ["systemctl", "show", UNIT, "--property=LoadState,ActiveState,InvocationID"])
    fields = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    return fields


def journal_entries(module, args):
    """The journal's entries for the unit (as root), oldest first."""
    rc, out, err = module.run_command(
        ["journalctl", "--no-pager", "--quiet", "--output=json", "--unit=" + UNIT] + args)
    if rc != 0:
        module.fail_json(msg="journalctl: " + (err.strip() or "exit status %d" % rc))
    return parse_json_lines(out)


def parse_json_lines(out):
    """journalctl's JSON output as entries; a line cut short is skipped."""
    entries = []
    for line in out.splitlines():
        try:
            entries.append(json.loads(line))
        except ValueError:
            continue
    return entries


def message(entry):
    """An entry's message as text (journalctl gives bytes as numbers)."""
    text = entry.get("MESSAGE", "")
    if isinstance(text, list):
        text = bytes(text).decode("utf-8", "replace")
    return text


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
                   "clock": {}, "stopping": None}
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
            tick = parse_tick(message(entry))
            if tick and not run["clock"]:
                run["clock"] = tick
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
        ["journalctl", "--no-pager", "--quiet", "--output=json", "_BOOT_ID=" + run["boot"],
         "_PID=1", "JOB_TYPE=start"])
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
        tick = parse_tick(line)
        if tick:
            return tick, ""
    return {}, "the test printed no tick line in %d s (exit status %d%s)" % (
        seconds, rc, ": " + " ".join(err.split())[:200] if err.strip() else "")


def show_runs(module, state):
    """The runs of this boot, or the last one before it."""
    boot = current_boot()
    entries = journal_entries(module, [])
    runs = group_runs(entries)
    if not runs and any(entry.get("SYSLOG_IDENTIFIER") == "leapcheck" for entry in entries):
        module.fail_json(msg="the journal names no run of the service (systemd 234 or later is needed)")
    shown = [run for run in runs if run["boot"] == boot] or runs[-1:]
    now = int(time.time() * 1000000)
    running_id = state.get("InvocationID", "") if state.get("ActiveState") == "active" else ""
    lines = ""
    if shown:
        _, lines, _ = module.run_command(
            ["journalctl", "--no-pager", "--quiet", "--output=short-iso-precise",
             "--identifier=leapcheck"]
            + ["_SYSTEMD_INVOCATION_ID=" + run["invocation"] for run in shown])
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
        })
    return result, lines, earlier_boots(module)


def earlier_boots(module):
    """Whether the journal keeps a boot before this one (its list numbers
    them 0 for this one, -1, -2 ... for earlier ones)."""
    _, out, _ = module.run_command(["journalctl", "--no-pager", "--quiet", "--list-boots"])
    return any(line.split()[0].startswith("-") for line in out.splitlines() if line.strip())


def main():
    module = AnsibleModule(
        argument_spec={"run_seconds": {"type": "int", "default": 0},
                       "runs": {"type": "bool", "default": False}},
        supports_check_mode=True)
    state = unit_state(module)
    active = state.get("ActiveState") == "active"
    result = {"changed": False,
              "state": "not-found" if state.get("LoadState") == "not-found"
                       else state.get("ActiveState", "unknown"),
              "clock": {}, "clock_error": ""}
    # A second test beside the service could find the HPET busy and name
    # another clock than the service's: the service's own line, or nothing.
    if active and not state.get("InvocationID"):
        result["clock_error"] = "the service runs, and this systemd names no run to read its line from"
    elif active:
        for entry in journal_entries(module, ["_SYSTEMD_INVOCATION_ID=" + state["InvocationID"],
                                              "--identifier=leapcheck"]):
            tick = parse_tick(message(entry))
            if tick:
                result["clock"] = dict(tick, source="service")
                break
        else:
            result["clock_error"] = "the service runs, and its tick line is not in the journal (yet)"
    elif module.params["run_seconds"] > 0:
        tick, error = probe(module, module.params["run_seconds"])
        result["clock"] = dict(tick, source="run") if tick else {}
        result["clock_error"] = error
    if module.params["runs"]:
        result["runs"], result["lines"], result["earlier_boots"] = show_runs(module, state)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
