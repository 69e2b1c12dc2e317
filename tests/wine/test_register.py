"""Register mode of the real uninstall.exe under Wine, checked from outside:
the registry through `wine reg export`, Add/Remove Programs through
`wine uninstaller --list`, and the files on the prefix's drive."""


import os
import shutil
import subprocess
import tempfile
import unittest


class Keys(dict):
    """Registry paths compare without regard to case, as the registry's do."""

    def __init__(self, items=()):
        super().__init__()
        for key, value in dict(items).items():
            self[key] = value

    def __setitem__(self, key, value):
        super().__setitem__(key.lower(), value)

    def __getitem__(self, key):
        return super().__getitem__(key.lower())

    def __contains__(self, key):
        return super().__contains__(key.lower())

    def __delitem__(self, key):
        super().__delitem__(key.lower())


def parse_reg_export(text):
    """A `reg export` file as {key: {value name: (type, data)}}."""
    roots = {"HKEY_CURRENT_USER": "HKCU", "HKEY_LOCAL_MACHINE": "HKLM"}
    lines, pending = [], ""
    for line in text.splitlines():
        if line.endswith("\\") and not line.rstrip().endswith('"'):
            pending += line[:-1].strip()
            continue
        lines.append(pending + line.strip() if pending else line)
        pending = ""
    tree, values = Keys(), None
    for line in lines:
        if line.startswith("[") and line.endswith("]"):
            root, _, rest = line[1:-1].partition("\\")
            values = {}
            tree[roots.get(root, root) + "\\" + rest] = values
        elif values is not None and line.startswith(('"', "@")):
            if line.startswith("@"):
                name, raw = "", line[2:]
            else:
                end = 1
                while line[end] != '"':
                    end += 2 if line[end] == "\\" else 1
                name = line[1:end].replace('\\"', '"').replace("\\\\", "\\")
                raw = line[end + 2:]
            if raw.startswith('"'):
                data = raw[1:-1].replace('\\"', '"').replace("\\\\", "\\")
                values[name] = ("REG_SZ", data)
            elif raw.startswith("dword:"):
                values[name] = ("REG_DWORD", int(raw[6:], 16))
            else:
                kind, _, hexdata = raw.partition(":")
                data = bytes(int(b, 16) for b in hexdata.split(",") if b)
                values[name] = ({"hex": "REG_BINARY"}.get(kind, kind), data)
    return tree


class Wine:
    """The prefix, the program's installation in it, and the outside tools."""

    def __init__(self):
        here = os.path.dirname(os.path.abspath(__file__))
        build = os.environ.get("ZELK_WINDOWS_BUILD_DIR",
                               os.path.join(here, "..", "..", "build", "windows"))
        self.program = os.path.join(build, "uninstall.exe")
        self.prefix = os.environ.get("ZELK_WINE_PREFIX") or os.environ.get("WINEPREFIX") or \
            os.path.join(tempfile.gettempdir(), "zelk-wine-register")
        self.work = tempfile.mkdtemp(prefix="zelk-register-")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEARCH="win32",
                        WINEDEBUG="-all")
        self.env.pop("DISPLAY", None)  # register mode shows nothing
        if not os.path.isdir(os.path.join(self.prefix, "drive_c")):
            self.wine(["wineboot", "-i"], timeout=600)

    def close(self):
        self.wine(["wineserver", "-k"], timeout=60)
        shutil.rmtree(self.work, ignore_errors=True)

    def wine(self, command, timeout=180):
        """Runs a command with the prefix; Wine's noise goes to files."""
        out = os.path.join(self.work, "stdout")
        with open(out, "wb") as stdout, open(os.path.join(self.work, "stderr"), "ab") as stderr:
            result = subprocess.run(command, stdout=stdout, stderr=stderr, stdin=subprocess.DEVNULL,
                                    env=self.env, timeout=timeout, cwd=self.work)
        with open(out, "rb") as stdout:
            return result.returncode, stdout.read()

    def host_path(self, windows_path):
        assert windows_path[:3].upper() == "C:\\", windows_path
        return os.path.join(self.prefix, "drive_c", *windows_path[3:].split("\\"))

    def install(self, windows_path):
        target = self.host_path(windows_path)
        if os.path.isdir(os.path.dirname(target)):
            shutil.rmtree(os.path.dirname(target))
        os.makedirs(os.path.dirname(target))
        shutil.copyfile(self.program, target)

    def run_line(self, line, timeout=180):
        """Runs a command line exactly as written, through a batch file."""
        script = r"C:\zelk-register-run.bat"
        self.write_file(script, line.encode("ascii") + b"\r\n")
        code, _ = self.wine(["wine", "cmd", "/c", script], timeout=timeout)
        return code

    def read_file(self, windows_path):
        with open(self.host_path(windows_path), "rb") as f:
            return f.read()

    def write_file(self, windows_path, data):
        with open(self.host_path(windows_path), "wb") as f:
            f.write(data)

    def list_dir(self, windows_path):
        return sorted(os.listdir(self.host_path(windows_path)))

    def reg_delete(self, key):
        self.wine(["wine", "reg", "delete", key, "/f"])

    def reg_add(self, key, name=None, kind=None, data=None):
        command = ["wine", "reg", "add", key, "/f"]
        if name is not None:
            command += ["/v", name, "/t", kind, "/d", data]
        code, _ = self.wine(command)
        assert code == 0, command

    def reg_export(self, key):
        target = os.path.join(self.work, "export.reg")
        if os.path.exists(target):
            os.remove(target)
        code, _ = self.wine(["wine", "reg", "export", key, "export.reg", "/y"])
        if code != 0 or not os.path.exists(target):
            return Keys()
        with open(target, "rb") as f:
            return parse_reg_export(f.read().decode("utf-16"))

    def set_version(self, version):
        """Wine's per-application Windows version for uninstall.exe."""
        if version is None:
            self.reg_delete(r"HKCU\Software\Wine\AppDefaults\uninstall.exe")
        else:
            self.reg_add(r"HKCU\Software\Wine\AppDefaults\uninstall.exe", "Version", "REG_SZ",
                         version)

    def uninstaller_list(self):
        _, out = self.wine(["wine", "uninstaller", "--list"])
        return out.decode("utf-8", "replace")


