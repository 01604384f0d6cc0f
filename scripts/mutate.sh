#!/bin/sh
# Mutation run over what a change adds: plants one small slip at a time in the
# lines `git diff BASE` adds to the program's sources, rebuilds, runs the unit
# tests (then the whole-program groups named) and lists the slips no test
# catches. A measurement for developers, not part of CI: it exits 0 whatever
# survives, non-zero only when it cannot measure (2) or is interrupted (130).
#
#   sh scripts/mutate.sh BASE [--groups "faults attackers"] [--only "case ..."]
#                        [--max N] [--list] [--jobs N] [--preset dev|ci]
#   sh scripts/mutate.sh --canaries tests/canaries [--jobs N] [--preset dev|ci]
#                        [--build-dir build/ci]
#
# With --canaries, the fixed slips kept as patches in that folder instead:
# each planted alone, built, and only the tests its "Caught-by:" lines name
# run (see tests/canaries/README.md). It ends with the line
# "canary slips caught: C/N" and exits 1 unless every slip was caught, and
# also when a patch no longer applies or no longer builds (it must then be
# re-made, not skipped); that is CI's check that the tests still catch them.
# With --build-dir (as root), an existing build of the work tree is reused
# instead of a build of the copy: each build runs in a private mount
# namespace where the copy's files that the patches change are bound over
# the work tree's, so the tree itself is never written; at the end those
# files are built once more as they are, and the build is as it was.
#
# Our own script, not the mutation tool on PyPI: this machine cannot reach
# PyPI, and the few operators wanted here fit in a page of stdlib Python.
# The work tree is only read. Slips are planted in a copy of it,
# build/mutate/src, built in build/mutate/<preset> (ignored by git and kept
# between runs so that builds stay incremental; `rm -rf build/mutate` drops
# them); each file is restored after its slip, and on exit or interrupt.
# The next line runs this file under Python; to sh it is `exec python3 ...`.
''''exec python3 "$0" "$@" # '''
import argparse, glob, os, re, shutil, signal, subprocess, sys, tempfile, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SRC = os.path.join(ROOT, "build/mutate/src")
FOLDERS = ("common", "checkers", "checktool")  # the program's sources, and the unit tests' labels
FLIP = {"==": "!=", "!=": "==", "<": "<=", "<=": "<", ">": ">=", ">=": ">", "&&": "||", "||": "&&"}
PAIRS = ("true false SIG_IGN SIG_DFL SIG_BLOCK SIG_UNBLOCK SIGINT SIGTERM SIGQUIT SIGHUP SIGCHLD SIGPIPE "
         "SIGTTOU SIGTTIN EINTR EAGAIN ENOENT ENOTDIR EEXIST EISDIR EACCES EPERM ENOSPC EIO EBADF EINVAL "
         "EBUSY ETXTBSY STDIN_FILENO STDOUT_FILENO SEEK_SET SEEK_END LOCK_EX LOCK_SH R_OK W_OK "
         "EXIT_SUCCESS EXIT_FAILURE").split()
SWAP = {**dict(zip(PAIRS[::2], PAIRS[1::2])), **dict(zip(PAIRS[1::2], PAIRS[::2]))}  # each for its partner
FLAG = r"[A-Z][A-Z0-9_]+"
CALL = re.compile(r"(\s*)(?:\(void\)\s*)?((?:::)?[A-Za-z_]\w*(?:(?:::|\.|->)~?[A-Za-z_]\w*)*)\s*\(.*\)\s*;\s*")
KEYWORDS = {"if", "for", "while", "switch", "return", "sizeof", "catch", "static_assert"}
# As root, each unit-test program runs in mount and PID namespaces of its own where
# a slip cannot reach the machine's hosts file, desktop entries or pkexec.
GUARD = ["unshare", "--mount", "--propagation", "private", "--pid", "--fork", "--kill-child",
         "--mount-proc", "sh", "-c",
         "for p in /usr/bin/pkexec /usr/local/bin/pkexec; do\n"
         "  [ ! -e $p ] || mount --bind /bin/false $p || exit 99\ndone\n"
         "for p in /etc/hosts /usr/share/applications; do\n"
         "  [ ! -e $p ] || { mount --bind $p $p && mount -o remount,bind,ro $p; } || exit 99\ndone\n"
         '"$@"; exit $?', "sh"]
