#!/usr/bin/python3
"""Opens the release zip and checks what an operator relies on.

    check_package.py ZIP_FILE SOURCE_DIR BINARY_DIR

Run with Debian's python3, which has python3-pefile.
"""
import hashlib
import json
import os
import re
import subprocess
import sys
import unittest
import zipfile

import pefile

TOP = "TessalineIntegration-7.5.0-win64/"
DLL = "TessalineIntegration.dll"
DOCTOR = "tessaline-doctor.exe"
SBOM = "TessalineIntegration-7.5.0.spdx.json"
EXPECTED_FILES = {DLL, DOCTOR, "README.txt", "SHA256SUMS", "docs/iis.md", "docs/api.md",
                  "docs/openapi.yaml", "docs/iis-config.xml", SBOM}
# What a bare Windows server has; the mingw runtime DLLs are not among them.
SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll", "user32.dll", "ntdll.dll",
               "shell32.dll", "ole32.dll", "oleaut32.dll", "shlwapi.dll", "version.dll",
               "ws2_32.dll", "bcrypt.dll", "crypt32.dll", "secur32.dll", "netapi32.dll",
               "userenv.dll", "authz.dll", "winhttp.dll", "iphlpapi.dll"}
API_SET = re.compile(r"api-ms-win-[a-z0-9-]+\.dll")
ENTRY_POINTS = ["GetExtensionVersion", "HttpExtensionProc", "TerminateExtension"]
AMD64 = pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]
PE32_PLUS = 0x20B

ZIP_FILE, SOURCE_DIR, BINARY_DIR = sys.argv[1:4]


def commit_time():
    if "SOURCE_DATE_EPOCH" in os.environ:
        return int(os.environ["SOURCE_DATE_EPOCH"])
    return int(subprocess.run(["git", "log", "-1", "--format=%ct"], cwd=SOURCE_DIR, check=True,
                              capture_output=True, text=True).stdout)


def read_package():
    with zipfile.ZipFile(ZIP_FILE) as archive:
        names = archive.namelist()
        outside = [name for name in names if not name.startswith(TOP)]
        files = {name[len(TOP):]: archive.read(name) for name in names
                 if name.startswith(TOP) and not name.endswith("/")}
    return outside, files


class ReleasePackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.outside, cls.files = read_package()
        cls.programs = {name: pefile.PE(data=cls.files[name]) for name in (DLL, DOCTOR)
                        if name in cls.files}

    def test_holds_the_expected_files_in_one_folder(self):
        self.assertEqual(self.outside, [])
        self.assertEqual(set(self.files), EXPECTED_FILES)

    def test_checksums_cover_every_other_file(self):
        listed = {}
        for line in self.files["SHA256SUMS"].decode("ascii").splitlines():
            digest, name = re.fullmatch(r"([0-9a-f]{64})  (\S+)", line).groups()
            listed[name] = digest
        actual = {name: hashlib.sha256(data).hexdigest()
                  for name, data in self.files.items() if name != "SHA256SUMS"}
        self.assertEqual(sorted(name for name in listed.keys() | actual.keys()
                                if listed.get(name) != actual.get(name)), [])

    def test_programs_are_64_bit(self):
        for name, pe in self.programs.items():
            with self.subTest(name):
                self.assertEqual(pe.FILE_HEADER.Machine, AMD64)
                self.assertEqual(pe.OPTIONAL_HEADER.Magic, PE32_PLUS)

    def test_programs_import_only_system_dlls(self):
        for name, pe in self.programs.items():
            imports = [entry.dll.decode().lower() for entry in
                       getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) +
                       getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])]
            with self.subTest(name):
                self.assertIn("kernel32.dll", imports)
                self.assertEqual([dll for dll in imports
                                  if dll not in SYSTEM_DLLS and not API_SET.fullmatch(dll)], [])

    def test_extension_exports_exactly_the_entry_points_undecorated(self):
        exports = self.programs[DLL].DIRECTORY_ENTRY_EXPORT.symbols
        self.assertEqual(sorted((symbol.name or b"").decode() for symbol in exports), ENTRY_POINTS)

    def test_extension_version_resource(self):
        pe = self.programs[DLL]
        fixed = pe.VS_FIXEDFILEINFO[0]
        version_7_5 = (7 << 16 | 5, 0)
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), version_7_5)
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), version_7_5)
        strings = {}
        for info in pe.FileInfo[0]:
            for table in getattr(info, "StringTable", []):
                strings.update({key.decode(): value.decode() for key, value in table.entries.items()})
        self.assertEqual(strings.get("FileDescription"), "Velmora Tessaline Integration DLL")
        self.assertEqual(strings.get("FileVersion"), "7.5.0.0")
        self.assertEqual(strings.get("ProductVersion"), "7.5.0.0")

    def test_programs_carry_no_build_time(self):
        allowed = {0, commit_time()}
        for name, pe in self.programs.items():
            stamps = {"header": pe.FILE_HEADER.TimeDateStamp}
            if hasattr(pe, "DIRECTORY_ENTRY_EXPORT"):
                stamps["exports"] = pe.DIRECTORY_ENTRY_EXPORT.struct.TimeDateStamp
            if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
                stamps["resources"] = pe.DIRECTORY_ENTRY_RESOURCE.struct.TimeDateStamp
            for index, debug in enumerate(getattr(pe, "DIRECTORY_ENTRY_DEBUG", [])):
                stamps[f"debug {index}"] = debug.struct.TimeDateStamp
            with self.subTest(name):
                self.assertEqual({part: stamp for part, stamp in stamps.items()
                                  if stamp not in allowed}, {})

    def test_programs_carry_no_build_path(self):
        paths = {os.path.realpath(SOURCE_DIR), os.path.realpath(BINARY_DIR), SOURCE_DIR, BINARY_DIR}
        for name in (DLL, DOCTOR):
            with self.subTest(name):
                self.assertEqual(sorted(path for path in paths for encoding in ("utf-8", "utf-16-le")
                                        if path.encode(encoding) in self.files[name]), [])