PRODUCT = r"HKCU\Software\Zelk"
MACHINE_PRODUCT = r"HKLM\Software\Zelk"
ENTRY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\ZELK manager"
HIGHLIGHT = PRODUCT + r"\Highlight"
APP_DEFAULTS = r"HKCU\Software\Wine\AppDefaults\uninstall.exe"

PROGRAM_DIR = r"C:\Program Files\Zelk Test"
PROGRAM = PROGRAM_DIR + r"\uninstall.exe"

# The six default groups: (Mask, IncludeAttributes or None, NormalColor, CursorColor).
DEFAULT_GROUPS = [
    ("*.*", 0x02, 0x13, 0x38),
    ("*.*", 0x04, 0x13, 0x38),
    ("*.*", 0x10, 0x1F, 0x3F),
    ("*.exe,*.com,*.bat,*.cmd", None, 0x1A, 0x3A),
    ("*.rar,*.arj,*.zip,*.lzh", None, 0x1D, 0x3D),
    ("*.bak,*.tmp", None, 0x16, 0x36),
]


class RegisterMode(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = Wine()
        cls.wine.install(PROGRAM)

    @classmethod
    def tearDownClass(cls):
        cls.wine.set_version(None)
        cls.wine.close()

    def setUp(self):
        self.wine.set_version(None)
        for key in (PRODUCT, MACHINE_PRODUCT, ENTRY):
            self.wine.reg_delete(key)

    def register(self, arguments, program=PROGRAM):
        # Through a batch file, so that the blanks of the argument string
        # reach the program exactly as written.
        self.assertEqual(self.wine.run_line('"%s" %s' % (program, arguments)), 0)

    def expected_groups(self):
        groups = Keys()
        for number, (mask, include, normal, cursor) in enumerate(DEFAULT_GROUPS):
            values = {"Mask": ("REG_SZ", mask), "NormalColor": ("REG_DWORD", normal),
                      "CursorColor": ("REG_DWORD", cursor)}
            if include is not None:
                values["IncludeAttributes"] = ("REG_DWORD", include)
            groups[HIGHLIGHT + "\\Group%d" % number] = values
        return groups

    def highlight_groups(self):
        tree = self.wine.reg_export(PRODUCT)
        return Keys((key, values) for key, values in tree.items()
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
        self.assertEqual(self.wine.list_dir(PROGRAM_DIR), ["uninstall.exe"])
        self.assertIn("ZELK manager|||ZELK file manager", self.wine.uninstaller_list())

    def test_windows95_family_writes_marker_and_launcher_once(self):
        self.wine.set_version("win95")
        self.register("register Zelk")
        marker = PROGRAM_DIR + r"\$UseBat.$$$"
        launcher = PROGRAM_DIR + r"\Zelk.bat"
        self.assertEqual(self.wine.read_file(marker), b"")
        expected = ('"%s\\Zelk.exe"\r\n' % PROGRAM_DIR).encode("ascii")
        self.assertEqual(self.wine.read_file(launcher), expected)
        self.assertEqual(self.wine.reg_export(PRODUCT)[PRODUCT]["Group"], ("REG_SZ", "Zelk"))

        # Again, after the marker got content: it is emptied, the launcher kept.
        self.wine.write_file(marker, b"filled in between")
        self.register("register Zelk")
        self.assertEqual(self.wine.read_file(marker), b"")
        self.assertEqual(self.wine.read_file(launcher), expected)

        # An "&" in the directory is quoted as well.
        ampersand_dir = r"C:\Zelk&Co"
        self.wine.install(ampersand_dir + r"\uninstall.exe")
        self.register("register Zelk", program=ampersand_dir + r"\uninstall.exe")
        self.assertEqual(self.wine.read_file(ampersand_dir + r"\Zelk.bat"),
                         b'"C:\\Zelk&Co\\Zelk.exe"\r\n')
        self.assertEqual(self.wine.read_file(ampersand_dir + r"\$UseBat.$$$"), b"")

    def test_keyword_in_capitals_and_alone(self):
        self.register("REGISTER Tools")
        self.assertEqual(self.wine.reg_export(PRODUCT)[PRODUCT]["Group"], ("REG_SZ", "Tools"))
        self.register("register")
        self.assertEqual(self.wine.reg_export(PRODUCT)[PRODUCT]["Group"], ("REG_SZ", ""))

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
        self.wine.reg_add(group2, "NormalColor", "REG_DWORD", "7")
        self.wine.reg_delete(HIGHLIGHT + r"\Group5")
        self.register("register Zelk")
        expected = self.expected_groups()
        expected[group2]["NormalColor"] = ("REG_DWORD", 7)
        del expected[HIGHLIGHT + r"\Group5"]
        self.assertEqual(self.highlight_groups(), expected)


if __name__ == "__main__":
    unittest.main(verbosity=2)