child = None  # the running build or test, ended on exit


def git(*args):
    return subprocess.run(["git", "-C", ROOT, *args], check=True, capture_output=True,
                          text=True, errors="surrogateescape").stdout


def added_lines(base):
    """{path: set of line numbers} that `git diff BASE` adds to the program's sources."""
    added, path = {}, None
    for line in git("diff", "-U0", "--no-color", "--no-ext-diff", base, "--", *FOLDERS).splitlines():
        if line.startswith("+++ "):
            dirs = set(line[6:].split("/")[:-1])
            path = line[6:] if (line.startswith("+++ b/") and line.endswith((".cpp", ".h")) and
                                not dirs & {"tests", "testsupport", "fuzz", "bench"}) else None
        elif line.startswith("@@") and path:
            m = re.match(r"@@ -\S+ \+(\d+)(?:,(\d+))? @@", line)
            added.setdefault(path, set()).update(range(int(m[1]), int(m[1]) + int(m[2] or 1)))
    return added


def code_only(text):
    """text with comments and the insides of literals blanked, lengths and newlines kept."""
    out, i = [], 0
    for m in re.finditer(r'//[^\n]*|/\*.*?\*/|R"([^(\s]*)\(.*?\)\1"|"(?:\\.|[^"\\\n])*"|'
                         r"(?<![\w'])'(?:\\.|[^'\\\n])+'", text, re.S):
        blank = re.sub(r"[^\n]", " ", m[0])
        out += [text[i:m.start()], blank if m[0][0] == "/" else m[0][0] + blank[1:-1] + m[0][-1]]
        i = m.end()
    return "".join(out + [text[i:]])


def slips(code, line):
    """(kind, new line) for each slip of one line; code is the line with literals blanked."""
    def at(m, new):
        return line[:m.start()] + new + line[m.end():]
    for m in re.finditer(r"(?<=\s)(==|!=|<=|>=|<|>|&&|\|\|)(?=\s)", code):
        yield ("swapped constant" if m[0] in ("&&", "||") else "flipped comparison"), at(m, FLIP[m[0]])
    for m in re.finditer(r"(?<![\w.'])\d+(?=[uUlL]*(?![\w.']))", code):
        octal = len(m[0]) > 1 and m[0][0] == "0"
        n = int(m[0], 8 if octal else 10)
        for k in (n + 1, n - 1) if n > 0 else (n + 1,):
            yield "off-by-one", at(m, "0%o" % k if octal else str(k))
    for m in re.finditer(r"\b\w+\b", code):
        if m[0] in SWAP:
            yield "swapped constant", at(m, SWAP[m[0]])
    for m in re.finditer(r" \| %s\b(?!\s*\()" % FLAG, code):  # " | O_X" dropped
        yield "dropped flag", at(m, "")
    for m in re.finditer(r"(?<![\w:])%s \| (?=\w)" % FLAG, code):  # a first "O_X | " dropped
        if not code[:m.start()].rstrip().endswith("|"):
            yield "dropped flag", at(m, "")
    m = CALL.fullmatch(code)
    args = code[code.index("(", m.end(2)) + 1:code.rindex(")")] if m else ""
    while re.search(r"\([^()]*\)", args):  # one call: the arguments' parentheses pair up
        args = re.sub(r"\([^()]*\)", "", args)
    if m and m[2].split("::")[-1] not in KEYWORDS and not re.search(r"[()]", args):
        yield "dropped call", m[1] + "(void)0;"


def mutants(base):
    """(path, line number, kind, before, after), in file and line order."""
    found = []
    for path, numbers in sorted(added_lines(base).items()):
        with open(os.path.join(ROOT, path), encoding="utf-8", errors="surrogateescape") as f:
            text = f.read()
        lines, code, prev = text.split("\n"), code_only(text).split("\n"), ";"
        for i, (line, c) in enumerate(zip(lines, code)):
            macro = c.lstrip().startswith("#") or (i > 0 and lines[i - 1].endswith("\\"))
            seen = set()
            for kind, new in slips(c, line) if i + 1 in numbers and not macro else ():
                # a dropped call must be a statement of its own, not the end of an expression
                if new not in seen and (kind != "dropped call" or prev[-1] in ";{}):"):
                    seen.add(new)
                    found.append((path, i + 1, kind, line, new))
            prev = c.rstrip() or prev
    return found