# Components every build links into both programs, with the Debian package
# each comes from and the licence its copyright file gives.
STATIC_COMPONENTS = {
    "libstdc++": ("g++-mingw-w64-x86-64-posix", "GPL-3.0-or-later WITH GCC-exception-3.1"),
    "libgcc": ("gcc-mingw-w64-x86-64-posix", "GPL-3.0-or-later WITH GCC-exception-3.1"),
    "winpthreads": ("mingw-w64-x86-64-dev", "MIT AND "),
    "mingw-w64 runtime": ("mingw-w64-x86-64-dev", "ZPL-2.1 AND "),
}
LICENCE_REFERENCE = re.compile(r"LicenseRef-[A-Za-z0-9.-]+")


def debian_version(package):
    return subprocess.run(["dpkg-query", "--show", "--showformat", "${Version}", package],
                          check=True, capture_output=True, text=True).stdout


class BillOfMaterials(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        _, files = read_package()
        cls.files = files
        cls.document = json.loads(files[SBOM].decode("utf-8"))
        cls.packages = {package["name"]: package for package in cls.document["packages"]}

    def test_is_spdx_2_3_whose_references_all_resolve(self):
        document = self.document
        self.assertEqual((document["spdxVersion"], document["dataLicense"], document["SPDXID"]),
                         ("SPDX-2.3", "CC0-1.0", "SPDXRef-DOCUMENT"))
        self.assertRegex(document["documentNamespace"], r"^https://\S+$")
        self.assertRegex(document["creationInfo"]["created"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
        elements = [element["SPDXID"] for element in document["packages"] + document["files"]]
        self.assertEqual(len(elements), len(set(elements)))
        for package in document["packages"]:
            with self.subTest(package["name"]):
                for field in ("name", "versionInfo", "downloadLocation", "licenseConcluded", "licenseDeclared",
                              "copyrightText"):
                    self.assertTrue(package.get(field), field)
                self.assertIs(package["filesAnalyzed"], False)
        known = set(elements) | {"SPDXRef-DOCUMENT"}
        self.assertEqual([relation for relation in document["relationships"]
                          if not {relation["spdxElementId"], relation["relatedSpdxElement"]} <= known], [])
        defined = {info["licenseId"] for info in document["hasExtractedLicensingInfos"]
                   if info["extractedText"].strip()}
        used = set(LICENCE_REFERENCE.findall(json.dumps(document["packages"] + document["files"])))
        self.assertEqual(used - defined, set())

    def test_describes_the_project_and_its_two_programs_as_shipped(self):
        project = self.packages["TessalineIntegration"]
        self.assertEqual(project["versionInfo"], "7.5.0")
        describes = [relation["relatedSpdxElement"] for relation in self.document["relationships"]
                     if relation["relationshipType"] == "DESCRIBES"]
        self.assertEqual(describes, [project["SPDXID"]])
        digests = {entry["fileName"]: {checksum["algorithm"]: checksum["checksumValue"]
                                       for checksum in entry["checksums"]}["SHA256"]
                   for entry in self.document["files"]}
        self.assertEqual(digests, {f"./{name}": hashlib.sha256(self.files[name]).hexdigest()
                                   for name in (DLL, DOCTOR)})

    def test_lists_each_static_component_with_its_debian_version_and_licence(self):
        for name, (package, licence) in STATIC_COMPONENTS.items():
            with self.subTest(name):
                component = self.packages[name]
                self.assertEqual(component["versionInfo"], debian_version(package))
                self.assertIn(f"Debian package {package} ", component["sourceInfo"])
                self.assertTrue(component["licenseDeclared"].startswith(licence), component["licenseDeclared"])

    def test_each_program_names_what_is_linked_into_it(self):
        ids = {package["SPDXID"]: package["name"] for package in self.document["packages"]}
        files = {entry["SPDXID"]: entry["fileName"] for entry in self.document["files"]}
        linked = {}
        for relation in self.document["relationships"]:
            if relation["relationshipType"] == "STATIC_LINK":
                linked.setdefault(files[relation["spdxElementId"]], set()).add(ids[relation["relatedSpdxElement"]])
        for program in (f"./{DLL}", f"./{DOCTOR}"):
            with self.subTest(program):
                self.assertLessEqual(set(STATIC_COMPONENTS), linked.get(program, set()))
                # Nothing is linked from outside the packages the document lists.
                self.assertLessEqual(linked[program], set(self.packages) - {"TessalineIntegration"})


# What the programs carry against memory corruption.
DYNAMIC_BASE, HIGH_ENTROPY_VA, NX_COMPAT = 0x40, 0x20, 0x100
# The text that libssp's handler writes when a stack cookie was overwritten.
STACK_SMASHING_TEXT = b"*** stack smashing detected ***"
# Each program as linked in the build tree, before staging strips its symbols.
BUILT = {DLL: "TessalineIntegration.dll", DOCTOR: "doctor/tessaline-doctor.exe"}
OBJDUMP = "x86_64-w64-mingw32-objdump"
# Far fewer than either program protects; a build without the flag has none.
FEWEST_COOKIE_CHECKS = 20


def code_of(pe):
    return b"".join(section.get_data() for section in pe.sections
                    if section.Characteristics & pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_CNT_CODE"])


class HardenedPrograms(unittest.TestCase):
    """ASLR with high-entropy addresses and NX are flags of the PE header.
    GCC builds no Control Flow Guard, so its flag is not asked for.

    Stack cookies leave no mark in the header, and a stripped program whose
    stack-protector library (libssp) is linked in statically names neither
    __stack_chk_fail nor __stack_chk_guard, nor imports them. Two things
    show them all the same: the handler's message is in the shipped image
    only when code refers to it, since the linker takes the handler from
    libssp.a only to resolve such a reference; and the build tree's copy of
    each program, the same code bytes with its symbols kept, shows how many
    functions call the handler when their cookie has changed."""

    @classmethod
    def setUpClass(cls):
        _, cls.files = read_package()
        cls.programs = {name: pefile.PE(data=cls.files[name]) for name in BUILT}

    def test_address_space_layout_is_random_and_data_not_executable(self):
        wanted = DYNAMIC_BASE | HIGH_ENTROPY_VA | NX_COMPAT
        for name, pe in self.programs.items():
            with self.subTest(name):
                self.assertEqual(hex(pe.OPTIONAL_HEADER.DllCharacteristics & wanted), hex(wanted))

    def test_functions_check_their_stack_cookies(self):
        for name, pe in self.programs.items():
            with self.subTest(name):
                self.assertTrue(STACK_SMASHING_TEXT in self.files[name], "no stack-protector handler")
                built = os.path.join(BINARY_DIR, BUILT[name])
                self.assertEqual(code_of(pefile.PE(built)), code_of(pe))
                disassembly = subprocess.run([OBJDUMP, "--disassemble", built], check=True,
                                             capture_output=True, text=True).stdout
                checks = len(re.findall(r"\scall\s+[0-9a-f]+ <__stack_chk_fail>", disassembly))
                self.assertGreaterEqual(checks, FEWEST_COOKIE_CHECKS)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[4:], verbosity=2)
