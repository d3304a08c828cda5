#!/usr/bin/env python3
"""Writes the package's software bill of materials, SPDX 2.3 in JSON.

    write_sbom.py STAGED_DIR PACKAGE_NAME VERSION EPOCH LINK_MAP_DIR

The project and every component linked statically into its two programs.
Which components those are comes from the linker's map of each program
(LINK_MAP_DIR/<program>.map): every archive member the linker took and every
startup object it loaded, outside the build. Each file is traced to the
Debian package that holds it (dpkg-query --search), whose version it carries;
its licence comes from that package's copyright file. The document is made
from these inputs alone, so the same build gives the same bytes.
"""
import hashlib
import json
import os
import re
import subprocess
import sys
import time
import urllib.parse
from pathlib import Path

PROGRAMS = ["TessalineIntegration.dll", "tessaline-doctor.exe"]
PROJECT_LICENCE = "LicenseRef-Tessaline-Proprietary"
PROJECT_LICENCE_TEXT = ("Proprietary: the Tessaline integration extension for the Velmora mail server "
                        "and its diagnosis program. All rights reserved.")

# Components by the file the linker took from them; anything else from a
# Debian package is listed under that package's own name.
COMPONENT_OF_FILE = {
    "libstdc++.a": "libstdc++",
    "libgcc.a": "libgcc",
    "libgcc_eh.a": "libgcc",
    "libssp.a": "libssp",
    "libssp_nonshared.a": "libssp",
    "libwinpthread.a": "winpthreads",
    "libpthread.a": "winpthreads",
    "crtbegin.o": "libgcc",
    "crtend.o": "libgcc",
}
MINGW_RUNTIME = "mingw-w64 runtime"
MINGW_PACKAGE = re.compile(r"mingw-w64-x86-64-dev")
# Where each component's sources lie in the mingw-w64 copyright file; its
# tests are not built into the library.
MINGW_SOURCES = {MINGW_RUNTIME: ("mingw-w64-crt/", ()),
                 "winpthreads": ("mingw-w64-libraries/winpthreads/", ("mingw-w64-libraries/winpthreads/tests",))}
# Debian's short licence names and their SPDX identifiers; other names become
# LicenseRef-Debian-<name> with the copyright file's text.
SPDX_OF_DEBIAN = {"ZPL-2.1": "ZPL-2.1", "expat": "MIT", "BSD-3-clause": "BSD-3-Clause", "ISC": "ISC",
                  "BSD-2-clause-NetBSD": "BSD-2-Clause", "LGPL-2+": "LGPL-2.0-or-later",
                  "LGPL-2.1+": "LGPL-2.1-or-later", "GPL-2+": "GPL-2.0-or-later"}
GCC_RUNTIME_LICENCE = "GPL-3.0-or-later WITH GCC-exception-3.1"


def archive_files(map_path):
    """The files outside the build tree that the linker took, by the map it wrote."""
    text = Path(map_path).read_text(errors="replace")
    taken = set(re.findall(r"^(/[^\s()]+\.a)\(", text, re.M))
    taken |= set(re.findall(r"^LOAD (/\S+\.o)$", text, re.M))
    return {os.path.realpath(path) for path in taken}


def debian_package(path):
    """The Debian package holding the file; a file that none holds stops the
    package, since the document would leave it out unsaid."""
    found = subprocess.run(["dpkg-query", "--search", path], capture_output=True, text=True)
    if found.returncode != 0:
        sys.exit(f"write_sbom.py: no Debian package holds {path}, which the linker took")
    return found.stdout.split(":", 1)[0].strip()


def package_fields(package):
    fields = subprocess.run(["dpkg-query", "--show", "--showformat",
                             "${Version}\t${Architecture}\t${source:Package}", package],
                            check=True, capture_output=True, text=True).stdout.split("\t")
    return dict(zip(("version", "architecture", "source"), fields))


