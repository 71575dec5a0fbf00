"""The playbook's module leapcheck_info on journal entries made here: the
tick count line's three forms, runs told apart by invocation, and which
runs of an earlier boot a reboot ended.
Usage: python3 leapcheck_info_test.py SOURCE_DIR"""

import json
import sys
import unittest

sys.path.insert(0, sys.argv.pop(1) + "/ansible/roles/leapcheck/library")
import leapcheck_info  # noqa: E402  pylint: disable=wrong-import-position

LINE = "leapcheck: tick count: "


class FakeModule:
    """Answers journalctl's query for start jobs with the given entries."""

    def __init__(self, starts):
        self.starts = starts

    def run_command(self, _argv):
        return 0, "\n".join(json.dumps(entry) for entry in self.starts), ""


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
        for other in ("Running Test Code", LINE + "HPET, fast, independent of the counter"):
            self.assertIsNone(leapcheck_info.parse_tick(other))


class Runs(unittest.TestCase):
    # Two runs: the first stopped at 30, the second never stopped.
    entries = [
        entry(10, INVOCATION_ID="a", JOB_TYPE="start", MESSAGE="Started"),
        entry(11, _SYSTEMD_INVOCATION_ID="a", MESSAGE=LINE + "HPET, 1 Hz, independent of the counter"),
        entry(20, _SYSTEMD_INVOCATION_ID="a", MESSAGE="LEAP: ..."),
        entry(30, INVOCATION_ID="a", JOB_TYPE="stop", MESSAGE="Stopping"),
        entry(31, INVOCATION_ID="a", MESSAGE="Deactivated"),
        entry(40, INVOCATION_ID="b", JOB_TYPE="start", MESSAGE="Started"),
        entry(41, _SYSTEMD_INVOCATION_ID="b", MESSAGE="Running Test Code"),
        # A start that the program never printed in is no run.
        entry(50, INVOCATION_ID="c", JOB_TYPE="start", MESSAGE="Started"),
    ]

    def test_grouped(self):
        first, second = leapcheck_info.group_runs(self.entries)
        self.assertEqual((first["invocation"], first["first"], first["stopping"]), ("a", 10, 30))
        self.assertTrue(first["clock"]["independent"])
        self.assertEqual((second["invocation"], second["stopping"], second["clock"]), ("b", None, {}))

    def test_ended_by_reboot(self):
        stopped, never = leapcheck_info.group_runs(self.entries)
        shutdown = [entry(35, UNIT="reboot.target"), entry(36, UNIT="systemd-reboot.service")]
        login = [entry(33, UNIT="session-4.scope")] + shutdown
        self.assertTrue(leapcheck_info.boot_ended_run(FakeModule(shutdown), stopped))
        self.assertFalse(leapcheck_info.boot_ended_run(FakeModule(login), stopped))
        # A start before the stop tells nothing.
        self.assertTrue(leapcheck_info.boot_ended_run(FakeModule([entry(25, UNIT="x.service")]), stopped))
        self.assertTrue(leapcheck_info.boot_ended_run(FakeModule(login), never))


if __name__ == "__main__":
    unittest.main()
