#!/usr/bin/env python3
"""Checks of a built Windows exe, read from the file itself, never by running it (Wine carries DLLs
that Windows lacks, so a run under Wine proves nothing about imports).

    check_exe.py imports --objdump OBJDUMP EXE...
        fails when an exe imports a DLL that is not part of Windows 7 SP1 itself
    check_exe.py known-dlls --objdump OBJDUMP EXE...
        fails when an exe imports a DLL that Windows 7 SP1 may load from the exe's own folder: one
        that is not a KnownDLL there (comctl32.dll comes through the manifest's side-by-side assembly)
    check_exe.py symbols --nm NM SYMBOLFILE NAME...
        fails when a demangled symbol NAME is missing from SYMBOLFILE (the exe's .debug file): a
        module that only registers itself at start-up is dropped by the linker when nothing refers to it
"""
import argparse
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


def imported_dlls(objdump, exe):
    out = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    return [m.group(1) for m in re.finditer(r"^\s*DLL Name:\s*(\S+)", out, re.M)]


def check_imports(args):
    failed = False
    for exe in args.exe:
        dlls = imported_dlls(args.objdump, exe)
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
    s = sub.add_parser("symbols")
    s.add_argument("--nm", required=True)
    s.add_argument("symbol_file")
    s.add_argument("name", nargs="+")
    args = p.parse_args()
    checks = {"imports": check_imports, "known-dlls": check_known_dlls, "symbols": check_symbols}
    return checks[args.what](args)


if __name__ == "__main__":
    sys.exit(main())
