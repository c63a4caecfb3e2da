"""The release's SBOM, <name>.spdx.json (SPDX 2.3): SETUP.EXE and STKIT432.DLL as shipped and
what the linker took into each of them from the toolchain (the linker's maps of the build
name every archive member and object it took), as the Debian packages that hold those
files, with the versions BUILDINFO records and the licences Debian declares for them. The
same release gives the same bytes: no time but SOURCE_DATE_EPOCH, the namespace made from the
contents."""

import hashlib
import json
import os
import re
import time
import urllib.parse
import uuid

PROGRAMS = {"SETUP.EXE": "SETUP.map", "STKIT432.DLL": "STKIT432.map"}
GCC = "GPL-3.0-or-later WITH GCC-exception-3.1"
PUBLIC_DOMAIN = "LicenseRef-mingw-w64-public-domain"
# The runtime's parts as Debian's copyright files declare them (/usr/share/doc/<package>/copyright):
# GCC's libraries under the GPL with the runtime library exception; mingw-w64's runtime under
# ZPL-2.1 ("Files: *"), its start-up code (crt/) in the public domain; winpthreads under the
# expat (MIT) licence.
LICENCES = {"libstdc++": GCC, "libgcc": GCC, "winpthreads": "MIT", "mingw-w64 runtime": "ZPL-2.1 AND " + PUBLIC_DOMAIN}
EXTRACTED = {PUBLIC_DOMAIN: ("mingw-w64 runtime, public-domain parts",
                             "The start-up code of the mingw-w64 runtime (mingw-w64-crt/crt/) is in the public domain, "
                             "as Debian's copyright file of the package declares.")}


def linked_files(map_path):
    """The toolchain's files the linker took in, by its map: the archives it took a member from
    and the objects it loaded, with their real paths."""
    with open(map_path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    members = text.split("\nDiscarded input sections", 1)[0]
    found = {m for m in re.findall(r"^(/[^(\n]+)\(", members, re.M)}
    found |= set(re.findall(r"^LOAD (/\S+\.o)$", text, re.M))
    return sorted({os.path.realpath(p) for p in found})


def component(path, package):
    """What a file of the toolchain is part of: libstdc++, libgcc, winpthreads, the mingw-w64
    runtime, or else its package."""
    base = os.path.basename(path)
    if base in ("libstdc++.a", "libsupc++.a"):
        return "libstdc++"
    if package.startswith(("gcc-mingw-w64", "g++-mingw-w64")):
        return "libgcc"
    if package.startswith("mingw-w64-"):
        return "winpthreads" if base.startswith(("libwinpthread", "libpthread")) else "mingw-w64 runtime"
    return package


def _id(text):
    return re.sub(r"[^A-Za-z0-9.-]", "-", text.replace("++", "xx"))


def _purl(package, version):
    return "pkg:deb/debian/%s@%s" % (urllib.parse.quote(package, safe=""), urllib.parse.quote(version, safe=""))


def document(name, product_version, commit, epoch, shipped, linked, owners, package_versions):
    """The SPDX document's text. `shipped`: {program: its shipped bytes}; `linked`: {program:
    [toolchain files]}; `owners`: {file: Debian package}; `package_versions`: {package: version}."""
    parts = {}  # component -> {package: [files]}
    uses = {}  # program -> set of components
    for program, files in sorted(linked.items()):
        for path in files:
            package = owners.get(path)
            if not package:
                raise ValueError("%s: linked into %s, but no Debian package holds it" % (path, program))
            part = component(path, package)
            parts.setdefault(part, {}).setdefault(package, []).append(path)
            uses.setdefault(program, set()).add(part)
    product = "SPDXRef-Package-" + _id(name)
    files, packages, relations = [], [], [{"spdxElementId": "SPDXRef-DOCUMENT", "relationshipType": "DESCRIBES",
                                           "relatedSpdxElement": product}]
    sha1s = []
    for program in sorted(shipped):
        data = shipped[program]
        sha1s.append(hashlib.sha1(data).hexdigest())
        ref = "SPDXRef-File-" + _id(program)
        files.append({"fileName": "./" + program, "SPDXID": ref,
                      "checksums": [{"algorithm": "SHA1", "checksumValue": sha1s[-1]},
                                    {"algorithm": "SHA256", "checksumValue": hashlib.sha256(data).hexdigest()}],
                      "licenseConcluded": "NOASSERTION", "copyrightText": "NOASSERTION"})
        relations.append({"spdxElementId": product, "relationshipType": "CONTAINS", "relatedSpdxElement": ref})
        for part in sorted(uses.get(program, ())):
            relations.append({"spdxElementId": ref, "relationshipType": "STATIC_LINK",
                              "relatedSpdxElement": "SPDXRef-Package-" + _id(part)})
    packages.append({"name": name.rsplit("-", 1)[0], "SPDXID": product, "versionInfo": product_version,
                     "supplier": "Organization: Quorvant Software", "downloadLocation": "NOASSERTION",
                     "filesAnalyzed": True, "packageVerificationCode": {
                         "packageVerificationCodeValue": hashlib.sha1("".join(sorted(sha1s)).encode()).hexdigest()},
                     "licenseConcluded": "NOASSERTION", "licenseDeclared": "NOASSERTION",
                     "copyrightText": "NOASSERTION", "comment": "commit " + commit})
    used_refs = set()
    for part in sorted(parts):
        if len(parts[part]) > 1:
            raise ValueError("%s: linked in from more than one package (%s)" % (part, ", ".join(sorted(parts[part]))))
        (package, paths), = parts[part].items()
        version = package_versions.get(package)
        if not version:
            raise ValueError("BUILDINFO records no version of %s, whose files are linked in" % package)
        licence = LICENCES.get(part, "NOASSERTION")
        used_refs |= {r for r in EXTRACTED if r in licence}
        packages.append({"name": part, "SPDXID": "SPDXRef-Package-" + _id(part), "versionInfo": version,
                         "supplier": "Organization: Debian", "downloadLocation": "NOASSERTION", "filesAnalyzed": False,
                         "licenseConcluded": "NOASSERTION", "licenseDeclared": licence,
                         "licenseComments": "As Debian declares it in /usr/share/doc/%s/copyright" % package,
                         "copyrightText": "NOASSERTION", "sourceInfo": "Debian package %s %s, statically linked: %s"
                         % (package, version, " ".join(sorted({os.path.basename(p) for p in paths}))),
                         "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                                           "referenceLocator": _purl(package, version)}]})
    identity = json.dumps([name, commit, files, packages], sort_keys=True).encode()
    doc = {"spdxVersion": "SPDX-2.3", "dataLicense": "CC0-1.0", "SPDXID": "SPDXRef-DOCUMENT", "name": name,
           "documentNamespace": "urn:uuid:" + str(uuid.uuid5(uuid.NAMESPACE_URL, hashlib.sha256(identity).hexdigest())),
           "creationInfo": {"created": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(epoch)),
                            "creators": ["Organization: Quorvant Software", "Tool: scripts/release.sh"]},
           "packages": packages, "files": files, "relationships": relations}
    if used_refs:
        doc["hasExtractedLicensingInfos"] = [{"licenseId": r, "name": EXTRACTED[r][0], "extractedText": EXTRACTED[r][1]}
                                            for r in sorted(used_refs)]
    return json.dumps(doc, indent=2) + "\n"


def linked_by_program(build_dir):
    """{program: [toolchain files]} from the maps the build wrote."""
    return {p: linked_files(os.path.join(build_dir, m)) for p, m in PROGRAMS.items()}
