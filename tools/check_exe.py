#!/usr/bin/env python3
"""Checks of a built Windows exe, read from the file itself, never by running it (Wine carries DLLs
that Windows lacks, so a run under Wine proves nothing about imports).

    check_exe.py imports --objdump OBJDUMP EXE...
        fails when an exe imports a DLL that is not part of Windows 7 SP1 itself, or a function that
        is not on the list of those Windows 7 SP1 has (windows7_functions.txt beside this file), or
        one of the functions that list names as looked up at run time; and when the exe no longer
        names a function listed as looked up (the list would be out of date)
    check_exe.py known-dlls --objdump OBJDUMP EXE...
        fails when an exe imports a DLL that Windows 7 SP1 may load from the exe's own folder: one
        that is not a KnownDLL there (comctl32.dll comes through the manifest's side-by-side assembly)
    check_exe.py pe-flags --objdump OBJDUMP EXE...
        fails when an exe is not marked terminal-server aware (a Server/Host PC is often a terminal
        server, which otherwise gives the program per-user copies of the Windows folder and its INI
        files), or lacks the DEP and ASLR marks
    check_exe.py signature --osslsigncode TOOL --ca CAFILE --publisher NAME EXE...
        fails when an exe carries no Authenticode signature that verifies through CAFILE, or is signed
        by someone other than NAME (the signing certificate's common name)
    check_exe.py symbols --nm NM SYMBOLFILE NAME...
        fails when a demangled symbol NAME is missing from SYMBOLFILE (the exe's .debug file): a
        module that only registers itself at start-up is dropped by the linker when nothing refers to it
"""
import argparse
import os
import re
import subprocess
import sys

# The DLLs an exe of ours may import: each ships with Windows 7 SP1, the oldest system a site runs.
# Anything else (zlib1.dll, libstdc++-6.dll, libwinpthread-1.dll, api-ms-win-*) must be linked in.
WINDOWS_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll", "gdi32.dll", "imm32.dll",
    "kernel32.dll", "msimg32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll", "rpcrt4.dll",
    "secur32.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "uxtheme.dll", "version.dll",
    "windowscodecs.dll", "winhttp.dll", "wininet.dll", "winmm.dll", "wintrust.dll", "ws2_32.dll",
}


# The KnownDLLs of Windows 7 SP1 (and still of Windows 10 and 11): mapped from the system folder
# whatever the search order. Every other DLL in the import table is looked for beside the exe first,
# before the first line of the program runs, where nothing the program does can restrict the search.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "comdlg32.dll", "gdi32.dll", "imagehlp.dll", "imm32.dll",
    "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll", "ole32.dll", "oleaut32.dll",
    "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shell32.dll", "shlwapi.dll", "user32.dll",
    "wldap32.dll", "ws2_32.dll",
}
# Bound by the manifest's dependency on the common controls 6 assembly, from the side-by-side store.
SIDE_BY_SIDE_DLLS = {"comctl32.dll"}


FUNCTION_LIST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "windows7_functions.txt")


def headers(objdump, exe):
    return subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout


def imported_dlls(objdump, exe):
    return [m.group(1) for m in re.finditer(r"^\s*DLL Name:\s*(\S+)", headers(objdump, exe), re.M)]


def imported_functions(out):
    """(dll, function) for each entry of the import tables in objdump's listing; "#N" for an import
    by ordinal."""
    found, dll = [], None
    for line in out.splitlines():
        m = re.match(r"^\s*DLL Name:\s*(\S+)", line)
        if m:
            dll = m.group(1).lower()
        elif dll and not line.strip():
            dll = None
        elif dll and (m := re.match(r"^\s+[0-9a-fA-F]+\s+\d+\s+(\S+)\s*$", line)):
            found.append((dll, m.group(1)))
        elif dll and (m := re.match(r"^\s+[0-9a-fA-F]+\s+<none>\s+([0-9a-fA-F]+)\s*$", line)):
            found.append((dll, "#" + m.group(1)))
    return found


