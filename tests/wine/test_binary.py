"""The built uninstall.exe as a file: its PE headers, the DLLs it imports and
its resources, read with a small PE reader of our own."""

import struct
import unittest

import harness

IMAGE_FILE_MACHINE_I386 = 0x14C
PE32_MAGIC = 0x10B
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
DYNAMIC_BASE = 0x40
NX_COMPAT = 0x100
RT_ICON, RT_STRING, RT_GROUP_ICON = 3, 6, 14

MAX_SIZE = 24 * 1024
ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "msvcrt.dll"}
# What shell32 exports by name on every platform family: the Windows 95
# family's exports some of its functions (ILFree among them) by ordinal only,
# and a program that imports one of those by name does not load there.
SHELL32_BY_NAME_EVERYWHERE = {"SHGetSpecialFolderLocation", "SHGetPathFromIDListA",
                              "SHGetMalloc"}
TEXTS = {
    200: "Uninstall ZELK",
    201: "Uninstall completed",
    202: "You should delete %s manually",
    203: "Continue with uninstall ZELK",
    204: "Cannot open list file",
}


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        self.optional = pe + 24
        self.magic = self.u16(self.optional)
        self.subsystem = self.u16(self.optional + 68)
        self.dll_characteristics = self.u16(self.optional + 70)
        # The data directories follow at 96 in a PE32 optional header.
        self.directories = [struct.unpack_from("<II", data, self.optional + 96 + 8 * i)
                            for i in range(self.u32(self.optional + 92))]
        table = self.optional + optional_size
        self.sections = []
        for i in range(sections):
            vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((vaddr, max(vsize, raw_size), raw_ptr))

    def u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def offset(self, rva):
        for vaddr, size, raw_ptr in self.sections:
            if vaddr <= rva < vaddr + size:
                return raw_ptr + rva - vaddr
        raise ValueError(f"RVA {rva:#x} is in no section")

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imported_dlls(self):
        rva, _ = self.directories[1]
        names, at = [], self.offset(rva)
        while True:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, at)
            if not (lookup or name or thunks):
                return names
            names.append(self.c_string(name))
            at += 20

    def imports(self):
        """{dll name: [function name, or ordinal as an int]} of the import table."""
        rva, _ = self.directories[1]
        table, at = {}, self.offset(rva)
        while True:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, at)
            if not (lookup or name or thunks):
                return table
            functions, entry = [], self.offset(lookup or thunks)
            while True:
                thunk = self.u32(entry)
                if not thunk:
                    break
                if thunk & 0x80000000:
                    functions.append(thunk & 0xFFFF)
                else:
                    functions.append(self.c_string(thunk + 2))  # past the hint
                entry += 4
            table[self.c_string(name)] = functions
            at += 20

    def resources(self):
        """{type: {name: {language: bytes}}}; ids are ints, names strings."""
        rva, _ = self.directories[2]
        base = self.offset(rva)

        def entries(directory):
            named, ids = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                if name & 0x80000000:
                    at = base + (name & 0x7FFFFFFF)
                    length = self.u16(at)
                    name = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                yield name, target

        def leaf(target):
            data_rva, size = struct.unpack_from("<II", self.data, base + target)
            start = self.offset(data_rva)
            return self.data[start:start + size]

        tree = {}
        for kind, names in entries(0):
            for name, languages in entries(names & 0x7FFFFFFF):
                for language, target in entries(languages & 0x7FFFFFFF):
                    tree.setdefault(kind, {}).setdefault(name, {})[language] = leaf(target)
        return tree


def string_table(blocks):
    """{id: text} of every non-empty string in RT_STRING blocks."""
    texts = {}
    for block_id, languages in blocks.items():
        for data in languages.values():
            at = 0
            for index in range(16):
                length = struct.unpack_from("<H", data, at)[0]
                text = data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                at += 2 + 2 * length
                if text:
                    texts[(block_id - 1) * 16 + index] = text
    return texts


class BinaryTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        with open(harness.uninstaller_path(), "rb") as exe:
            cls.pe = PeFile(exe.read())
        cls.resources = cls.pe.resources()

    def test_a_32_bit_gui_program_with_aslr_and_nx(self):
        self.assertEqual(PE32_MAGIC, self.pe.magic, "not PE32 (PE32+ is 0x20b)")
        self.assertEqual(IMAGE_FILE_MACHINE_I386, self.pe.machine)
        self.assertEqual(IMAGE_SUBSYSTEM_WINDOWS_GUI, self.pe.subsystem)
        self.assertEqual(DYNAMIC_BASE | NX_COMPAT,
                         self.pe.dll_characteristics & (DYNAMIC_BASE | NX_COMPAT))

    def test_imports_only_system_dlls(self):
        dlls = {name.lower() for name in self.pe.imported_dlls()}
        self.assertLessEqual(dlls, ALLOWED_DLLS)
        # The command line and the message boxes cannot do without these.
        self.assertLessEqual({"kernel32.dll", "user32.dll"}, dlls)

    def test_small_enough_as_built(self):
        size = len(self.pe.data)
        self.assertLessEqual(size, MAX_SIZE, f"{size} bytes")

    def test_shell32_functions_load_on_every_platform_family(self):
        imports = {dll.lower(): functions for dll, functions in self.pe.imports().items()}
        shell = imports.get("shell32.dll", [])
        self.assertEqual([], [f for f in shell if isinstance(f, int)], "imported by ordinal")
        self.assertLessEqual(set(shell), SHELL32_BY_NAME_EVERYWHERE)
        # The Programs folder lookup cannot do without it.
        self.assertIn("SHGetSpecialFolderLocation", shell)

    def test_string_table_holds_exactly_the_five_texts_language_neutral(self):
        blocks = self.resources[RT_STRING]
        self.assertEqual({200 // 16 + 1}, set(blocks))
        self.assertEqual({0}, {language for block in blocks.values() for language in block})
        self.assertEqual(TEXTS, string_table(blocks))

    def test_icon_group_uninstall_has_one_32x32_16_colour_icon(self):
        groups = self.resources[RT_GROUP_ICON]
        self.assertEqual(["UNINSTALL"], list(groups))
        [group] = groups["UNINSTALL"].values()
        reserved, kind, count = struct.unpack_from("<HHH", group, 0)
        self.assertEqual((0, 1, 1), (reserved, kind, count))
        width, height, colours, _, planes, bits, size, icon_id = struct.unpack_from(
            "<BBBBHHIH", group, 6)
        self.assertEqual((32, 32, 16, 4, 1), (width, height, colours, bits, icon_id))
        self.assertIn(planes, (0, 1))

        self.assertEqual([1], list(self.resources[RT_ICON]))
        [image] = self.resources[RT_ICON][1].values()
        self.assertEqual(size, len(image))
        # The image itself: a DIB twice the icon's height (colours and mask).
        header, dib_width, dib_height, _, dib_bits = struct.unpack_from("<IiiHH", image, 0)
        self.assertEqual((40, 32, 64, 4), (header, dib_width, dib_height, dib_bits))


if __name__ == "__main__":
    harness.main()
