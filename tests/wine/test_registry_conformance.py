"""The registry cases against Wine's real registry: registry_conformance.exe
runs the same cases that the host tests run against the simulation, once as
the NT family (Wine's default) and once as the Windows 95 family. Each run's
lines are printed, one per case, with the details of any failure."""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

PROGRAM = "registry_conformance.exe"
SCRATCH = r"HKCU\Software\ZelkConformance"


def program_path():
    return os.path.join(harness.windows_build_dir(), "tests", "windows", PROGRAM)


class RegistryConformance(harness.WineTestCase):
    def run_cases(self, family):
        result = self.wine.run([program_path()], label=f"{PROGRAM} {family}")
        output = result.stdout.replace("\r\n", "\n")
        print(f"\n--- {PROGRAM} as the {family} family ---\n{output}", end="", flush=True)
        lines = output.splitlines()
        self.assertTrue(lines, "the program printed nothing")
        self.assertEqual(lines[0], f"platform family: {family}")
        self.assertEqual([line for line in lines if line.startswith("FAIL ")], [])
        closing = re.fullmatch(r"(\d+) passed, (\d+) failed", lines[-1])
        self.assertIsNotNone(closing, f"no closing line: {lines[-1]!r}")
        self.assertEqual(closing.group(2), "0")
        self.assertEqual(int(closing.group(1)),
                         len([line for line in lines if line.startswith("PASS ")]))
        self.assertEqual(result.exit_code, 0)
        # Seen from outside, through Wine's own reg.exe: nothing left behind.
        self.assertIsNone(self.wine.reg_query(SCRATCH))

    def test_nt_family(self):
        self.wine.clear_windows_version(PROGRAM)
        self.run_cases("NT")

    def test_windows95_family(self):
        self.wine.set_windows_version("win95", program=PROGRAM)
        self.addCleanup(self.wine.clear_windows_version, PROGRAM)
        self.run_cases("Windows 95")


if __name__ == "__main__":
    harness.main()