def dep5_paragraphs(text):
    for paragraph in re.split(r"\n\s*\n", text):
        files = re.search(r"^Files:(.*(?:\n[ \t].*)*)", paragraph, re.M)
        licence = re.search(r"^License:[ \t]*(\S.*)$", paragraph, re.M)
        yield (files.group(1).split() if files else None), (licence.group(1).strip() if licence else None), paragraph


def mingw_licences(copyright_text, component, extracted):
    """Every licence the copyright file gives to files of the component's sources,
    and its default (Files: *) unless a paragraph for all those sources overrides it."""
    prefix, excluded = MINGW_SOURCES.get(component, ("", ()))
    paragraphs = [(files, licence) for files, licence, _ in dep5_paragraphs(copyright_text) if files and licence]
    default_applies = not any(prefix + "*" in files for files, _ in paragraphs)
    names = []
    for files, licence in paragraphs:
        if any((pattern == "*" and default_applies) or
               (pattern.startswith(prefix) and not pattern.startswith(excluded)) for pattern in files):
            for name in re.split(r"\s+and\s+", licence):
                if name not in names:
                    names.append(name)
    return " AND ".join(spdx_licence(name, copyright_text, extracted) for name in names)


def spdx_licence(debian_name, copyright_text, extracted):
    if debian_name in SPDX_OF_DEBIAN:
        return SPDX_OF_DEBIAN[debian_name]
    identifier = "LicenseRef-Debian-" + re.sub(r"[^A-Za-z0-9.-]", "-", debian_name)
    text = licence_text(copyright_text, debian_name)
    extracted[identifier] = {"licenseId": identifier, "name": debian_name, "extractedText": text or debian_name,
                             "comment": ("From the Debian package's copyright file." if text else
                                         "Named in the Debian package's copyright file, without a text.")}
    return identifier


def licence_text(copyright_text, debian_name):
    """The text under the first License field of that name that has one."""
    for match in re.finditer(r"^License:[ \t]*(.*)\n((?:[ \t].*(?:\n|$))*)", copyright_text, re.M):
        if match.group(1).strip() == debian_name and match.group(2).strip():
            lines = (line.strip() for line in match.group(2).splitlines())
            return "\n".join("" if line == "." else line for line in lines).strip()
    return None


def licence_of(component, package, extracted):
    """The declared licence, and how it was read."""
    copyright_file = f"/usr/share/doc/{package}/copyright"
    copyright_text = Path(copyright_file).read_text(errors="replace")
    if MINGW_PACKAGE.fullmatch(package):
        return (mingw_licences(copyright_text, component, extracted),
                f"Every licence {copyright_file} gives to this component's sources; "
                "which of those files the linker took is not traced.")
    if "GCC RUNTIME LIBRARY EXCEPTION" in copyright_text and "version 3" in copyright_text:
        return GCC_RUNTIME_LICENCE, f"{copyright_file} grants the GCC Runtime Library Exception, version 3.1."
    return "NOASSERTION", f"{copyright_file} names no licence this program recognises."


def spdx_id(text):
    return "SPDXRef-" + re.sub(r"[^A-Za-z0-9.-]", "-", text)


