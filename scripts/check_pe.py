#!/usr/bin/python3
"""Reads a built exe with pefile, not with the toolchain that wrote it, and checks what a user's Windows
will see: machine, subsystem, imports, hardening, version block, icon, manifest and, in a signed exe, the
table that holds its Authenticode signature.

    /usr/bin/python3 scripts/check_pe.py --expected-version VERSION i386=build/win32/Qelpad80Remover.exe [i386=...]

VERSION is the version the build was given, project(VERSION) of CMakeLists.txt as CMAKE_PROJECT_VERSION of the
build's CMake cache holds it (1.0.0.3). The version block must hold its four numbers and show it as text with the
minor number in two digits and the last in four (1.00.0003); the manifest's own identity must name it.

What is expected depends on the exe, chosen by its file name: Qelpad80Remover.exe is the window program
(GUI subsystem, icon, Common Controls, per-monitor DPI, run as administrator); Qelpad80RemoverCli.exe, or
any name ending in Cli.exe, the console program (console subsystem, no icon, no Common Controls, no DPI
settings, run as invoked). Any other name is checked as the window program.

Prints every fault found and exits 1 if there is one. The version block is read through pefile's own
parse; where pefile keeps less than the file holds (the first Var only, one value per key), the offsets
it records show whether anything lies beyond what it read.
"""
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree
from dataclasses import dataclass
from pathlib import Path

import pefile

MACHINES = {"i386": 0x014C}  # the release is 32-bit, and nothing else is built
OPTIONAL_MAGIC = {"i386": 0x10B}

# DLLs that Windows maps from the system folder only (KnownDLLs), whatever lies beside the exe.
KNOWN_DLLS = {
    "advapi32.dll", "combase.dll", "comdlg32.dll", "gdi32.dll", "gdiplus.dll", "imagehlp.dll", "imm32.dll",
    "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll", "ntdll.dll", "ole32.dll",
    "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shcore.dll", "shell32.dll",
    "shlwapi.dll", "user32.dll", "wldap32.dll", "ws2_32.dll",
}

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
ICON_IMAGE_ID, ICON_GROUP_ID = 30001, 1
ICON_IMAGE_SIZE = 2216


@dataclass(frozen=True)
class Profile:
    """What one of the exes must be."""
    internal_name: str  # InternalName of the version block; OriginalFilename adds .exe
    identity: str  # the name of the manifest's own assemblyIdentity
    subsystem: int
    subsystem_text: str
    icon: bool  # icon group 1 with image 30001, or no icon resources at all
    common_controls: bool  # the manifest depends on Common Controls 6, or must not
    dpi: bool  # the manifest declares per-monitor DPI awareness, or has no DPI settings
    execution_level: str

    def version_strings(self, version):
        return [
            ("CompanyName", "Tavrex"),
            ("ProductName", "删除控件"),
            ("FileVersion", version.text),
            ("ProductVersion", version.text),
            ("InternalName", self.internal_name),
            ("OriginalFilename", self.internal_name + ".exe"),
        ]


WINDOW = Profile("Qelpad80Remover", "Tavrex.QelpadRemover", 2, "Windows GUI", icon=True, common_controls=True,
                 dpi=True, execution_level="requireAdministrator")
CONSOLE = Profile("Qelpad80RemoverCli", "Tavrex.QelpadRemover.Console", 3, "Windows console", icon=False,
                  common_controls=False, dpi=False, execution_level="asInvoker")


@dataclass(frozen=True)
class Version:
    """The version the exes must carry, from its dotted form: 1.0.0.3."""
    numbers: tuple

    @staticmethod
    def parse(dotted):
        """None unless four numbers of 16 bits without leading zeros, the minor below 100, the third 0 and the
        last below 10000: the text the version block shows has two digits for the minor number, four for the last
        and none for the third."""
        if not re.fullmatch(r"(0|[1-9][0-9]*)(\.(0|[1-9][0-9]*)){3}", dotted):
            return None
        numbers = tuple(int(part) for part in dotted.split("."))
        major, minor, third, last = numbers
        return Version(numbers) if major <= 0xFFFF and minor <= 99 and third == 0 and last <= 9999 else None

    @property
    def dotted(self):
        return ".".join(map(str, self.numbers))

    @property
    def text(self):
        major, minor, _, last = self.numbers
        return f"{major}.{minor:02d}.{last:04d}"

    @property
    def fixed(self):
        """The two 32-bit halves of FILEVERSION and PRODUCTVERSION."""
        major, minor, third, last = self.numbers
        return (major << 16 | minor, third << 16 | last)