def default_signals():  # the tests expect the stop signals a terminal gives, even under nohup
    for s in (signal.SIGINT, signal.SIGQUIT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, signal.SIG_DFL)


def run(cmd, log, cwd=None, env=None, per_test=None):
    """'ok', 'failed' or 'timeout', the output in log. per_test: the seconds one
    GoogleTest test may take (from its "[ RUN" line) before it counts as hung."""
    global child
    with open(log, "w") as out:
        child = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=out, stderr=subprocess.STDOUT,
                                 stdin=subprocess.DEVNULL, start_new_session=True, preexec_fn=default_signals)
    started, runs = time.time(), 0
    while child.poll() is None:
        time.sleep(0.2)
        if per_test:
            with open(log, errors="replace") as f:
                count = f.read().count("[ RUN      ]")
            started, runs = (time.time(), count) if count != runs else (started, runs)
            if time.time() - started > per_test:
                stop_child()
                return "timeout"
    status, child = child.returncode, None
    return "ok" if status == 0 else "failed"


def stop_child():
    global child
    if child and child.poll() is None:
        os.killpg(child.pid, signal.SIGKILL)
        child.wait()
    child = None


def unit_tests(tmp, binary, first, guard):
    """None when the unit tests pass (`ctest -L 'common|checkers|checktool'`, each program
    run directly, stopping at the first failure, `first` folder first); else what failed."""
    tests = []
    for folder in FOLDERS:
        with open(os.path.join(SRC, folder, "tests/CMakeLists.txt")) as f:
            for m in re.finditer(r"gtest_discover_tests\((\w+)([^)]*)\)", f.read()):
                label, limit = re.search(r"LABELS\s+(\w+)", m[2]), re.search(r"TIMEOUT\s+(\d+)", m[2])
                if label and label[1] in FOLDERS:
                    tests.append((label[1] != first, os.path.join(binary, folder, "tests", m[1]),
                                  int(limit[1]) if limit else 1500))
    # A failed test keeps its directory: below ours, or the command-line tests' work folder.
    env = dict(os.environ, TEST_TMPDIR=os.path.join(tmp, "tests"))
    kept = os.path.join(tmp, "tests/*"), os.path.join(binary, "checktool/tests/work/checktool-test.*")
    for _, exe, limit in sorted(tests):
        os.makedirs(env["TEST_TMPDIR"], exist_ok=True)
        result = run(guard + [exe, "--gtest_fail_fast"], os.path.join(tmp, "unit.log"),
                     cwd=os.path.dirname(exe), env=env, per_test=limit)
        for path in glob.glob(kept[0]) + glob.glob(kept[1]):
            shutil.rmtree(path, ignore_errors=True)
        out = open(os.path.join(tmp, "unit.log"), errors="replace").read()
        if result != "ok" or "[  PASSED  ]" not in out or "[  FAILED  ]" in out:
            names = re.findall(r"\[  FAILED  \] (\S+)", out) or re.findall(r"\[ RUN      \] (\S+)", out)[-1:]
            return "%s %s %s" % (os.path.basename(exe), result, names[0] if names else "")
    return None


def groups_fail(tmp, binary, groups, only):
    """None when the named whole-program groups pass (through ctest, with their time limits)."""
    if not groups:
        return None
    env = dict(os.environ, **({"SYSTEST_ONLY": only} if only else {}))
    cmd = ["ctest", "--test-dir", binary, "--stop-on-failure", "-V", "-R", "^system_(%s)$" % "|".join(groups)]
    if run(cmd, os.path.join(tmp, "groups.log"), env=env) == "ok":
        return None
    failed = re.findall(r"\d+ - (system_\S+) \(", open(os.path.join(tmp, "groups.log"), errors="replace").read())
    return "ctest " + (failed[0] if failed else "failed")


def sync_copy():
    """SRC made to hold the work tree's files (tracked, and untracked but not ignored); a
    file is written only when its content differs, so that the build stays incremental."""
    wanted = {p for p in git("ls-files", "-z", "-co", "--exclude-standard").split("\0")
              if p and os.path.isfile(os.path.join(ROOT, p))}
    for p in wanted:
        data = open(os.path.join(ROOT, p), "rb").read()
        dst = os.path.join(SRC, p)
        if not os.path.isfile(dst) or open(dst, "rb").read() != data:
            os.makedirs(os.path.dirname(dst), exist_ok=True)
            open(dst, "wb").write(data)
        shutil.copymode(os.path.join(ROOT, p), dst)
    for top, _, files in os.walk(SRC):
        for name in files:
            if os.path.relpath(os.path.join(top, name), SRC) not in wanted:
                os.remove(os.path.join(top, name))


