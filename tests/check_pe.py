#!/usr/bin/python3
"""Reads a built Qelpad80Remover.exe with pefile, not with the toolchain that wrote it, and checks
what a user's Windows will see: machine, subsystem, imports, hardening, version block, icon, manifest
and, in a signed exe, the table that holds its Authenticode signature.

    /usr/bin/python3 tests/check_pe.py i386=build/win32/Qelpad80Remover.exe

Prints every fault found and exits 1 if there is one. The version block is parsed here byte by byte,
so that the order of its blocks is seen as it stands in the file.
"""
import struct
import sys
import xml.etree.ElementTree as ElementTree
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

VERSION_STRINGS = [
    ("CompanyName", "Tavrex"),
    ("ProductName", "删除控件"),
    ("FileVersion", "1.00.0003"),
    ("ProductVersion", "1.00.0003"),
    ("InternalName", "Qelpad80Remover"),
    ("OriginalFilename", "Qelpad80Remover.exe"),
]

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

def check_header(pe, arch, faults):
    faults.check(pe.FILE_HEADER.Machine == MACHINES[arch],
                 f"machine 0x{pe.FILE_HEADER.Machine:04x}, expected 0x{MACHINES[arch]:04x} ({arch})")
    faults.check(pe.OPTIONAL_HEADER.Magic == OPTIONAL_MAGIC[arch],
                 f"optional header magic 0x{pe.OPTIONAL_HEADER.Magic:x}")
    faults.check(pe.OPTIONAL_HEADER.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"],
                 f"subsystem {pe.OPTIONAL_HEADER.Subsystem}, expected 2 (Windows GUI)")


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