def profile_for(path):
    """The console program is named ...Cli.exe; everything else is checked as the window program."""
    return CONSOLE if path.name.lower().endswith("cli.exe") else WINDOW


SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}
NS_ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
NS_ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
NS_COMPAT = "urn:schemas-microsoft-com:compatibility.v1"
NS_DPI_2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
NS_DPI_2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"


class Faults(list):
    def check(self, condition, message):
        if not condition:
            self.append(message)
        return condition


# ---- Header, imports, hardening ----

def check_header(pe, arch, profile, faults):
    faults.check(pe.FILE_HEADER.Machine == MACHINES[arch],
                 f"machine 0x{pe.FILE_HEADER.Machine:04x}, expected 0x{MACHINES[arch]:04x} ({arch})")
    faults.check(pe.OPTIONAL_HEADER.Magic == OPTIONAL_MAGIC[arch],
                 f"optional header magic 0x{pe.OPTIONAL_HEADER.Magic:x}")
    faults.check(pe.OPTIONAL_HEADER.Subsystem == profile.subsystem,
                 f"subsystem {pe.OPTIONAL_HEADER.Subsystem}, expected {profile.subsystem} ({profile.subsystem_text})")


def check_imports(pe, faults):
    pe.parse_data_directories(directories=[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"]])
    imported = [entry.dll.decode("ascii") for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    delayed = [entry.dll.decode("ascii") for entry in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])]
    faults.check("kernel32.dll" in {name.lower() for name in imported}, f"no import of KERNEL32.dll: {imported}")
    for name in imported + delayed:
        faults.check(name.lower() in KNOWN_DLLS,
                     f"imports {name}, which Windows may load from beside the exe (not a KnownDLL)")


def check_hardening(pe, arch, faults):
    flags = pe.OPTIONAL_HEADER.DllCharacteristics
    wanted = {"IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE": 0x0040, "IMAGE_DLLCHARACTERISTICS_NX_COMPAT": 0x0100}
    for name, bit in wanted.items():
        faults.check(flags & bit, f"{name} not set (DllCharacteristics 0x{flags:04x})")
    # ASLR needs relocations to move the image; an exe without them stays at its preferred base.
    faults.check(not pe.FILE_HEADER.Characteristics & 0x0001, "relocations stripped: ASLR cannot move the image")
    relocations = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    faults.check(relocations.Size > 0, "no base relocation table")
    for section in pe.sections:
        name = section.Name.rstrip(b"\0").decode("ascii", "replace")
        writable = section.Characteristics & 0x80000000
        executable = section.Characteristics & 0x20000000
        faults.check(not (writable and executable), f"section {name} is both writable and executable")
    faults.check(pe.FILE_HEADER.NumberOfSymbols == 0 and pe.FILE_HEADER.PointerToSymbolTable == 0,
                 f"symbol table present ({pe.FILE_HEADER.NumberOfSymbols} symbols): not stripped")


def check_time_stamps(pe, faults):
    """A build writes the same bytes at any time: no time stamp in the header or the resource directories."""
    faults.check(pe.FILE_HEADER.TimeDateStamp == 0, f"time stamp 0x{pe.FILE_HEADER.TimeDateStamp:08x} in the header")
    directories = [getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)]
    while directories:
        directory = directories.pop()
        if directory is None:
            continue
        faults.check(directory.struct.TimeDateStamp == 0,
                     f"time stamp 0x{directory.struct.TimeDateStamp:08x} in a resource directory")
        directories += [entry.directory for entry in directory.entries if hasattr(entry, "directory")]


# ---- Certificate table (the Authenticode signature of a signed exe) ----

WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0200, 0x0002
# DER of the content type that opens a PKCS#7 SignedData: OID 1.2.840.113549.1.7.2.
SIGNED_DATA_OID = bytes.fromhex("06092a864886f70d010702")


def der_header(blob):
    """(header length, total length) of the DER element at the start of blob, or None."""
    if len(blob) < 2:
        return None
    if blob[1] < 0x80:
        return 2, 2 + blob[1]
    count = blob[1] & 0x7F
    if count == 0 or count > 4 or len(blob) < 2 + count:
        return None
    return 2 + count, 2 + count + int.from_bytes(blob[2:2 + count], "big")


def check_certificate_table(pe, data, faults):
    """An unsigned exe has no table. A signed one has one WIN_CERTIFICATE holding one PKCS#7 SignedData, placed
    after the sections, at the end of the file: bytes past the signature are not covered by it, and Windows' padding
    check refuses them."""
    table = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    offset, size = table.VirtualAddress, table.Size  # a file offset here, not an RVA
    if size == 0:
        faults.check(offset == 0, f"empty certificate table at offset {offset}")
        return
    image_end = max(section.PointerToRawData + section.SizeOfRawData for section in pe.sections)
    faults.check(offset >= image_end and offset % 8 == 0,
                 f"certificate table at {offset}: not 8-aligned after the sections, which end at {image_end}")
    if not faults.check(offset + size == len(data),
                        f"certificate table ends at {offset + size}, the file at {len(data)}: not the last thing"):
        return
    length, revision, kind = struct.unpack_from("<IHH", data, offset)
    faults.check(length == size, f"certificate entry of {length} bytes in a table of {size}: expected one entry")
    faults.check((revision, kind) == (WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA),
                 f"certificate entry revision 0x{revision:04x} type {kind}, expected 0x0200 PKCS#7 SignedData")
    content = data[offset + 8:offset + min(length, size)]
    header = der_header(content)
    if not faults.check(content[:1] == b"\x30" and header is not None and header[1] <= len(content),
                        "certificate entry does not hold a DER sequence"):
        return
    faults.check(content[header[0]:header[0] + len(SIGNED_DATA_OID)] == SIGNED_DATA_OID,
                 "certificate entry is not PKCS#7 SignedData")
    padding = content[header[1]:]
    faults.check(len(padding) < 8 and not any(padding),
                 f"{len(padding)} bytes after the signature in its entry ({padding[:16].hex()}...): only zero padding "
                 "to 8 bytes may follow it")


# ---- Resources ----

def resource_entries(pe, type_id):
    """{resource id: [(language, sublanguage, bytes)]} of one resource type, numeric IDs only."""
    found = {}
    for type_entry in resource_types(pe):
        if type_entry.id != type_id:
            continue
        for name_entry in type_entry.directory.entries:
            for language_entry in name_entry.directory.entries:
                data = language_entry.data.struct
                blob = pe.get_data(data.OffsetToData, data.Size)
                found.setdefault(name_entry.id if name_entry.id is not None else str(name_entry.name), []).append(
                    (language_entry.data.lang, language_entry.data.sublang, blob))
    return found


def resource_types(pe):
    directory = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    return directory.entries if directory else []


def named_resource_types(pe):
    return [str(entry.name) for entry in resource_types(pe) if entry.id is None]


def align4(offset):
    return (offset + 3) & ~3


def is_last_in(parent, child):
    """Whether child, a structure pefile read inside parent, ends where parent ends: nothing follows it that
    pefile might have left unread."""
    return align4(child.get_file_offset() + child.Length) == align4(parent.get_file_offset() + parent.Length)


def version_warnings(pe):
    return [warning for warning in pe.get_warnings()
            if any(word in warning for word in ("version", "VS_", "FileInfo", "StringTable", "Var"))]