def write(path, text):
    with open(os.path.join(SRC, path), "w", encoding="utf-8", errors="surrogateescape") as f:
        f.write(text)


# ---- canaries: fixed slips kept as patches, each caught by the tests it names ----

PROGRAMS = ("common_test", "io_failure_test", "checkers_test", "checktool_test")


class Canary:
    """One patch: its file, what it slips, the files it changes, and its tests:
    [("unit", program, gtest filter)] and [("group", name, "case ...")]."""

    def __init__(self, path):
        self.path, self.name, self.tests, self.files, self.what = path, os.path.basename(path), [], [], ""
        for line in open(path, encoding="utf-8", errors="surrogateescape"):
            if line.startswith("diff --git "):
                break
            m = re.match(r"(Canary|Caught-by):\s*(.*?)\s*$", line)
            if m and m[1] == "Canary":
                self.what = m[2]
            elif m:
                words = m[2].split()
                if len(words) == 2 and words[0] in PROGRAMS:
                    self.tests.append(("unit", words[0], words[1]))
                elif len(words) >= 3 and words[0] == "group" and \
                        os.path.isfile(os.path.join(ROOT, "tests/system/group-%s.sh" % words[1])):
                    self.tests.append(("group", words[1], " ".join(words[2:])))
                else:
                    raise ValueError("%s: a Caught-by line names a program (%s) and a gtest filter, or "
                                     "\"group NAME CASE...\": %s" % (self.name, " ".join(PROGRAMS), m[2]))
        for line in open(path, encoding="utf-8", errors="surrogateescape"):
            if line.startswith("+++ b/"):
                self.files.append(line[6:].rstrip("\n"))
        if not self.tests or not self.files:
            raise ValueError("%s: needs a \"Caught-by:\" line and a diff (git diff format)" % self.name)

    def targets(self):
        units = [t[1] for t in self.tests if t[0] == "unit"]
        return units + (["checktool", "launch"] if any(t[0] == "group" for t in self.tests) else [])


def program_limits(binary):
    """{program: (path, seconds one of its tests may take)}, from the tests' CMakeLists."""
    found = {}
    for folder in FOLDERS:
        with open(os.path.join(SRC, folder, "tests/CMakeLists.txt")) as f:
            for m in re.finditer(r"gtest_discover_tests\((\w+)([^)]*)\)", f.read()):
                limit = re.search(r"TIMEOUT\s+(\d+)", m[2])
                found[m[1]] = (os.path.join(binary, folder, "tests", m[1]), int(limit[1]) if limit else 1500)
    return found


def canary_tests(tmp, binary, canary, guard, limits):
    """(None, count of tests run) when every named test passes; else (what failed, 0)."""
    ran = 0
    for kind, name, which in canary.tests:
        if kind == "unit":
            exe, limit = limits[name]
            env = dict(os.environ, TEST_TMPDIR=os.path.join(tmp, "tests"))
            os.makedirs(env["TEST_TMPDIR"], exist_ok=True)
            log = os.path.join(tmp, "unit.log")
            result = run(guard + [exe, "--gtest_filter=" + which], log, cwd=os.path.dirname(exe),
                         env=env, per_test=limit)
            shutil.rmtree(env["TEST_TMPDIR"], ignore_errors=True)
            for path in glob.glob(os.path.join(binary, "checktool/tests/work/checktool-test.*")):
                shutil.rmtree(path, ignore_errors=True)
            out = open(log, errors="replace").read()
            if result != "ok" or "[  PASSED  ]" not in out or "[  FAILED  ]" in out:
                names = re.findall(r"\[  FAILED  \] (\S+)", out) or re.findall(r"\[ RUN      \] (\S+)", out)[-1:]
                return "%s %s %s" % (name, result, names[0] if names else ""), 0
            ran += len(re.findall(r"\[       OK \]", out))
        else:
            why = groups_fail(tmp, binary, [name], which)
            if why:
                return why, 0
            out = open(os.path.join(tmp, "groups.log"), errors="replace").read()
            passed = [case for case in which.split() if re.search(r": PASS %s$" % re.escape(case), out, re.M)]
            if len(passed) < len(which.split()):
                return None, 0  # a case named that did not run (renamed, or the group skipped)
            ran += len(passed)
    return None, ran


