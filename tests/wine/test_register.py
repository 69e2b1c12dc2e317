"""Register mode of the real uninstall.exe under Wine, checked from outside:
the registry through `wine reg export`, Add/Remove Programs through
`wine uninstaller --list`, and the files on the prefix's drive."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

PRODUCT = r"HKCU\Software\Zelk"
MACHINE_PRODUCT = r"HKLM\Software\Zelk"
ENTRY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\ZELK manager"
HIGHLIGHT = PRODUCT + r"\Highlight"

PROGRAM_DIR = r"C:\Program Files\Zelk Register"
PROGRAM = PROGRAM_DIR + r"\uninstall.exe"
AMPERSAND_DIR = r"C:\Zelk&Co"

# The six default groups: (Mask, IncludeAttributes or None, NormalColor, CursorColor).
DEFAULT_GROUPS = [
    ("*.*", 0x02, 0x13, 0x38),
    ("*.*", 0x04, 0x13, 0x38),
    ("*.*", 0x10, 0x1F, 0x3F),
    ("*.exe,*.com,*.bat,*.cmd", None, 0x1A, 0x3A),
    ("*.rar,*.arj,*.zip,*.lzh", None, 0x1D, 0x3D),
    ("*.bak,*.tmp", None, 0x16, 0x36),
]


class RegisterMode(harness.WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.clean_prefix()

    @classmethod
    def tearDownClass(cls):
        # The prefix is shared with the other test files: leave it as found.
        cls.clean_prefix()

    @classmethod
    def clean_prefix(cls):
        cls.wine.clear_windows_version()
        for place in (PROGRAM_DIR, AMPERSAND_DIR):
            cls.wine.remove_tree(place)
        for key in (PRODUCT, MACHINE_PRODUCT, ENTRY):
            cls.wine.reg_delete(key)

    def setUp(self):
        super().setUp()
        self.clean_prefix()
        self.wine.install(PROGRAM)

    def register(self, arguments, program=PROGRAM):
        # Through a batch file, so that the blanks of the argument string
        # reach the program exactly as written.
        result = self.wine.run_line('"%s" %s' % (program, arguments), label="register")
        self.assertEqual(result.exit_code, 0)

    def group_value(self):
        return self.wine.reg_export(PRODUCT)[PRODUCT].get("Group")

    def expected_groups(self):
        groups = harness.Keys()
        for number, (mask, include, normal, cursor) in enumerate(DEFAULT_GROUPS):
            values = {"Mask": ("REG_SZ", mask), "NormalColor": ("REG_DWORD", normal),
                      "CursorColor": ("REG_DWORD", cursor)}
            if include is not None:
                values["IncludeAttributes"] = ("REG_DWORD", include)
            groups[HIGHLIGHT + "\\Group%d" % number] = values
        return groups

    def highlight_groups(self):
        tree = self.wine.reg_export(PRODUCT)
        return harness.Keys((key, values) for key, values in tree.items()
                            if key.startswith(HIGHLIGHT.lower() + "\\"))

    def test_nt_family_records_entry_group_and_highlights_only(self):
        self.register("register  Zelk Group ")

        product = self.wine.reg_export(PRODUCT)
        self.assertEqual(product[PRODUCT], {"Group": ("REG_SZ", "Zelk Group ")})
        entry = self.wine.reg_export(ENTRY)
        self.assertEqual(entry[ENTRY], {
            "DisplayName": ("REG_SZ", "ZELK file manager"),
            "UninstallString": ("REG_SZ", '"%s"' % PROGRAM),
        })
        groups = self.highlight_groups()
        self.assertEqual(groups, self.expected_groups())
        self.assertEqual(sum(len(values) for values in groups.values()), 21)
        self.assertEqual(os.listdir(self.wine.unix_path(PROGRAM_DIR)), ["uninstall.exe"])
        self.assertIn("ZELK manager|||ZELK file manager", self.wine.uninstaller_list())

    def test_windows95_family_writes_marker_and_launcher_once(self):
        self.wine.set_windows_version("win95")
        self.register("register Zelk")
        marker = PROGRAM_DIR + r"\$UseBat.$$$"
        launcher = PROGRAM_DIR + r"\Zelk.bat"
        self.assertEqual(self.wine.read_file(marker), b"")
        expected = ('"%s\\Zelk.exe"\r\n' % PROGRAM_DIR).encode("ascii")
        self.assertEqual(self.wine.read_file(launcher), expected)
        self.assertEqual(self.group_value(), ("REG_SZ", "Zelk"))

        # Again, after the marker got content: it is emptied, the launcher kept.
        self.wine.write_file(marker, b"filled in between")
        self.register("register Zelk")
        self.assertEqual(self.wine.read_file(marker), b"")
        self.assertEqual(self.wine.read_file(launcher), expected)

        # An "&" in the directory is quoted as well.
        self.wine.install(AMPERSAND_DIR + r"\uninstall.exe")
        self.register("register Zelk", program=AMPERSAND_DIR + r"\uninstall.exe")
        self.assertEqual(self.wine.read_file(AMPERSAND_DIR + r"\Zelk.bat"),
                         b'"C:\\Zelk&Co\\Zelk.exe"\r\n')
        self.assertEqual(self.wine.read_file(AMPERSAND_DIR + r"\$UseBat.$$$"), b"")

    def test_keyword_in_capitals_and_alone(self):
        self.register("REGISTER Tools")
        self.assertEqual(self.group_value(), ("REG_SZ", "Tools"))
        self.register("register")
        self.assertEqual(self.group_value(), ("REG_SZ", ""))

    def test_existing_highlight_key_stops_the_seeding(self):
        self.wine.reg_add(HIGHLIGHT)
        self.register("register Zelk")
        tree = self.wine.reg_export(PRODUCT)
        self.assertIn(HIGHLIGHT, tree)
        self.assertEqual(self.highlight_groups(), {})
        self.assertEqual(tree[PRODUCT]["Group"], ("REG_SZ", "Zelk"))

    def test_a_group_the_user_changed_stays_changed(self):
        self.register("register Zelk")
        group2 = HIGHLIGHT + r"\Group2"
        self.wine.reg_add(group2, "NormalColor", "7", kind="REG_DWORD")
        self.wine.reg_delete(HIGHLIGHT + r"\Group5")
        self.register("register Zelk")
        expected = self.expected_groups()
        expected[group2]["NormalColor"] = ("REG_DWORD", 7)
        del expected[HIGHLIGHT + r"\Group5"]
        self.assertEqual(self.highlight_groups(), expected)


if __name__ == "__main__":
    harness.main()