def check_version(pe, data, profile, version, faults):
    versions = resource_entries(pe, RT_VERSION)
    if not faults.check(list(versions) == [1] and len(versions[1]) == 1,
                        f"expected one version resource, ID 1, one language: {sorted(map(str, versions))}"):
        return
    roots = getattr(pe, "VS_VERSIONINFO", [])
    fixed_parts = getattr(pe, "VS_FIXEDFILEINFO", [])
    block_lists = getattr(pe, "FileInfo", [])
    if not faults.check(len(roots) == len(fixed_parts) == len(block_lists) == 1,
                        f"version block does not parse: {version_warnings(pe)}"):
        return
    # pefile reads no further than a root whose key is not VS_VERSION_INFO, so that is a block that does not parse.
    root, fixed, blocks = roots[0], fixed_parts[0], block_lists[0]
    if faults.check(root.ValueLength == fixed.sizeof(), f"fixed part is {root.ValueLength} bytes, expected 52"):
        faults.check(fixed.Signature == 0xFEEF04BD, f"fixed part signature 0x{fixed.Signature:08x}")
        faults.check((fixed.FileVersionMS, fixed.FileVersionLS) == version.fixed,
                     f"file version 0x{fixed.FileVersionMS:08x} 0x{fixed.FileVersionLS:08x}, expected {version.dotted}")
        faults.check((fixed.ProductVersionMS, fixed.ProductVersionLS) == version.fixed,
                     f"product version 0x{fixed.ProductVersionMS:08x} 0x{fixed.ProductVersionLS:08x}, "
                     f"expected {version.dotted}")
        faults.check(fixed.FileFlags == 0, f"file flags 0x{fixed.FileFlags:x}, expected none")
        faults.check(fixed.FileOS == 4, f"file OS 0x{fixed.FileOS:x}, expected 4 (32-bit Windows)")
        faults.check(fixed.FileType == 1, f"file type {fixed.FileType}, expected 1 (application)")
        faults.check(fixed.FileSubtype == 0, f"file subtype {fixed.FileSubtype}, expected 0")
    # pefile lists the blocks in the order they stand in the file.
    order = [block.Key.decode("utf-8", "replace") for block in blocks]
    if not faults.check(order == ["VarFileInfo", "StringFileInfo"],
                        f"blocks in the order {order}, expected VarFileInfo before StringFileInfo"):
        return
    check_translation(blocks[0], faults)
    check_string_table(blocks[1], data, profile, version, faults)


def check_translation(var_file_info, faults):
    # pefile reads only the first Var of the block, and of its pairs keeps the last: the lengths tell the rest.
    variables = getattr(var_file_info, "Var", [])
    names = [name.decode("utf-8", "replace") for variable in variables for name in getattr(variable, "entry", {})]
    if not faults.check(names == ["Translation"], f"VarFileInfo holds {names}, expected one Translation"):
        return
    translation = variables[0]
    faults.check(is_last_in(var_file_info, translation), "VarFileInfo holds more after its Translation")
    pairs = translation.entry[b"Translation"]
    faults.check(translation.ValueLength == 4 and pairs == "0x0804 0x04b0",
                 f"translation list of {translation.ValueLength} bytes ending in {pairs}, expected 0x0804 / 1200 only")


def check_string_table(string_file_info, data, profile, version, faults):
    tables = getattr(string_file_info, "StringTable", [])
    ids = [table.LangID.decode("utf-8", "replace") for table in tables]
    if not faults.check(ids == ["080404B0"], f"string tables {ids}, expected one, 080404B0"):
        return
    table = tables[0]
    faults.check(is_last_in(string_file_info, table), "StringFileInfo holds more after its string table 080404B0")
    # pefile keeps a dict of key to value and where each key lies, not the String headers, which sit just
    # before their keys. Those give the type of each value, and whether the strings follow one another from
    # the start of the table to its end: a key written twice would otherwise hide in the dict.
    position = align4(table.get_file_offset() + 6 + 2 * (len(table.LangID) + 1))
    found = []
    for key, value in table.entries.items():
        name, text = key.decode("utf-8", "replace"), value.decode("utf-8", "replace")
        header = table.entries_offsets[key][0] - 6
        length, value_length, value_type = struct.unpack_from("<HHH", data, header)
        faults.check(header == position, f"{name} at {header}, expected at {position}: a string pefile did not list "
                                          "(a key written twice?) lies before it")
        faults.check(value_type == 1 and value_length == len(text.encode("utf-16-le")) // 2 + 1,
                     f"{name}: not a terminated text value")
        position = align4(header + length)
        found.append((name, text))
    faults.check(position == align4(table.get_file_offset() + table.Length),
                 f"the strings pefile read end at {position}, the table at {table.get_file_offset() + table.Length}")
    expected = profile.version_strings(version)
    faults.check(found == expected, f"string table {found}, expected {expected}")