def canaries(folder, preset, jobs, build_dir):
    """Plants each patch of folder alone in the copy, builds, runs the tests it
    names; prints "canary slips caught: C/N"; 0 when all N were caught."""
    folder = os.path.join(ROOT, folder) if not os.path.isabs(folder) else folder
    paths = sorted(glob.glob(os.path.join(folder, "*.patch")))
    if not paths:
        print("canaries: no *.patch in %s" % folder)
        return 2
    try:
        planted = [Canary(p) for p in paths]
    except ValueError as e:
        print("canaries: %s" % e)
        return 2
    guard = GUARD if os.geteuid() == 0 and subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode == 0 else []
    binary = os.path.abspath(build_dir) if build_dir else os.path.join(ROOT, "build/mutate", preset)
    if build_dir:
        cache = os.path.join(binary, "CMakeCache.txt")
        home = re.search(r"^CMAKE_HOME_DIRECTORY:INTERNAL=(.*)$", open(cache).read(), re.M) if os.path.isfile(cache) else None
        if not guard or not home or os.path.realpath(home[1]) != os.path.realpath(ROOT):
            print("canaries: --build-dir needs root, mount namespaces and a configured build of %s" % ROOT)
            return 2
    wanted = sorted({t for c in planted for t in c.targets()})
    bound = sorted({p for c in planted for p in c.files})  # bound over the tree's for a reused build
    marker = os.path.join(binary, "CANARY-SLIP-PLANTED")
    tmp = tempfile.mkdtemp(prefix="checktool-canaries.")

    def build(targets):
        cmd = ["cmake", "--build", binary, "-j", str(jobs), "--target", *targets]
        if build_dir:
            binds = [x for p in bound for x in (os.path.join(SRC, p), os.path.join(ROOT, p))]
            cmd = ["unshare", "--mount", "--propagation", "private", "sh", "-c",
                   'while [ "$1" != -- ]; do mount --bind "$1" "$2" || exit 1; shift 2; done; shift; exec "$@"',
                   "sh", *binds, "--", *cmd]
        return run(cmd, os.path.join(tmp, "build.log")) == "ok"
    # git apply outside any repository: the copy lies inside the work tree's.
    apply_env = dict(os.environ, GIT_CEILING_DIRECTORIES=os.path.dirname(SRC))
    relative = os.path.relpath(folder, ROOT)
    caught, current = 0, {}  # current: {path: text} of the files holding a slip

    def show(log):
        sys.stdout.write("".join(open(os.path.join(tmp, log), errors="replace").readlines()[-30:]))
    started = time.time()
    try:
        sync_copy()
        if build_dir and not os.path.exists(marker):
            # The copies dated as the tree's files: the reused build has them already.
            for p in bound:
                if os.path.isfile(os.path.join(ROOT, p)):
                    stat = os.stat(os.path.join(ROOT, p))
                    os.utime(os.path.join(SRC, p), ns=(stat.st_atime_ns, stat.st_mtime_ns))
        if build_dir:  # left by a run that was killed: its build holds a slip until rebuilt
            with open(marker, "w") as f:
                f.write("A canary slip may be built in here: sh scripts/mutate.sh --canaries %s "
                        "--build-dir %s builds it back\n" % (os.path.relpath(folder, ROOT), build_dir))
        if not os.path.isfile(os.path.join(binary, "CMakeCache.txt")):
            ninja = ["-G", "Ninja"] if shutil.which("ninja") else []
            if run(["cmake", "--preset", preset, "-B", binary, *ninja], os.path.join(tmp, "configure.log"), cwd=SRC) != "ok":
                show("configure.log")
                print("canaries: the configuration failed")
                return 2
        if not build(wanted):
            show("build.log")
            print("canaries: the unchanged sources do not build")
            return 2
        limits = program_limits(binary)
        # The named tests pass without the slips, and name at least one test each.
        for c in planted:
            why, ran = canary_tests(tmp, binary, c, guard, limits)
            if why or ran == 0:
                show("groups.log" if why and why.startswith("ctest") else "unit.log")
                print("canaries: %s: %s" % (c.name, "its tests fail without the slip: " + why if why else
                                            "its Caught-by lines name no test that ran; correct them"))
                return 1
        print("canaries: the unchanged sources built and their tests passed in %d s" % (time.time() - started))
        for n, c in enumerate(planted, 1):
            start = time.time()
            current = {p: open(os.path.join(SRC, p), encoding="utf-8", errors="surrogateescape").read()
                       for p in c.files if os.path.isfile(os.path.join(SRC, p))}
            log = os.path.join(tmp, "apply.log")
            applies = len(current) == len(c.files) and run(["git", "apply", "--check", c.path], log, cwd=SRC, env=apply_env) == "ok"
            if not applies:
                sys.stdout.write(open(log, errors="replace").read() if os.path.exists(log) else "")
                print("[%d/%d] DOES NOT APPLY %s: the code it slips has changed. Re-make it, do not skip it: "
                      "plant the same slip (%s) by hand in %s, check that its Caught-by tests (%s) fail, and "
                      "write it with `git diff` under the same header lines (%s/README.md)."
                      % (n, len(planted), c.name, c.what, " ".join(c.files),
                         "; ".join(" ".join(t[1:]) for t in c.tests), relative), flush=True)
                current = {}
                continue
            subprocess.run(["git", "apply", c.path], cwd=SRC, env=apply_env, check=True, capture_output=True)
            if not build(c.targets()):
                show("build.log")
                outcome, why = "DOES NOT BUILD", "re-make it against today's code (%s/README.md)" % relative
            else:
                why, _ = canary_tests(tmp, binary, c, guard, limits)
                outcome = "caught" if why else "NOT CAUGHT"
                why = why or "the tests its Caught-by lines name all passed with the slip in"
                caught += outcome == "caught"
            for p, text in current.items():
                write(p, text)
            current = {}
            print("[%d/%d] %s %s: %s (%d s): %s" % (n, len(planted), outcome, c.name, c.what,
                                                   time.time() - start, why), flush=True)
    finally:
        stop_child()
        for p, text in current.items():
            write(p, text)
        # The reused build made whole again: the files the slips were in, as they are.
        if build_dir and os.path.exists(marker):
            if build(wanted):
                os.remove(marker)
            else:
                show("build.log")
                print("canaries: %s could not be built back; %s tells how" % (build_dir, marker))
        shutil.rmtree(tmp, ignore_errors=True)
    print("canaries took %d s" % (time.time() - started))
    print("canary slips caught: %d/%d" % (caught, len(planted)))
    return 0 if caught == len(planted) else 1