def main():
    staged, name, version, epoch, map_dir = sys.argv[1:]
    staged = Path(staged)
    # The maps lie in the build tree, whose own archives are the project's.
    build = str(Path(map_dir).resolve().parent) + os.sep
    # component -> {"package", "files"}; program -> components linked into it
    components, linked = {}, {}
    for program in PROGRAMS:
        linked[program] = set()
        for path in sorted(archive_files(Path(map_dir) / f"{program}.map")):
            if path.startswith(build):
                continue
            package = debian_package(path)
            base = os.path.basename(path)
            component = COMPONENT_OF_FILE.get(base) or (MINGW_RUNTIME if MINGW_PACKAGE.fullmatch(package)
                                                        else package)
            entry = components.setdefault(component, {"package": package, "files": set()})
            entry["files"].add(base)
            linked[program].add(component)

    extracted = {PROJECT_LICENCE: {"licenseId": PROJECT_LICENCE, "name": "Tessaline proprietary licence",
                                   "extractedText": PROJECT_LICENCE_TEXT}}
    project_id = spdx_id(name)
    packages = [{
        "SPDXID": project_id, "name": name, "versionInfo": version,
        "supplier": "Organization: Norvane", "downloadLocation": "NOASSERTION", "filesAnalyzed": False,
        "licenseConcluded": PROJECT_LICENCE, "licenseDeclared": PROJECT_LICENCE, "copyrightText": "NOASSERTION",
        "primaryPackagePurpose": "APPLICATION",
    }]
    relationships = [{"spdxElementId": "SPDXRef-DOCUMENT", "relationshipType": "DESCRIBES",
                      "relatedSpdxElement": project_id}]
    files = []
    for component in sorted(components):
        entry = components[component]
        fields = package_fields(entry["package"])
        licence, licence_comment = licence_of(component, entry["package"], extracted)
        purl = (f"pkg:deb/debian/{urllib.parse.quote(entry['package'], safe='')}"
                f"@{urllib.parse.quote(fields['version'], safe='')}?arch={fields['architecture']}")
        packages.append({
            "SPDXID": spdx_id("Package-" + component), "name": component, "versionInfo": fields["version"],
            "supplier": "Organization: Debian", "downloadLocation": "NOASSERTION", "filesAnalyzed": False,
            "licenseConcluded": "NOASSERTION",
            "licenseDeclared": licence, "licenseComments": licence_comment,
            "copyrightText": "NOASSERTION", "primaryPackagePurpose": "LIBRARY",
            "sourceInfo": (f"Linked statically from the Debian package {entry['package']} {fields['version']} "
                           f"(source package {fields['source']}): {', '.join(sorted(entry['files']))}"),
            "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                              "referenceLocator": purl}],
        })
    digests = {}
    for program in PROGRAMS:
        file_id = spdx_id("File-" + program)
        data = (staged / program).read_bytes()
        digests[program] = hashlib.sha256(data).hexdigest()
        files.append({"SPDXID": file_id, "fileName": f"./{program}",
                      "checksums": [{"algorithm": "SHA256", "checksumValue": digests[program]},
                                    {"algorithm": "SHA1", "checksumValue": hashlib.sha1(data).hexdigest()}],
                      "licenseConcluded": PROJECT_LICENCE, "copyrightText": "NOASSERTION"})
        relationships.append({"spdxElementId": project_id, "relationshipType": "CONTAINS",
                              "relatedSpdxElement": file_id})
        for component in sorted(linked[program]):
            relationships.append({"spdxElementId": file_id, "relationshipType": "STATIC_LINK",
                                  "relatedSpdxElement": spdx_id("Package-" + component)})
    # Unique for these programs, and the same for the same build.
    unique = hashlib.sha256("".join(digests[program] for program in PROGRAMS).encode()).hexdigest()
    document = {
        "spdxVersion": "SPDX-2.3", "dataLicense": "CC0-1.0", "SPDXID": "SPDXRef-DOCUMENT",
        "name": f"{name}-{version}",
        "documentNamespace": f"https://spdx.org/spdxdocs/{name}-{version}-{unique}",
        "creationInfo": {"created": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(int(epoch))),
                         "creators": ["Tool: packaging/write_sbom.py", "Organization: Norvane"]},
        "packages": packages, "files": files, "relationships": relationships,
        "hasExtractedLicensingInfos": [extracted[key] for key in sorted(extracted)],
    }
    out = staged / f"{name}-{version}.spdx.json"
    out.write_text(json.dumps(document, indent=2, ensure_ascii=False) + "\n", encoding="utf-8", newline="\n")


if __name__ == "__main__":
    main()