def check_icon(pe, profile, faults):
    faults.check(not named_resource_types(pe), f"resource types by name {named_resource_types(pe)}: a type "
                                                "written as a macro name, not its number")
    groups = resource_entries(pe, RT_GROUP_ICON)
    images = resource_entries(pe, RT_ICON)
    if not profile.icon:
        faults.check(not groups and not images, f"icon groups {sorted(map(str, groups))} and images "
                                                f"{sorted(map(str, images))}: the console program has no icon")
        return
    faults.check(sorted(groups) == [ICON_GROUP_ID], f"icon groups {sorted(map(str, groups))}, expected 1 only")
    faults.check(sorted(images) == [ICON_IMAGE_ID], f"icon images {sorted(map(str, images))}, expected 30001 only")
    if ICON_GROUP_ID in groups:
        check_icon_group(groups[ICON_GROUP_ID], faults)
    if ICON_IMAGE_ID in images:
        check_icon_image(images[ICON_IMAGE_ID], faults)


def check_icon_group(languages, faults):
    if not faults.check(len(languages) == 1, "icon group 1 in several languages"):
        return
    language, sublanguage, group = languages[0]
    faults.check((language, sublanguage) == (0, 0), f"icon group language {language}/{sublanguage}, not neutral")
    if faults.check(len(group) == 6 + 14, f"icon group is {len(group)} bytes, expected one entry (20 bytes)"):
        header = struct.unpack_from("<HHH", group)
        faults.check(header == (0, 1, 1), f"icon group header {header}, expected an icon group of one entry")
        entry = struct.unpack_from("<BBBBHHIH", group, 6)
        faults.check(entry == (32, 32, 0, 0, 1, 8, ICON_IMAGE_SIZE, ICON_IMAGE_ID),
                     f"icon group entry {entry}, expected 32x32, 8 bpp, 2216 bytes, image 30001")


def check_icon_image(languages, faults):
    if not faults.check(len(languages) == 1, "icon image 30001 in several languages"):
        return
    language, sublanguage, image = languages[0]
    faults.check((language, sublanguage) == (0, 0), f"icon image language {language}/{sublanguage}, not neutral")
    faults.check(len(image) == ICON_IMAGE_SIZE, f"icon image is {len(image)} bytes, expected {ICON_IMAGE_SIZE}")
    header = struct.unpack_from("<IiiHHI", image)
    faults.check(header == (40, 32, 64, 1, 8, 0),
                 f"icon image header {header}, expected 40-byte header, 32 x 64, 1 plane, 8 bpp, uncompressed")


def local_name(element):
    return element.tag.rsplit("}", 1)[-1]


def check_dpi(root, faults):
    """Each Windows takes the best setting it knows: true/pm is per-monitor on Windows 8.1, and Windows 10 before
    1703, which does not know PerMonitorV2, takes PerMonitor from the list."""
    dpi_aware = [(element.text or "").strip() for element in root.iter(f"{{{NS_DPI_2005}}}dpiAware")]
    faults.check(dpi_aware == ["true/pm"], f"dpiAware {dpi_aware}, expected true/pm")
    dpi_awareness = [(element.text or "").strip() for element in root.iter(f"{{{NS_DPI_2016}}}dpiAwareness")]
    choices = [item.strip().lower() for item in dpi_awareness[0].split(",")] if len(dpi_awareness) == 1 else []
    faults.check(choices[:2] == ["permonitorv2", "permonitor"],
                 f"dpiAwareness {dpi_awareness}, expected PerMonitorV2 with PerMonitor after it")
    settings = list(root.iter(f"{{{NS_ASM_V3}}}windowsSettings"))
    faults.check(len(settings) == 1, "DPI settings not inside one asm.v3 application/windowsSettings")