def main():
    ap = argparse.ArgumentParser(description="Plant slips in the lines a change adds; list those the tests miss.")
    ap.add_argument("base", nargs="?", help="the commit the change starts from (git diff BASE)")
    ap.add_argument("--canaries", metavar="DIR", help="plant the fixed slips of DIR/*.patch instead (for CI)")
    ap.add_argument("--build-dir", help="with --canaries: reuse this build of the work tree (root only)")
    ap.add_argument("--groups", default="", help='whole-program groups to run too, e.g. "faults attackers"')
    ap.add_argument("--only", default="", help="cases of those groups (SYSTEST_ONLY)")
    ap.add_argument("--max", type=int, default=0, help="at most N mutants, evenly spaced over the list")
    ap.add_argument("--list", action="store_true", help="only list the mutants")
    ap.add_argument("--jobs", type=int, default=os.cpu_count(), help="build jobs")
    ap.add_argument("--preset", default="dev", help="the configure preset whose settings the build takes")
    a = ap.parse_args()
    if a.canaries:
        if a.base or a.groups or a.only or a.max or a.list:
            ap.error("--canaries takes only --jobs, --preset and --build-dir")
        return canaries(a.canaries, a.preset, a.jobs, a.build_dir)
    if a.build_dir:
        ap.error("--build-dir goes with --canaries")
    if not a.base:
        ap.error("BASE is needed (or --canaries DIR)")
    groups = a.groups.split()
    if [g for g in groups if not os.path.isfile(os.path.join(ROOT, "tests/system/group-%s.sh" % g))] or (a.only and not groups):
        ap.error("--groups names groups of tests/system/group-*.sh; --only needs --groups")
    if subprocess.run(["git", "-C", ROOT, "rev-parse", "-q", "--verify", a.base + "^{commit}"],
                      capture_output=True).returncode != 0:
        ap.error("%s is no commit" % a.base)
    every = mutants(a.base)
    picked = [every[i * len(every) // a.max] for i in range(a.max)] if 0 < a.max < len(every) else every
    print("%d mutants in the lines added since %s; %d picked" % (len(every), a.base, len(picked)))
    if a.list:
        for n, (path, line, kind, before, after) in enumerate(picked, 1):
            print("%4d %s:%d %s: %s  →  %s" % (n, path, line, kind, before.strip(), after.strip()))
        return 0
    binary, tmp = os.path.join(ROOT, "build/mutate", a.preset), tempfile.mkdtemp(prefix="checktool-mutate.")
    guard = GUARD if os.geteuid() == 0 and subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode == 0 else []
    targets = ["common_test", "io_failure_test", "checkers_test", "checktool_test"] + (["launch"] if groups else [])
    build = ["cmake", "--build", binary, "-j", str(a.jobs), "--target", *targets]
    current, outcomes, took = None, [], []  # current: (path, text) of the file holding a slip

    def failed(log, message):
        sys.stdout.write("".join(open(os.path.join(tmp, log), errors="replace").readlines()[-30:]))
        print("mutate: " + message)
        return 2
    try:
        sync_copy()
        if not os.path.isfile(os.path.join(binary, "CMakeCache.txt")):
            ninja = ["-G", "Ninja"] if shutil.which("ninja") else []
            if run(["cmake", "--preset", a.preset, "-B", binary, *ninja], os.path.join(tmp, "configure.log"), cwd=SRC) != "ok":
                return failed("configure.log", "the configuration failed")
        start = time.time()
        if run(build, os.path.join(tmp, "build.log")) != "ok":
            return failed("build.log", "the unchanged sources do not build")
        why = unit_tests(tmp, binary, None, guard) or groups_fail(tmp, binary, groups, a.only)
        if why:
            return failed("groups.log" if why.startswith("ctest") else "unit.log", "the unchanged sources fail: " + why)
        print("unchanged sources: built and passed in %d s" % (time.time() - start))
        if groups and ": PASS " not in open(os.path.join(tmp, "groups.log"), errors="replace").read():
            print("mutate: warning: no whole-program case ran (skipped, or --only names none)")
        for n, (path, line, kind, before, after) in enumerate(picked, 1):
            start = time.time()
            current = (path, open(os.path.join(SRC, path), encoding="utf-8", errors="surrogateescape").read())
            lines = current[1].split("\n")
            lines[line - 1] = after
            write(path, "\n".join(lines))
            why = "" if run(build, os.path.join(tmp, "build.log")) != "ok" else (
                unit_tests(tmp, binary, path.split("/")[0], guard) or groups_fail(tmp, binary, groups, a.only))
            outcome = "not built" if why == "" else "caught" if why else "survived"
            write(*current)
            current = None
            outcomes.append(outcome)
            took.append(time.time() - start)
            print("[%d/%d] %-9s %s:%d %s (%d s%s)" % (n, len(picked), outcome, path, line, kind,
                                                     took[-1], ": " + why if why else ""), flush=True)
    finally:
        stop_child()
        if current:
            write(*current)
        shutil.rmtree(tmp, ignore_errors=True)
    survivors = [m for m, o in zip(picked, outcomes) if o == "survived"]
    print("\nSurvivors:" if survivors else "\nNo survivors.")
    for path, line, kind, before, after in survivors:
        print("  %s:%d %s\n      %s\n    → %s" % (path, line, kind, before.strip(), after.strip()))
    print("planted %d, caught %d, survived %d, not built %d; %.0f s a mutant on average"
          % (len(outcomes), outcomes.count("caught"), len(survivors), outcomes.count("not built"),
             sum(took) / len(took) if took else 0))
    return 0


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, signal.default_int_handler)  # ends the run as Ctrl-C does
    signal.signal(signal.SIGHUP, signal.default_int_handler)
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        print("mutate: interrupted; the copy under build/mutate/src is restored")
        sys.exit(130)
