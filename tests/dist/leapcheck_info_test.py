"""The playbook's module leapcheck_info on journal entries made here: the
tick count line's three forms and one it does not read, runs told apart
by invocation (a null message among them), which runs of an earlier boot a
reboot ended, and a failing systemctl.
Usage: python3 leapcheck_info_test.py SOURCE_DIR"""

import json
import sys
import unittest

sys.path.insert(0, sys.argv.pop(1) + "/ansible/roles/leapcheck/library")
import leapcheck_info  # noqa: E402  pylint: disable=wrong-import-position

LINE = "leapcheck: tick count: "


class FakeModule:
    """Answers journalctl's query for start jobs with the given entries, or
    any command with the given answer."""

    def __init__(self, starts, answer=None):
        self.starts = starts
        self.answer = answer

    def run_command(self, _argv):
        return self.answer or (0, "\n".join(json.dumps(entry) for entry in self.starts), "")


def entry(time, **fields):
    return dict(fields, __REALTIME_TIMESTAMP=str(time), _BOOT_ID="b1")


class TickLine(unittest.TestCase):
    def test_forms(self):
        own = leapcheck_info.parse_tick(LINE + "HPET, 14318180 Hz, independent of the counter")
        self.assertEqual((own["clock"], own["rate"], own["independent"], own["why"]),
                         ("HPET", 14318180, True, ""))
        busy = leapcheck_info.parse_tick(
            LINE + "kernel clock (clocksource hpet), 1000 Hz, independent of the counter;"
            " no timer of its own: HPET: busy; ACPI PM timer: none")
        self.assertEqual((busy["clock"], busy["independent"], busy["why"]),
                         ("kernel clock (clocksource hpet)", True, "HPET: busy; ACPI PM timer: none"))
        follows = leapcheck_info.parse_tick(
            LINE + "kernel clock (clocksource tsc), 1000 Hz, follows the counter: a leap of"
            " the whole counter moves it too; no timer of its own: HPET: none")
        self.assertEqual((follows["independent"], follows["cannot_see"], follows["why"]),
                         (False, "a leap of the whole counter moves it too", "HPET: none"))
        passed_over = leapcheck_info.parse_tick(
            LINE + "ACPI PM timer, 3579545 Hz, independent of the counter;"
            " not used: HPET: in use by another run (one run at a time)")
        self.assertEqual((passed_over["clock"], passed_over["why"]),
                         ("ACPI PM timer", "HPET: in use by another run (one run at a time)"))
        for other in ("Running Test Code", LINE + "HPET, fast, independent of the counter"):
            self.assertIsNone(leapcheck_info.parse_tick(other))
        # A tick line of another grammar is quoted, not taken for none.
        self.assertEqual(leapcheck_info.tick_of(LINE + "HPET, fast\n"),
                         ({}, "a tick line this playbook does not read: '" + LINE + "HPET, fast'"))
        self.assertEqual(leapcheck_info.tick_of("Running Test Code"), ({}, ""))


class Runs(unittest.TestCase):
    # Two runs: the first stopped at 30, the second never stopped.
    entries = [
        entry(10, INVOCATION_ID="a", JOB_TYPE="start", MESSAGE="Started"),
        entry(11, _SYSTEMD_INVOCATION_ID="a", MESSAGE=LINE + "HPET, 1 Hz, independent of the counter"),
        entry(20, _SYSTEMD_INVOCATION_ID="a", MESSAGE="LEAP: ..."),
        # Its timer went wrong: the last tick line is the clock it went on with.
        entry(25, _SYSTEMD_INVOCATION_ID="a", MESSAGE=LINE + "kernel clock (clocksource tsc), 1000 Hz,"
              " follows the counter: x; no timer of its own: HPET: stopped while the test ran"),
        entry(30, INVOCATION_ID="a", JOB_TYPE="stop", MESSAGE="Stopping"),
        entry(31, INVOCATION_ID="a", MESSAGE="Deactivated"),
        entry(40, INVOCATION_ID="b", JOB_TYPE="start", MESSAGE="Started"),
        entry(41, _SYSTEMD_INVOCATION_ID="b", MESSAGE="Running Test Code"),
        # journalctl's null for a field too large, and bytes as numbers.
        entry(42, _SYSTEMD_INVOCATION_ID="b", MESSAGE=None),
        entry(43, _SYSTEMD_INVOCATION_ID="b", MESSAGE=list(b"LEAP: \xff")),
        # A start that the program never printed in is no run.
        entry(50, INVOCATION_ID="c", JOB_TYPE="start", MESSAGE="Started"),
    ]

    def test_grouped(self):
        first, second = leapcheck_info.group_runs(self.entries)
        self.assertEqual((first["invocation"], first["first"], first["stopping"]), ("a", 10, 30))
        self.assertEqual((first["clock"]["independent"], first["clock"]["why"]),
                         (False, "HPET: stopped while the test ran"))
        self.assertEqual((second["invocation"], second["stopping"], second["clock"]), ("b", None, {}))
        self.assertEqual((first["reports"], second["reports"]), (1, 1))

    def test_ended_by_reboot(self):
        stopped, never = leapcheck_info.group_runs(self.entries)
        shutdown = [entry(35, UNIT="reboot.target"), entry(36, UNIT="systemd-reboot.service")]
        login = [entry(33, UNIT="session-4.scope")] + shutdown
        self.assertTrue(leapcheck_info.boot_ended_run(FakeModule(shutdown), stopped))
        self.assertFalse(leapcheck_info.boot_ended_run(FakeModule(login), stopped))
        # A start before the stop tells nothing.
        self.assertTrue(leapcheck_info.boot_ended_run(FakeModule([entry(25, UNIT="x.service")]), stopped))
        self.assertTrue(leapcheck_info.boot_ended_run(FakeModule(login), never))


class State(unittest.TestCase):
    def test_systemctl_failing(self):
        # No answer is never "not active": the caller must not start a test.
        for answer, error in (((1, "", "Failed to connect to bus: No such file\n"),
                               "systemctl show: Failed to connect to bus: No such file"),
                              ((0, "", ""), "systemctl show: exit status 0, no state")):
            self.assertEqual(leapcheck_info.unit_state(FakeModule([], answer)), ({}, error))
        state, error = leapcheck_info.unit_state(
            FakeModule([], (0, "LoadState=loaded\nActiveState=inactive\nInvocationID=\n", "")))
        self.assertEqual((state["ActiveState"], error), ("inactive", ""))


if __name__ == "__main__":
    unittest.main()