def architecture(out):
    m = re.search(r"file format pei-(\S+)", out)
    return {"i386": "i686", "x86-64": "x86_64"}.get(m.group(1), m.group(1)) if m else "?"


def read_function_list(path=FUNCTION_LIST):
    """The allowed imports as a set of (dll, function), and the functions looked up at run time as
    (dll, function, architecture or None, what happens without it)."""
    allowed, lazy, section = set(), [], None
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.strip()
            if not line or line.startswith("#"):
                continue
            if line.startswith("["):
                section = line.strip("[]").lower()
                continue
            if section == "lazy":
                parts = line.split(None, 2)
                if len(parts) < 3:
                    raise SystemExit(f"{path}:{number}: a looked-up function needs what happens without it")
                dll, name, fallback = parts[0].lower(), parts[1], parts[2]
                arch = None
                if m := re.search(r"\s*\[(i686|x86_64)\]$", fallback):
                    arch, fallback = m.group(1), fallback[:m.start()]
                lazy.append((dll, name, arch, fallback))
            elif section:
                allowed.add((section, line))
            else:
                raise SystemExit(f"{path}:{number}: a function before the first [dll] section")
    return allowed, lazy


def check_functions(exe, out, allowed, lazy):
    """Prints each import Windows 7 SP1 lacks or that should be looked up at run time; true when
    there was one."""
    imports = imported_functions(out)
    if not imports:
        print(f"{exe}: no imported functions found")
        return True
    looked_up = {(dll, name): fallback for dll, name, _, fallback in lazy}
    failed = False
    for dll, name in imports:
        if (dll, name) in looked_up:
            print(f"{exe}: imports {name} from {dll}, which it should look up when needed "
                  f"(without it: {looked_up[(dll, name)]})")
            failed = True
        elif (dll, name) not in allowed:
            print(f"{exe}: imports {name} from {dll}, which is not on the list of functions Windows 7 SP1 "
                  f"has ({os.path.basename(FUNCTION_LIST)}): the exe would not start there if it lacks it")
            failed = True
    with open(exe, "rb") as f:
        image = f.read()
    arch = architecture(out)
    for dll, name, only, _ in lazy:
        if (only is None or only == arch) and b"\0" + name.encode() + b"\0" not in image:
            print(f"{exe}: no longer names {name} ({dll}), listed as looked up at run time: "
                  f"remove it from {os.path.basename(FUNCTION_LIST)}")
            failed = True
    if not failed:
        print(f"{exe}: imports {len(imports)} functions, each on the list of those Windows 7 SP1 has; "
              f"looks up {sum(1 for *_, only, _f in lazy if only in (None, arch))} others when needed")
    return failed


def check_imports(args):
    failed = False
    allowed, lazy = read_function_list()
    for exe in args.exe:
        out = headers(args.objdump, exe)
        dlls = [m.group(1) for m in re.finditer(r"^\s*DLL Name:\s*(\S+)", out, re.M)]
        if not dlls:
            print(f"{exe}: no import table found")
            failed = True
            continue
        foreign = [d for d in dlls if d.lower() not in WINDOWS_DLLS]
        for d in foreign:
            print(f"{exe}: imports {d}, which Windows does not have")
        failed = failed or bool(foreign)
        if not foreign:
            print(f"{exe}: imports only Windows DLLs: {', '.join(sorted(d.lower() for d in dlls))}")
        failed = check_functions(exe, out, allowed, lazy) or failed
    return 1 if failed else 0


# IMAGE_DLLCHARACTERISTICS_*: what the loader is told about the exe.
PE_FLAGS = {
    0x8000: "terminal-server aware (--tsaware)",
    0x0100: "DEP compatible (--nxcompat)",
    0x0040: "relocatable for ASLR (--dynamicbase)",
}


