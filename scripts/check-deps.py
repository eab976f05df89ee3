#!/usr/bin/python3
"""Checks that every external program the build, the test scripts and the Wine harness call
comes from a Debian package that scripts/install-deps.sh installs (or one those depend on).

A program installed by hand on one machine makes its tests pass there and fail on a fresh
one; this check finds that before the tests run. Each program is resolved to its file, the
file to its package with `dpkg -S`, and the package must lie in the dependency closure of
the packages `install-deps.sh --list` names. Exit status 1 names every program that fails.

Add a program here when a script or the harness starts calling a new one.
"""
import os
import re
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Programs called by name from the scripts, the CMake build and the Wine harness.
PROGRAMS = [
    # build and test drivers
    "cmake", "ctest", "cpack", "ninja", "c++", "cc", "g++", "pkg-config",
    # the fuzz tree (preset "fuzz") and its bounded runs
    "clang", "clang++", "mktemp", "basename", "wc",
    # Debian's python3, called by its path: another python3 may come first on PATH
    "/usr/bin/python3",
    # the Wine harness and the Wine tests
    "Xvfb", "xdotool", "import", "timeout", "flock", "seq", "tr", "sed", "grep", "awk",
    "sort", "uniq", "head", "tail", "cp", "mv", "rm", "mkdir", "touch", "cat", "bash",
    "comm", "find",
    # the setup programs (packaging/setup/)
    "makensis",
    # install-deps.sh
    "dpkg", "dpkg-query", "apt-get",
    # the NTP server's clients and reference server (chronyd only as -Q or -x)
    "chronyd", "ntpdig", "cut", "date", "chmod", "id",
]
for prefix in ("x86_64-w64-mingw32", "i686-w64-mingw32"):
    for tool in ("gcc", "g++", "windres", "windmc", "dlltool", "objdump"):
        PROGRAMS.append(f"{prefix}-{tool}")


def harness_programs():
    """The Wine programs exactly as the harness chooses them (its one place for that)."""
    script = (
        '. "$1" >/dev/null; '
        "qxr_wine_loader x86_64; qxr_wine_loader i686; qxr_wineserver_path 2>/dev/null || "
        'echo "${QXR_WINESERVER:-wineserver}"'
    )
    out = subprocess.run(
        ["bash", "-c", script, "check", os.path.join(ROOT, "tests/wine/harness/lib.sh")],
        capture_output=True, text=True, check=False).stdout
    progs = [line.strip() for line in out.splitlines() if line.strip()]
    # wineserver under /usr/lib/wine is a script that runs wineserver64 beside it.
    for p in list(progs):
        if os.path.basename(p) == "wineserver" and os.path.isabs(p):
            progs.append(os.path.join(os.path.dirname(p), "wineserver64"))
    return progs


def qemu_interpreter():
    """The binfmt_misc interpreter that runs 32-bit programs, when one is registered."""
    try:
        with open("/proc/sys/fs/binfmt_misc/qemu-i386") as f:
            for line in f:
                if line.startswith("interpreter "):
                    return [line.split(None, 1)[1].strip()]
    except OSError:
        pass
    return []


def owner(path):
    """The package that owns a file, trying the merged-/usr alias of its path too."""
    candidates = [path, os.path.realpath(path)]
    for p in list(candidates):
        for a, b in (("/usr/bin/", "/bin/"), ("/usr/sbin/", "/sbin/"), ("/usr/lib/", "/lib/")):
            if p.startswith(a):
                candidates.append(b + p[len(a):])
            elif p.startswith(b):
                candidates.append(a + p[len(b):])
    for p in candidates:
        r = subprocess.run(["dpkg", "-S", p], capture_output=True, text=True, check=False)
        if r.returncode == 0 and r.stdout:
            # "pkg[:arch][, pkg2]: /path"; diversions print "diversion by ..." lines first.
            for line in r.stdout.splitlines():
                if not line.startswith("diversion "):
                    return line.rsplit(": ", 1)[0].split(",")[0].strip().split(":")[0]
    return None


def installed_packages():
    """name -> (depends, provides) for every installed package, arch qualifiers dropped."""
    fmt = "${binary:Package}\t${db:Status-Abbrev}\t${Depends}, ${Pre-Depends}\t${Provides}\n"
    out = subprocess.run(["dpkg-query", "-W", "-f", fmt], capture_output=True, text=True,
                         check=True).stdout
    pkgs = {}
    for line in out.splitlines():
        name, status, depends, provides = (line.split("\t") + ["", "", ""])[:4]
        if not status.startswith("ii"):
            continue
        name = name.split(":")[0]
        groups = []
        for group in depends.split(","):
            alts = [clean(a) for a in group.split("|")]
            alts = [a for a in alts if a]
            if alts:
                groups.append(alts)
        entry = pkgs.setdefault(name, ([], set()))
        entry[0].extend(groups)
        entry[1].update(clean(p) for p in provides.split(",") if clean(p))
    return pkgs


def clean(dep):
    return re.sub(r"\(.*?\)|\[.*?\]|<.*?>", "", dep).strip().split(":")[0]


def closure(roots, pkgs):
    providers = {}
    for name, (_, provides) in pkgs.items():
        providers.setdefault(name, set()).add(name)
        for p in provides:
            providers.setdefault(p, set()).add(name)
    seen, todo = set(), list(roots)
    while todo:
        name = todo.pop()
        for pkg in providers.get(name, ()):
            if pkg in seen:
                continue
            seen.add(pkg)
            for alts in pkgs[pkg][0]:
                todo.extend(alts)
    return seen


def main():
    listed = subprocess.run([os.path.join(ROOT, "scripts/install-deps.sh"), "--list"],
                            capture_output=True, text=True, check=True).stdout.split()
    allowed = closure(listed, installed_packages())
    failures = []
    checked = 0
    for prog in PROGRAMS + harness_programs() + qemu_interpreter():
        path = prog if os.path.isabs(prog) else shutil.which(prog)
        if not path or not os.path.exists(path):
            failures.append(f"{prog}: not found on this machine; no package that "
                            "scripts/install-deps.sh installs provides it")
            continue
        pkg = owner(path)
        checked += 1
        if pkg is None:
            failures.append(f"{prog} ({path}): no Debian package owns it (installed by hand?)")
        elif pkg not in allowed:
            failures.append(f"{prog} ({path}) comes from package '{pkg}', which "
                            "scripts/install-deps.sh does not install")
    for f in failures:
        print(f"check-deps: FAIL: {f}")
    if failures:
        print(f"check-deps: {len(failures)} program(s) the scripts call would be missing on a "
              "fresh machine; name their packages in scripts/install-deps.sh or stop calling them")
        return 1
    print(f"check-deps: all {checked} programs come from packages scripts/install-deps.sh installs")
    return 0


if __name__ == "__main__":
    sys.exit(main())
