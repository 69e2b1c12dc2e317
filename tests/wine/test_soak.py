"""Many complete life cycles of the real uninstall.exe in one Wine prefix:
install a fresh sample product, register it, uninstall it through Add/Remove
Programs with Yes answered in the real box, and wait for the self-removal
script to take the executable and its directory. Whatever one cycle leaves
behind (a key, a temporary file, a process still running) would show up in
the next cycle or at the end.

ZELK_SOAK_CYCLES sets the number of cycles (default 20)."""

import getpass
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

CYCLES = int(os.environ.get("ZELK_SOAK_CYCLES") or 20)

USER = getpass.getuser()
PROGRAMS = rf"C:\users\{USER}\AppData\Roaming\Microsoft\Windows\Start Menu\Programs"
TEMP = rf"C:\users\{USER}\Temp"
SCRIPT = TEMP + r"\Uninstall.Zelk.Bat"
PRODUCT_DIR = r"C:\Program Files\Zelk Soak"
EXE = PRODUCT_DIR + r"\uninstall.exe"
GROUP = "ZELK Soak"
ENTRY_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\ZELK manager"
USER_KEY = r"HKCU\Software\Zelk"
MACHINE_KEY = r"HKLM\Software\Zelk"
KEYS = (USER_KEY, MACHINE_KEY, ENTRY_KEY)
TITLE = "Uninstall ZELK"
CONFIRMATION = "Continue with uninstall ZELK"
SELF_REMOVAL_TIMEOUT = 240  # wait mode, the attempts and cmd itself, under qemu
PROCESS_TIMEOUT = 60

FILES = harness.SAMPLE_FILES
DIRECTORIES = harness.SAMPLE_DIRECTORIES


def our_processes(prefix):
    """Command lines of the live processes of this prefix that run our
    executable or our script (read from the host's /proc)."""
    marks = [m.lower().encode() for m in ("uninstall.exe", "Uninstall.Zelk.Bat", PRODUCT_DIR)]
    owner = ("WINEPREFIX=" + prefix).encode()
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as handle:
                if owner not in handle.read().split(b"\0"):
                    continue
            with open(f"/proc/{pid}/cmdline", "rb") as handle:
                args = handle.read().replace(b"\0", b" ").strip()
        except OSError:
            continue  # gone meanwhile, or not ours to read
        if any(mark in args.lower() for mark in marks):
            found.append(args.decode("utf-8", "replace"))
    return found


