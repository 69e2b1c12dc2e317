"""The entry of the real uninstall.exe under Wine: warning mode, wait mode, and
command lines that must select neither."""

import os
import time

import harness

CAPTION = "Uninstall ZELK"
PROGRAM_DIR = r"C:\Program Files\Zelk Test"
PROGRAM = PROGRAM_DIR + r"\uninstall.exe"
WARNING_TEXT = ("Uninstall completed\n"
                "You should delete " + PROGRAM + " manually")
CONFIRM_TEXT = "Continue with uninstall ZELK"
SLEEP_ONE_SECOND = "000003e8"
MB_SETFOREGROUND_ICONINFORMATION_OK = "00010040"

# Message boxes, Sleep and MessageBoxA calls, and the command lines of
# processes that cmd starts all show in Wine's traces.
TRACE = "+msgbox,+relay,+process"
BATCH = r"C:\zelk-tests\launch.bat"


class EntryTest(harness.WineTestCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.wine.remove_tree(PROGRAM_DIR)
        cls.wine.install(PROGRAM)
        cls.relay = cls.wine.relay_only(["KERNEL32.Sleep", "user32.MessageBoxA"])
        cls.relay.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.relay.__exit__(None, None, None)
        cls.wine.remove_tree(PROGRAM_DIR)
        cls.wine.remove_tree(r"C:\zelk-tests")

    def write_batch(self, line):
        """A batch file holding line, for cmd to run: cmd hands the line to
        CreateProcess as it stands, quotes, blanks and tabs included."""
        path = self.wine.unix_path(BATCH)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as batch:
            batch.write(line.encode("ascii") + b"\r\n@exit %ERRORLEVEL%\r\n")
        return ["cmd", "/c", BATCH]

    def program_thread(self, result, command_line):
        """Main thread of the uninstall.exe that cmd started, after checking
        that it received exactly this command line."""
        programs = [p for p in result.started_processes() if "uninstall.exe" in p[0]]
        self.assertEqual([command_line], [cmd for cmd, _ in programs])
        return programs[0][1]

    def run_without_box(self, running):
        """Waits for a program that must show no box; fails if one shows."""
        while running.running():
            self.assertEqual([], self.wine.find_windows(CAPTION))
            time.sleep(0.2)
        return running.wait()

    def test_warning_mode_shows_one_box_and_waits_for_the_answer(self):
        for argument in ["warning", "Warning", "WARNING"]:
            with self.subTest(argument=argument):
                running, window = self.wine.start_for_window(
                    [PROGRAM, argument], CAPTION, debug=TRACE, label=argument)
                self.assertIsNotNone(window, "no box captioned " + CAPTION)
                self.assertEqual(CAPTION, self.wine.window_caption(window))
                self.assertEqual([window], self.wine.find_windows(CAPTION))
                self.assertTrue(running.running(), "the program ended before the answer")
                if argument == "warning":
                    self.wine.screenshot("warning-box")

                self.wine.press_key(window, "Return")
                result = running.wait(60)
                self.assertEqual(0, result.exit_code)
                self.assertEqual([WARNING_TEXT], result.message_boxes())
                [call] = result.calls("user32.MessageBoxA")
                args = call.split(",")
                self.assertEqual("00000000", args[0])  # no owner window
                self.assertEqual(MB_SETFOREGROUND_ICONINFORMATION_OK, args[-1])
                self.assertEqual([], result.calls("KERNEL32.Sleep"))
                self.assertEqual([], self.wine.find_windows(CAPTION))

    def test_wait_mode_pauses_one_second_without_a_window(self):
        for argument in ["wait", "WAIT", "Wait"]:
            with self.subTest(argument=argument):
                running = self.wine.start([PROGRAM, argument], debug=TRACE, label=argument)
                result = self.run_without_box(running)
                self.assertEqual(0, result.exit_code)
                self.assertEqual([SLEEP_ONE_SECOND], result.calls("KERNEL32.Sleep"))
                self.assertGreaterEqual(result.elapsed, 1.0)
                self.assertEqual([], result.message_boxes())
                self.assertEqual([], result.calls("user32.MessageBoxA"))

    def test_quoted_path_with_blanks_then_wait_runs_wait_mode(self):
        quoted = '"' + PROGRAM + '"'
        for separator in [" ", " \t  "]:
            line = quoted + separator + "wait"
            with self.subTest(command_line=line):
                result = self.run_without_box(
                    self.wine.start(self.write_batch(line), debug=TRACE, label=line))
                self.assertEqual(0, result.exit_code)
                thread = self.program_thread(result, line)
                self.assertEqual([SLEEP_ONE_SECOND], result.calls("KERNEL32.Sleep", thread))
                self.assertEqual([], result.message_boxes(thread))
        # Wine quotes a program path with blanks itself when it builds the
        # command line from its own arguments.
        with self.subTest(command_line="wine " + PROGRAM + " wait"):
            result = self.run_without_box(
                self.wine.start([PROGRAM, "wait"], debug=TRACE, label="direct wait"))
            self.assertEqual(0, result.exit_code)
            self.assertEqual([SLEEP_ONE_SECOND], result.calls("KERNEL32.Sleep"))

    def test_other_arguments_run_neither_wait_nor_warning(self):
        # Each of these selects uninstall mode. Should that ask its question,
        # the answer is No, which leaves the installation alone.
        quoted = '"' + PROGRAM + '"'
        for argument in ["", "waiting", "wai", "warnings", "WAITS", "wait ", "warning "]:
            line = (quoted + " " + argument) if argument else quoted
            with self.subTest(argument=argument):
                running, window = self.wine.start_for_window(
                    self.write_batch(line), CAPTION, debug=TRACE, label=line)
                if window is not None:
                    self.wine.press_key(window, "n")
                result = running.wait(60)
                self.assertEqual(0, result.exit_code)
                thread = self.program_thread(result, line)
                self.assertEqual([], result.calls("KERNEL32.Sleep", thread))
                for text in result.message_boxes(thread):
                    self.assertNotEqual(WARNING_TEXT, text)
                    self.assertEqual(CONFIRM_TEXT, text)
                self.assertEqual([], self.wine.find_windows(CAPTION))


if __name__ == "__main__":
    harness.main()
