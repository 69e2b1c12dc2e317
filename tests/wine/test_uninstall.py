"""Uninstall mode of the real uninstall.exe under Wine, started the way a user
starts it (Add/Remove Programs) or directly, answered in the real message
box, and checked from outside: the prefix's files, the registry through
Wine's reg.exe, and the boxes through Wine's message-box trace."""

import getpass
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

USER = getpass.getuser()
PROGRAMS = rf"C:\users\{USER}\AppData\Roaming\Microsoft\Windows\Start Menu\Programs"
SCRIPT = rf"C:\users\{USER}\Temp\Uninstall.Zelk.Bat"
PRODUCT_DIR = r"C:\Program Files\Zelk Test"
GROUP = "ZELK Test"
ENTRY_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\ZELK manager"
USER_KEY = r"HKCU\Software\Zelk"
MACHINE_KEY = r"HKLM\Software\Zelk"
TITLE = "Uninstall ZELK"
SELF_REMOVAL_TIMEOUT = 240  # wait mode, five attempts and cmd itself, under qemu

FILES = harness.SAMPLE_FILES
LIST = harness.SAMPLE_LIST


class UninstallTest(harness.WineTestCase):

    def setUp(self):
        super().setUp()
        self.product_dir = PRODUCT_DIR
        self.clean()
        self.addCleanup(self.clean)

    # -- the installed product

    def path(self, relative=""):
        return self.wine.unix_path(self.product_dir + ("\\" + relative if relative else ""))

    def clean(self):
        for place in (self.product_dir, PROGRAMS + "\\" + GROUP):
            self.wine.remove_tree(place)
        if os.path.exists(self.wine.unix_path(SCRIPT)):
            os.remove(self.wine.unix_path(SCRIPT))
        for key in (USER_KEY, MACHINE_KEY, ENTRY_KEY):
            self.wine.reg_delete(key)

    def install(self, list_bytes=LIST, hold_subfolder=True):
        """The product, its group folder and its registry entries."""
        exe = self.product_dir + r"\uninstall.exe"
        self.wine.install(exe)
        self.wine.write_sample_product(self.product_dir, list_bytes)
        group = self.wine.unix_path(PROGRAMS) + "/" + GROUP
        os.makedirs(group + ("/Tools" if hold_subfolder else ""), exist_ok=True)
        with open(group + "/ZELK.lnk", "wb") as handle:
            handle.write(b"lnk")
        if hold_subfolder:
            with open(group + "/Tools/Editor.lnk", "wb") as handle:
                handle.write(b"lnk")
        if self.product_dir.isascii():
            result = self.wine.run([exe, "register"] + GROUP.split(" "), label="register")
            self.assertEqual(result.exit_code, 0)
            # Attributes that the deletion must clear first.
            self.wine.run(["cmd", "/c", "attrib", "+r", self.product_dir + r"\readonly.dat"],
                          label="attrib +r")
            self.wine.run(["cmd", "/c", "attrib", "+h", self.product_dir + r"\hidden.dat"],
                          label="attrib +h")
        else:
            self.register_from_file(exe)
        self.wine.reg_add(MACHINE_KEY, "Probe", "machine")
        self.assertIsNotNone(self.wine.reg_query(ENTRY_KEY), "register mode made no entry")
        self.assertEqual(self.wine.reg_value(USER_KEY, "Group"), ("REG_SZ", GROUP))

    def register_from_file(self, exe):
        """What register mode records, imported from a Unicode .reg file, so
        that no non-ASCII path has to cross Wine's command line."""
        quoted = '\\"' + exe.replace("\\", "\\\\") + '\\"'
        text = ("Windows Registry Editor Version 5.00\r\n\r\n"
                f"[HKEY_LOCAL_MACHINE\\{ENTRY_KEY[5:]}]\r\n"
                '"DisplayName"="ZELK file manager"\r\n'
                f'"UninstallString"="{quoted}"\r\n\r\n'
                f"[HKEY_CURRENT_USER\\{USER_KEY[5:]}]\r\n"
                f'"Group"="{GROUP}"\r\n')
        reg_file = r"C:\zelk-tools\entry.reg"
        target = self.wine.unix_path(reg_file)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as handle:
            handle.write(b"\xff\xfe" + text.encode("utf-16-le"))
        self.addCleanup(self.wine.remove_tree, r"C:\zelk-tools")
        self.assertEqual(self.wine.run(["regedit", "/S", reg_file], label="regedit").exit_code, 0)
        # reg.exe prints the É in a code page of its own: compare around it.
        kind, data = self.wine.reg_value(ENTRY_KEY, "UninstallString")
        head, _, tail = ('"' + exe + '"').partition("\u00c9")
        self.assertTrue(data.startswith(head) and data.endswith(tail), data)

    def exists(self, relative=""):
        return os.path.exists(self.path(relative))

    def group_exists(self):
        return os.path.exists(self.wine.unix_path(PROGRAMS + "\\" + GROUP))

    def keys_present(self):
        return {key: self.wine.reg_query(key) is not None
                for key in (USER_KEY, MACHINE_KEY, ENTRY_KEY)}

    # -- running it

    def start_uninstall(self, through_control_panel=True):
        command = (["uninstaller", "--remove", "ZELK manager"] if through_control_panel
                   else [self.product_dir + r"\uninstall.exe"])
        return self.wine.start(command, debug="+msgbox", label="uninstall")

    def answer(self, running, key):
        """Waits for the box, answers it, and gives its text."""
        window = self.wine.wait_for_window(TITLE, timeout=120)
        self.assertIsNotNone(window, "no box captioned " + TITLE)
        self.wine.press_key(window, key)
        return window

    def wait_gone(self, window, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and window in self.wine.find_windows(TITLE):
            time.sleep(0.3)

    def boxes(self, running):
        return harness.message_box_texts(harness._read_text(running.stderr_path))

    def wait_for(self, condition, timeout=SELF_REMOVAL_TIMEOUT, watch_boxes=True):
        """Polls until condition() holds; fails on a box that shows up."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if watch_boxes:
                self.assertEqual(self.wine.find_windows(TITLE), [], "a box appeared")
            if condition():
                return time.monotonic()
            time.sleep(1)
        self.fail(f"not done within {timeout} s")

    # -- cases

    def test_through_add_remove_programs_everything_goes(self):
        self.install()
        started = time.monotonic()
        running = self.start_uninstall()
        window = self.answer(running, "y")
        self.wait_gone(window)
        running.wait(120)
        print(f"\nsequence done {time.monotonic() - started:.1f} s after the start",
              file=sys.stderr)

        for relative in FILES + ["Doc", r"Doc\Deep", "Uninstall.lst"]:
            self.assertFalse(self.exists(relative), relative)
        self.assertEqual(self.keys_present(),
                         {USER_KEY: False, MACHINE_KEY: False, ENTRY_KEY: False})
        # The folder steps take the plain files; the subfolder goes only if
        # the DDE command reached a Program Manager (next case).
        self.assertFalse(os.path.exists(self.wine.unix_path(PROGRAMS + "\\" + GROUP + r"\ZELK.lnk")))
        self.assertEqual(self.boxes(running), ["Continue with uninstall ZELK"])

        done = self.wait_for(lambda: not self.exists()
                             and not os.path.exists(self.wine.unix_path(SCRIPT)))
        print(f"self-removal done {done - started:.1f} s after the start", file=sys.stderr)

    def desktop_shell_running(self):
        """Whether Wine's desktop shell, the Program Manager DDE server,
        runs in this prefix."""
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as handle:
                    args = handle.read().lower()
                with open(f"/proc/{pid}/environ", "rb") as handle:
                    environ = handle.read().split(b"\0")
            except OSError:
                continue
            if b"explorer.exe" in args and b"/desktop" in args and \
                    ("WINEPREFIX=" + self.wine.prefix).encode() in environ:
                return True
        return False

    def test_the_program_manager_deletes_the_group_with_its_subfolder(self):
        self.install()
        running = self.start_uninstall()
        self.wine.wait_for_window(TITLE, timeout=120)
        if not self.desktop_shell_running():
            self.answer(running, "n")
            running.wait(120)
            self.skipTest("no desktop shell runs in this prefix: nothing answers PROGMAN")
        self.answer(running, "y")
        running.wait(120)
        self.assertFalse(self.exists("zelk.exe"))
        self.assertFalse(self.group_exists(), "the group folder and its subfolder stayed")

    def test_no_removes_nothing(self):
        self.install()
        running = self.start_uninstall(through_control_panel=False)
        self.answer(running, "n")
        self.assertEqual(running.wait(120).exit_code, 0)
        for relative in FILES + ["uninstall.exe", "Uninstall.lst"]:
            self.assertTrue(self.exists(relative), relative)
        self.assertTrue(self.group_exists())
        self.assertEqual(self.keys_present(),
                         {USER_KEY: True, MACHINE_KEY: True, ENTRY_KEY: True})
        self.assertFalse(os.path.exists(self.wine.unix_path(SCRIPT)))

    def test_missing_list_file_is_reported_and_removes_nothing(self):
        self.install(list_bytes=None)
        running = self.start_uninstall(through_control_panel=False)
        first = self.answer(running, "y")
        self.wait_gone(first)
        error = self.wine.wait_for_window(TITLE, timeout=60)
        self.assertIsNotNone(error, "no error box")
        self.assertEqual(self.wine.window_caption(error), TITLE)
        self.wine.press_key(error, "Return")
        self.assertEqual(running.wait(120).exit_code, 0)
        self.assertEqual(self.boxes(running), ["Continue with uninstall ZELK",
                                               "Cannot open list file Uninstall.lst"])
        for relative in FILES + ["uninstall.exe"]:
            self.assertTrue(self.exists(relative), relative)
        self.assertTrue(self.group_exists())
        self.assertEqual(self.keys_present(),
                         {USER_KEY: True, MACHINE_KEY: True, ENTRY_KEY: True})

    def test_an_unlisted_file_keeps_the_directory_not_the_executable(self):
        self.install(hold_subfolder=False)
        with open(self.path("settings.ini"), "wb") as handle:
            handle.write(b"kept")
        running = self.start_uninstall()
        self.answer(running, "y")
        running.wait(120)
        self.wait_for(lambda: not self.exists("uninstall.exe")
                      and not os.path.exists(self.wine.unix_path(SCRIPT)))
        self.assertTrue(self.exists("settings.ini"))
        self.assertEqual(sorted(os.listdir(self.path())), ["settings.ini"])

    def test_an_executable_held_open_survives_and_the_warning_shows(self):
        self.install(hold_subfolder=False)
        helper_dir = r"C:\zelk-tools"
        helper = self.wine.install(helper_dir + r"\hold_file.exe", os.path.join(
            harness.windows_build_dir(), "tests", "windows", "hold_file.exe"))
        self.addCleanup(self.wine.remove_tree, helper_dir)
        marker = helper_dir + r"\held"
        holder = self.wine.start([helper_dir + r"\hold_file.exe",
                                  self.product_dir + r"\uninstall.exe", "600", marker],
                                 label="hold_file")
        self.addCleanup(holder.stop)
        deadline = time.monotonic() + 120
        while not os.path.exists(self.wine.unix_path(marker)) and time.monotonic() < deadline:
            time.sleep(0.5)
        self.assertTrue(os.path.exists(self.wine.unix_path(marker)), "hold_file did not start")
        self.assertTrue(os.path.exists(helper))

        running = self.start_uninstall()
        first = self.answer(running, "y")
        self.wait_gone(first)
        running.wait(120)
        warning = self.wine.wait_for_window(TITLE, timeout=SELF_REMOVAL_TIMEOUT)
        self.assertIsNotNone(warning, "no warning box")
        self.assertTrue(self.exists("uninstall.exe"))
        self.wine.press_key(warning, "Return")
        # The warning's run inherits the uninstaller's standard error.
        deadline = time.monotonic() + 60
        while len(self.boxes(running)) < 2 and time.monotonic() < deadline:
            time.sleep(1)
        self.assertEqual(self.boxes(running), [
            "Continue with uninstall ZELK",
            "Uninstall completed\nYou should delete " + self.product_dir +
            r"\uninstall.exe manually"])
        self.wait_for(lambda: not os.path.exists(self.wine.unix_path(SCRIPT)), timeout=60,
                      watch_boxes=False)
        self.assertTrue(self.exists("uninstall.exe"))
        self.assertFalse(self.exists("zelk.exe"))

    def test_a_directory_name_beyond_ascii(self):
        # The command processor reads the script in the OEM code page, where
        # É is 0x90, not the ANSI page's 0xC9.
        self.product_dir = "C:\\Program Files\\Zelk \u00c9diteur"
        self.clean()
        self.install(hold_subfolder=False)
        running = self.start_uninstall()
        self.answer(running, "y")
        running.wait(120)
        self.wait_for(lambda: not self.exists()
                      and not os.path.exists(self.wine.unix_path(SCRIPT)))
        self.assertEqual(self.keys_present(),
                         {USER_KEY: False, MACHINE_KEY: False, ENTRY_KEY: False})


if __name__ == "__main__":
    harness.main()