def parse_version_node(blob, offset=0):
    """One node of a VS_VERSIONINFO tree: (key, type, value bytes, children, length)."""
    length, value_length, value_type = struct.unpack_from("<HHH", blob, offset)
    if length < 6 or offset + length > len(blob):
        raise ValueError(f"node at {offset} has length {length}, beyond the {len(blob)} bytes of the block")
    end = offset + length
    position = offset + 6
    key_end = position
    while blob[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = blob[position:key_end].decode("utf-16-le")
    position = (key_end + 2 + 3) & ~3
    # Text values count characters, binary values bytes.
    value_size = value_length * 2 if value_type == 1 else value_length
    value = blob[position:position + value_size]
    position = (position + value_size + 3) & ~3
    children = []
    while position < end:
        child = parse_version_node(blob, position)
        children.append(child)
        position = (position + child[4] + 3) & ~3
    return key, value_type, value, children, length


def check_version(pe, faults):
    versions = resource_entries(pe, RT_VERSION)
    if not faults.check(list(versions) == [1] and len(versions[1]) == 1,
                        f"expected one version resource, ID 1, one language: {sorted(map(str, versions))}"):
        return
    try:
        key, _, fixed, children, _ = parse_version_node(versions[1][0][2])
    except (ValueError, struct.error, UnicodeDecodeError) as error:
        faults.append(f"version block does not parse: {error}")
        return
    faults.check(key == "VS_VERSION_INFO", f"version root key {key!r}")
    if faults.check(len(fixed) == 52, f"fixed part is {len(fixed)} bytes, expected 52"):
        (signature, _, file_ms, file_ls, product_ms, product_ls, _, file_flags, file_os, file_type,
         file_subtype, _, _) = struct.unpack("<13I", fixed)
        faults.check(signature == 0xFEEF04BD, f"fixed part signature 0x{signature:08x}")
        faults.check((file_ms, file_ls) == (0x00010000, 0x00000003), f"file version 0x{file_ms:08x} 0x{file_ls:08x}")
        faults.check((product_ms, product_ls) == (0x00010000, 0x00000003),
                     f"product version 0x{product_ms:08x} 0x{product_ls:08x}")
        faults.check(file_flags == 0, f"file flags 0x{file_flags:x}, expected none")
        faults.check(file_os == 4, f"file OS 0x{file_os:x}, expected 4 (32-bit Windows)")
        faults.check(file_type == 1, f"file type {file_type}, expected 1 (application)")
        faults.check(file_subtype == 0, f"file subtype {file_subtype}, expected 0")
    order = [child[0] for child in children]
    if not faults.check(order == ["VarFileInfo", "StringFileInfo"],
                        f"blocks in the order {order}, expected VarFileInfo before StringFileInfo"):
        return
    check_translation(children[0], faults)
    check_string_table(children[1], faults)


def check_translation(var_file_info, faults):
    translations = var_file_info[3]
    if faults.check(len(translations) == 1 and translations[0][0] == "Translation",
                    f"VarFileInfo holds {[child[0] for child in translations]}, expected one Translation"):
        pairs = translations[0][2]
        faults.check(pairs == struct.pack("<HH", 0x0804, 1200),
                     f"translation list {pairs.hex()}, expected 0x0804 / 1200 only")


def check_string_table(string_file_info, faults):
    tables = string_file_info[3]
    if not faults.check(len(tables) == 1 and tables[0][0] == "080404B0",
                        f"string tables {[table[0] for table in tables]}, expected one, 080404B0"):
        return
    found = []
    for name, value_type, value, _, _ in tables[0][3]:
        text = value.decode("utf-16-le")
        faults.check(value_type == 1 and text.endswith("\0"), f"{name}: not a terminated text value")
        found.append((name, text.rstrip("\0")))
    faults.check(found == VERSION_STRINGS, f"string table {found}, expected {VERSION_STRINGS}")


def check_icon(pe, faults):
    faults.check(not named_resource_types(pe), f"resource types by name {named_resource_types(pe)}: a type "
                                                "written as a macro name, not its number")
    groups = resource_entries(pe, RT_GROUP_ICON)
    images = resource_entries(pe, RT_ICON)
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


def check_manifest(pe, faults):
    manifests = resource_entries(pe, RT_MANIFEST)
    if not faults.check(list(manifests) == [1] and len(manifests[1]) == 1,
                        f"manifests {sorted(map(str, manifests))}, expected one, ID 1"):
        return
    try:
        root = ElementTree.fromstring(manifests[1][0][2])
    except ElementTree.ParseError as error:
        faults.append(f"manifest is not well-formed XML: {error}")
        return
    controls = [identity for identity in root.iter(f"{{{NS_ASM_V1}}}assemblyIdentity")
                if identity.get("name") == "Microsoft.Windows.Common-Controls"]
    faults.check(len(controls) == 1 and controls[0].get("version") == "6.0.0.0"
                 and controls[0].get("publicKeyToken") == "6595b64144ccf1df"
                 and controls[0].get("type") == "win32",
                 "no dependency on Common Controls 6.0.0.0 (token 6595b64144ccf1df)")
    levels = [element.attrib for element in root.iter() if element.tag.endswith("}requestedExecutionLevel")]
    faults.check(levels == [{"level": "requireAdministrator", "uiAccess": "false"}],
                 f"execution level {levels}, expected requireAdministrator without uiAccess")
    dpi_aware = [element.text.strip() for element in root.iter(f"{{{NS_DPI_2005}}}dpiAware")]
    faults.check(dpi_aware == ["true"], f"dpiAware {dpi_aware}, expected true")
    dpi_awareness = [element.text.strip() for element in root.iter(f"{{{NS_DPI_2016}}}dpiAwareness")]
    faults.check(dpi_awareness == ["PerMonitorV2"], f"dpiAwareness {dpi_awareness}, expected PerMonitorV2")
    systems = [element.get("Id", "").lower() for element in root.iter(f"{{{NS_COMPAT}}}supportedOS")]
    faults.check(sorted(systems) == sorted(SUPPORTED_OS),
                 f"supportedOS {systems}, expected Windows 7, 8, 8.1 and 10/11")
    settings = list(root.iter(f"{{{NS_ASM_V3}}}windowsSettings"))
    faults.check(len(settings) == 1, "DPI settings not inside one asm.v3 application/windowsSettings")


def check_exe(arch, path):
    faults = Faults()
    if not path.is_file():
        faults.append(f"{path} is missing: build the win32 preset first")
        return faults
    data = path.read_bytes()
    pe = pefile.PE(data=data, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    for check in (lambda: check_header(pe, arch, faults), lambda: check_imports(pe, faults),
                  lambda: check_hardening(pe, arch, faults), lambda: check_time_stamps(pe, faults),
                  lambda: check_certificate_table(pe, data, faults), lambda: check_version(pe, faults),
                  lambda: check_icon(pe, faults), lambda: check_manifest(pe, faults)):
        check()
    return faults


def main(arguments):
    if not arguments or not all("=" in argument and argument.split("=", 1)[0] in MACHINES for argument in arguments):
        print(__doc__, file=sys.stderr)
        return 2
    failed = False
    for argument in arguments:
        arch, path = argument.split("=", 1)
        faults = check_exe(arch, Path(path))
        for fault in faults:
            print(f"FAIL {arch} {path}: {fault}")
        if not faults:
            print(f"ok   {arch} {path}")
        failed = failed or bool(faults)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