class SoakTest(harness.WineTestCase):

    def setUp(self):
        super().setUp()
        self.clean()
        self.addCleanup(self.clean)

    def clean(self):
        for place in (PRODUCT_DIR, PROGRAMS + "\\" + GROUP):
            self.wine.remove_tree(place)
        if os.path.exists(self.wine.unix_path(SCRIPT)):
            os.remove(self.wine.unix_path(SCRIPT))
        for key in KEYS:
            self.wine.reg_delete(key)

    def path(self, relative=""):
        return self.wine.unix_path(PRODUCT_DIR + ("\\" + relative if relative else ""))

    def temp_entries(self):
        return set(os.listdir(self.wine.unix_path(TEMP)))

    def keys_present(self):
        """Which of the product's keys exist: one command processor asks
        reg.exe about all three, each present key prints its name alone on
        a line."""
        command = ["cmd", "/c"]
        for key in KEYS:
            command += (["&"] if len(command) > 2 else []) + ["reg", "query", key]
        result = self.wine.run(command, label="reg query keys")
        lines = {line.strip().lower() for line in result.stdout.splitlines()}
        return [key for key in KEYS if self.long_name(key).lower() in lines]

    @staticmethod
    def long_name(key):
        root, _, rest = key.partition("\\")
        return {"HKCU": "HKEY_CURRENT_USER", "HKLM": "HKEY_LOCAL_MACHINE"}[root] + "\\" + rest

    def wait_until(self, condition, timeout, what):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if condition():
                return
            time.sleep(0.5)
        self.fail(f"{what} not within {timeout} s")

    # -- one cycle

    def install(self):
        self.wine.install(EXE)
        self.wine.write_sample_product(PRODUCT_DIR, harness.SAMPLE_LIST)
        group = self.wine.unix_path(PROGRAMS) + "/" + GROUP
        os.makedirs(group, exist_ok=True)
        with open(group + "/ZELK.lnk", "wb") as handle:
            handle.write(b"lnk")

        result = self.wine.run([EXE, "register"] + GROUP.split(" "), label="register")
        self.assertEqual(result.exit_code, 0)
        # Attributes the deletion has to clear, and a machine-wide product
        # key for the erasure to find: one command processor for all three.
        result = self.wine.run(
            ["cmd", "/c", "attrib", "+r", PRODUCT_DIR + r"\readonly.dat", "&",
             "attrib", "+h", PRODUCT_DIR + r"\hidden.dat", "&",
             "reg", "add", MACHINE_KEY, "/v", "Probe", "/d", "machine", "/f"],
            label="attributes and machine key")
        self.assertEqual(result.exit_code, 0)

    def uninstall(self):
        # Twenty starts make a start that Wine's desktop process does not
        # survive under qemu likely; such a start is retried.
        running, window = self.wine.start_for_window(
            ["uninstaller", "--remove", "ZELK manager"], TITLE, debug="+msgbox",
            label="uninstall", timeout=120)
        self.assertIsNotNone(window, "no box captioned " + TITLE)
        self.wine.press_key(window, "y")
        running.wait(120)
        # The executable, its directory and the script go in the script's own
        # time; no box may show meanwhile (the warning would).
        deadline = time.monotonic() + SELF_REMOVAL_TIMEOUT
        while os.path.exists(self.path()) or os.path.exists(self.wine.unix_path(SCRIPT)):
            self.assertEqual(self.wine.find_windows(TITLE), [], "a box appeared")
            self.seen_running.update(our_processes(self.wine.prefix))
            if time.monotonic() > deadline:
                left = os.listdir(self.path()) if os.path.exists(self.path()) else []
                self.fail(f"self-removal not done within {SELF_REMOVAL_TIMEOUT} s; left: {left}")
            time.sleep(0.5)
        # The warning's run would write to the uninstaller's standard error.
        self.assertEqual(harness.message_box_texts(harness._read_text(running.stderr_path)),
                         [CONFIRMATION])

    def check_gone(self):
        self.assertFalse(os.path.exists(self.path()), "the program directory stayed")
        self.assertFalse(os.path.exists(self.wine.unix_path(PROGRAMS + "\\" + GROUP)),
                         "the group folder stayed")
        self.assertEqual(self.keys_present(), [])
        self.wait_until(lambda: not our_processes(self.wine.prefix), PROCESS_TIMEOUT,
                        "our processes ending")

    # -- the soak

    def test_life_cycles_leave_nothing_behind(self):
        temp_before = self.temp_entries()
        self.seen_running = set()
        times = []
        started = time.monotonic()
        for cycle in range(1, CYCLES + 1):
            with self.subTest(cycle=cycle):
                begun = time.monotonic()
                try:
                    self.install()
                    if cycle == 1:
                        # Also shows that keys_present() sees keys that are there.
                        self.assertEqual(self.keys_present(), list(KEYS),
                                         "registration incomplete")
                    self.uninstall()
                    self.check_gone()
                except BaseException:
                    # The screen as the failure left it; then the next cycle
                    # starts from a clean prefix all the same.
                    self.save_screenshot(f"-cycle={cycle}-at-failure")
                    self.wine.stop_started()
                    self.clean()
                    raise
                times.append(time.monotonic() - begun)
                print(f"cycle {cycle}: {times[-1]:.1f} s", file=sys.stderr)
        total = time.monotonic() - started
        print(f"{len(times)} of {CYCLES} cycles in {total:.0f} s"
              + (f", {min(times):.1f} to {max(times):.1f} s each" if times else ""),
              file=sys.stderr)

        for args in sorted(self.seen_running):
            print("seen running: " + args, file=sys.stderr)
        self.assertEqual(len(times), CYCLES, "cycles failed")
        self.assertEqual(self.wine.reg_query(USER_KEY), None)
        self.assertEqual(self.wine.reg_query(MACHINE_KEY), None)
        self.assertEqual(self.wine.reg_query(ENTRY_KEY), None)
        self.assertEqual(sorted(self.temp_entries() - temp_before), [],
                         "left in the temporary directory")
        self.assertEqual(our_processes(self.wine.prefix), [])
        # The script's command processor was seen at work, so the process
        # check above can see what it looks for.
        self.assertTrue(any("uninstall.zelk.bat" in args.lower() for args in self.seen_running),
                        self.seen_running)


if __name__ == "__main__":
    harness.main()