def check_manifest(pe, profile, version, faults):
    manifests = resource_entries(pe, RT_MANIFEST)
    if not faults.check(list(manifests) == [1] and len(manifests[1]) == 1,
                        f"manifests {sorted(map(str, manifests))}, expected one, ID 1"):
        return
    try:
        root = ElementTree.fromstring(manifests[1][0][2])
    except ElementTree.ParseError as error:
        faults.append(f"manifest is not well-formed XML: {error}")
        return
    own = [identity.attrib for identity in root.findall(f"{{{NS_ASM_V1}}}assemblyIdentity")]
    faults.check(len(own) == 1 and own[0].get("name") == profile.identity and own[0].get("version") == version.dotted,
                 f"manifest identity {own}, expected {profile.identity} version {version.dotted}")
    controls = [identity for identity in root.iter(f"{{{NS_ASM_V1}}}assemblyIdentity")
                if identity.get("name") == "Microsoft.Windows.Common-Controls"]
    if profile.common_controls:
        faults.check(len(controls) == 1 and controls[0].get("version") == "6.0.0.0"
                     and controls[0].get("publicKeyToken") == "6595b64144ccf1df"
                     and controls[0].get("type") == "win32",
                     "no dependency on Common Controls 6.0.0.0 (token 6595b64144ccf1df)")
    else:
        faults.check(not controls, "depends on Common Controls: the console program has no windows to style")
    # uiAccess left out is false.
    levels = [element.attrib for element in root.iter() if local_name(element) == "requestedExecutionLevel"]
    faults.check(len(levels) == 1 and set(levels[0]) <= {"level", "uiAccess"}
                 and levels[0].get("level") == profile.execution_level
                 and levels[0].get("uiAccess", "false") == "false",
                 f"execution level {levels}, expected {profile.execution_level} without uiAccess")
    systems = [element.get("Id", "").lower() for element in root.iter(f"{{{NS_COMPAT}}}supportedOS")]
    faults.check(sorted(systems) == sorted(SUPPORTED_OS),
                 f"supportedOS {systems}, expected Windows 7, 8, 8.1 and 10/11")
    if profile.dpi:
        check_dpi(root, faults)
    else:
        dpi = [local_name(element) for element in root.iter() if local_name(element) in ("dpiAware", "dpiAwareness")]
        faults.check(not dpi, f"{dpi} in the console program's manifest: it has no window of its own to scale")


def check_exe(arch, path, version):
    faults = Faults()
    if not path.is_file():
        faults.append(f"{path} is missing: build the win32 preset first")
        return faults
    profile = profile_for(path)
    data = path.read_bytes()
    pe = pefile.PE(data=data, fast_load=True)
    # Parsing the resources also parses the version block (pe.VS_VERSIONINFO, VS_FIXEDFILEINFO, FileInfo).
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    for check in (lambda: check_header(pe, arch, profile, faults), lambda: check_imports(pe, faults),
                  lambda: check_hardening(pe, arch, faults), lambda: check_time_stamps(pe, faults),
                  lambda: check_certificate_table(pe, data, faults),
                  lambda: check_version(pe, data, profile, version, faults), lambda: check_icon(pe, profile, faults),
                  lambda: check_manifest(pe, profile, version, faults)):
        check()
    return faults


def main(arguments):
    given = arguments[1] if arguments[:1] == ["--expected-version"] and len(arguments) > 1 else None
    exes = arguments[2:]
    if not given or not exes or not all("=" in exe and exe.split("=", 1)[0] in MACHINES for exe in exes):
        print(__doc__, file=sys.stderr)
        return 2
    version = Version.parse(given)
    if not version:
        print(f"--expected-version {given}: expected four numbers without leading zeros, the minor below 100, the "
              "third 0 and the last below 10000 (1.0.0.3)", file=sys.stderr)
        return 2
    failed = False
    for argument in exes:
        arch, path = argument.split("=", 1)
        faults = check_exe(arch, Path(path), version)
        for fault in faults:
            print(f"FAIL {arch} {path}: {fault}")
        if not faults:
            print(f"ok   {arch} {path}")
        failed = failed or bool(faults)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