def check_pe_flags(args):
    failed = False
    for exe in args.exe:
        m = re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)", headers(args.objdump, exe), re.M)
        if not m:
            print(f"{exe}: no DllCharacteristics in its headers")
            failed = True
            continue
        value = int(m.group(1), 16)
        missing = [text for bit, text in PE_FLAGS.items() if not value & bit]
        for text in missing:
            print(f"{exe}: not marked {text}")
        failed = failed or bool(missing)
        if not missing:
            print(f"{exe}: marked {', '.join(PE_FLAGS.values())}")
    return 1 if failed else 0


def check_signature(args):
    failed = False
    for exe in args.exe:
        run = subprocess.run([args.osslsigncode, "verify", "-CAfile", args.ca, "-in", exe],
                             capture_output=True, text=True)
        out = run.stdout + run.stderr
        # The first subject after "Signer's certificate:" is the signing certificate's.
        signer = re.search(r"Signer's certificate:.*?Subject:[ \t]*([^\n]*)", out, re.S)
        subject = signer.group(1).strip() if signer else ""
        names = re.findall(r"(?:^|/)CN=([^/]+)", subject)
        if run.returncode != 0 or "Signature verification: ok" not in out:
            last = out.strip().splitlines()[-1] if out.strip() else f"exit code {run.returncode}"
            print(f"{exe}: no Authenticode signature that verifies through {args.ca} ({last})")
            failed = True
        elif names[-1:] != [args.publisher]:
            print(f"{exe}: signed by '{subject}', not by {args.publisher}")
            failed = True
        else:
            print(f"{exe}: signed by {args.publisher}, verified through {args.ca}")
    return 1 if failed else 0


def check_known_dlls(args):
    failed = False
    for exe in args.exe:
        dlls = imported_dlls(args.objdump, exe)
        if not dlls:
            print(f"{exe}: no import table found")
            failed = True
            continue
        searched = [d for d in dlls if d.lower() not in KNOWN_DLLS | SIDE_BY_SIDE_DLLS]
        for d in searched:
            print(f"{exe}: imports {d}, which is no KnownDLL: Windows looks for it beside the exe first")
        failed = failed or bool(searched)
        if not searched:
            print(f"{exe}: imports only KnownDLLs and side-by-side ones: {', '.join(sorted(d.lower() for d in dlls))}")
    return 1 if failed else 0


def check_symbols(args):
    out = subprocess.run([args.nm, "-C", args.symbol_file], check=True, capture_output=True,
                         text=True).stdout
    names = {line.split(" ", 2)[-1] for line in out.splitlines() if line.strip()}
    missing = [n for n in args.name if n not in names]
    for n in missing:
        print(f"{args.symbol_file}: no symbol '{n}': the module was not linked into the exe")
    if not missing:
        print(f"{args.symbol_file}: has {', '.join(args.name)}")
    return 1 if missing else 0


def main():
    p = argparse.ArgumentParser()
    sub = p.add_subparsers(dest="what", required=True)
    i = sub.add_parser("imports")
    i.add_argument("--objdump", required=True)
    i.add_argument("exe", nargs="+")
    k = sub.add_parser("known-dlls")
    k.add_argument("--objdump", required=True)
    k.add_argument("exe", nargs="+")
    f = sub.add_parser("pe-flags")
    f.add_argument("--objdump", required=True)
    f.add_argument("exe", nargs="+")
    g = sub.add_parser("signature")
    g.add_argument("--osslsigncode", required=True)
    g.add_argument("--ca", required=True)
    g.add_argument("--publisher", required=True)
    g.add_argument("exe", nargs="+")
    s = sub.add_parser("symbols")
    s.add_argument("--nm", required=True)
    s.add_argument("symbol_file")
    s.add_argument("name", nargs="+")
    args = p.parse_args()
    checks = {"imports": check_imports, "known-dlls": check_known_dlls, "pe-flags": check_pe_flags,
              "signature": check_signature, "symbols": check_symbols}
    return checks[args.what](args)


if __name__ == "__main__":
    sys.exit(main())
