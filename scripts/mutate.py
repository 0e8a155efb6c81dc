#!/usr/bin/env python3
"""Planted-fault check: how many small faults in the product code do the tests catch?

Plants one fault at a time in the portable sources of grf/, engine/ and
support/ (a swapped operator, a changed constant, a deleted statement, a
negated condition), rebuilds the native test binaries in a build directory of
its own, and runs them and the script test CTest runs beside them (the merge
past 4 GiB). A failing or timed-out run catches the fault; a fault
that does not compile is skipped and not counted, and so is one that builds
the very same programs (code the build leaves out, or a change the compiler
proves makes no difference). The file is always put back.

    scripts/mutate.py [--seed N] [--count N] [--source DIR] [--build DIR]
    scripts/mutate.py --retest LOG    (only the survivors an earlier run printed)

The sample is random but seeded; the same seed plants the same faults in the
lines that did not change. Not part of the test suite: it takes half an hour.
"""
import argparse
import hashlib
import os
import random
import re
import signal
import subprocess
import sys
import time

LAYERS = ("grf", "engine", "support")
BINARIES = ("support", "grf", "engine", "e2e", "cli", "slimgrf")
TARGETS = ["test_" + b for b in BINARIES] + ["slimwick-cli", "slimgrf-tool"]

SWAPS = [
    ("==", "!="), ("!=", "=="), ("<=", "<"), (">=", ">"), (" < ", " <= "), (" > ", " >= "),
    ("&&", "||"), ("||", "&&"), (" + ", " - "), (" - ", " + "), (" * ", " / "),
    ("+=", "-="), ("-=", "+="), ("<<", ">>"), (">>", "<<"), (" & ", " | "), (" | ", " & "),
    ("true", "false"), ("false", "true"),
]
NUMBER = re.compile(r"(?<![\w.])(0x[0-9A-Fa-f]+|\d+)([uUlL]*)(?![\w.])")
STATEMENT = re.compile(r"^\s*(\*?[A-Za-z_][\w:]*(\s*(\.|->)\s*[A-Za-z_]\w*|\[[^\]]*\])*\s*"
                       r"(\(|=(?!=)|\+=|-=|\|=|&=|<<=|>>=|\+\+|--)|\+\+|--|break\s*;|continue\s*;)")
CONDITION = re.compile(r"\b(if|while)\s*\(")


def blank_comments_and_strings(lines):
    """The lines with comments, string and character literals blanked, so that
    sites are only looked for in code (columns stay where they were)."""
    out, in_block = [], False
    for line in lines:
        chars, i = list(line), 0
        while i < len(chars):
            if in_block:
                if line.startswith("*/", i):
                    chars[i] = chars[i + 1] = " "
                    in_block, i = False, i + 2
                    continue
                chars[i] = " "
            elif line.startswith("//", i):
                chars[i:] = " " * (len(chars) - i)
                break
            elif line.startswith("/*", i):
                chars[i] = chars[i + 1] = " "
                in_block, i = True, i + 2
                continue
            elif chars[i] in "\"'":
                quote, j = chars[i], i + 1
                while j < len(chars) and chars[j] != quote:
                    j += 2 if chars[j] == "\\" else 1
                for k in range(i + 1, min(j, len(chars))):
                    chars[k] = " "
                i = j + 1
                continue
            i += 1
        out.append("".join(chars))
    return out


def closing_paren(code, open_index):
    depth = 0
    for k in range(open_index, len(code)):
        if code[k] == "(":
            depth += 1
        elif code[k] == ")":
            depth -= 1
            if depth == 0:
                return k
    return -1


def sites_of(path, text):
    """Every fault this file offers: (path, line number, description, new line)."""
    lines = text.split("\n")
    code_lines = blank_comments_and_strings(lines)
    found = []
    for n, (line, code) in enumerate(zip(lines, code_lines)):
        stripped = code.strip()
        if not stripped or stripped.startswith("#") or "static_assert" in code or "template" in code:
            continue
        for old, new in SWAPS:
            for m in re.finditer(re.escape(old), code):
                k = m.start()
                if old in ("<<", ">>") and (code[k - 1:k] in "<>" or code[k + 2:k + 3] in "<>=" or
                                            code[k + 2:k + 3] != " "):
                    continue
                if old.strip() in ("<", ">", "&", "|", "-") and code[k + len(old):k + len(old) + 1] in "=<>&|":
                    continue
                if old in ("true", "false") and not re.match(r"\b" + old + r"\b", code[k:]) or \
                        old in ("true", "false") and k > 0 and (code[k - 1].isalnum() or code[k - 1] == "_"):
                    continue
                found.append((path, n, f"'{old.strip()}' -> '{new.strip()}' at col {k + 1}",
                              line[:k] + new + line[k + len(old):]))
        for m in NUMBER.finditer(code):
            digits = m.group(1)
            value = int(digits, 16) if digits.lower().startswith("0x") else int(digits)
            if code[:m.start()].rstrip().endswith("[") and "=" not in code:
                continue  # array bounds of declarations
            changed = 1 if value == 0 else (0 if value == 1 else value + 1)
            text_new = hex(changed) if digits.lower().startswith("0x") else str(changed)
            found.append((path, n, f"constant {digits} -> {text_new} at col {m.start() + 1}",
                          line[:m.start()] + text_new + line[m.start() + len(digits):]))
        if STATEMENT.match(code) and stripped.endswith(";") and "{" not in code and "}" not in code \
                and code.count("(") == code.count(")"):
            indent = line[:len(line) - len(line.lstrip())]
            found.append((path, n, "statement deleted", indent + ";"))
        for m in CONDITION.finditer(code):
            open_index = code.index("(", m.start())
            close = closing_paren(code, open_index)
            if close < 0:
                continue
            found.append((path, n, f"{m.group(1)} condition negated",
                          line[:open_index + 1] + "!(" + line[open_index + 1:close] + ")" + line[close:]))
    return found


def survivors_in(log):
    """(file, line number, fault without its column, faulty line) of each survivor a run printed."""
    with open(log) as f:
        lines = f.read().split("\n")
    start = lines.index("survivors:") + 1 if "survivors:" in lines else len(lines)
    wanted = []
    for head, faulty in zip(lines[start::2], lines[start + 1::2]):
        m = re.match(r"\s*([^:\s]+):(\d+): (.*?)( at col \d+)?$", head)
        if m:
            wanted.append((m.group(1), int(m.group(2)), m.group(3), faulty.strip()))
    return wanted


def product_files(source):
    files = []
    for layer in LAYERS:
        for name in sorted(os.listdir(os.path.join(source, layer))):
            if name.endswith(".cpp") and not name.endswith("_win32.cpp"):
                files.append(os.path.join(layer, name))
    return files


def run(cmd, cwd, timeout, env=None, log=None):
    """Runs cmd in a session of its own; returns (exit code or None on timeout, seconds)."""
    start = time.monotonic()
    with open(log or os.devnull, "w") as sink:
        proc = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=sink, stderr=subprocess.STDOUT,
                                start_new_session=True)
        try:
            code = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            code = None
    return code, time.monotonic() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, default=None, help="sample seed (default: random, printed)")
    parser.add_argument("--count", type=int, default=50, help="planted faults that compile (default 50)")
    parser.add_argument("--source", default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser.add_argument("--build", default=None, help="build directory (default SOURCE/build/mutate)")
    parser.add_argument("--list", action="store_true", help="print the sample without running it")
    parser.add_argument("--retest", metavar="LOG", default=None,
                        help="plant only the survivors listed in LOG (an earlier run's output), "
                             "found by file, fault and faulty line, so that moved lines still match")
    args = parser.parse_args()
    # A stopped run still puts the file back (the loop's finally runs on SystemExit).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))
    seed = args.seed if args.seed is not None else random.SystemRandom().randrange(1, 1 << 31)
    source = os.path.abspath(args.source)
    build = os.path.abspath(args.build or os.path.join(source, "build", "mutate"))
    print(f"seed {seed}, sources {source}, build {build}", flush=True)

    sites, lines_of = [], {}
    for rel in product_files(source):
        with open(os.path.join(source, rel)) as f:
            text = f.read()
        lines_of[rel] = text.split("\n")
        sites.extend(sites_of(rel, text))
    # Each site's place in the sample depends on the seed and the site alone (its file, its
    # line's text and the fault), so that changes elsewhere in the code leave it where it was.
    sites.sort(key=lambda site: hashlib.sha256(
        f"{seed}|{site[0]}|{lines_of[site[0]][site[1]].strip()}|{site[2]}".encode()).digest())
    print(f"{len(sites)} sites in {len(product_files(source))} files", flush=True)
    if args.retest:
        wanted = survivors_in(args.retest)
        chosen = []
        for path, number, what, faulty in wanted:
            same = [s for s in sites if (s[0], re.sub(r" at col \d+$", "", s[2]), s[3].strip()) ==
                    (path, what, faulty)]
            if same:  # a deleted statement leaves ";" only: the nearest line is the one
                chosen.append(min(same, key=lambda s: abs(s[1] + 1 - number)))
            else:
                print(f"  no longer in the code: {path}:{number}: {what}", flush=True)
        sites = chosen
        args.count = len(sites)
        print(f"retesting {len(sites)} of the {len(wanted)} survivors in {args.retest}", flush=True)
    if args.list:
        for path, n, what, _ in sites[:args.count]:
            print(f"{path}:{n + 1}: {what}")
        return 0

    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        code, _ = run(["cmake", "-S", source, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                       "-DSLIMWICK_TESTS=ON"], source, 600)
        if code != 0:
            sys.exit("configure failed")
    env = dict(os.environ, SLIMWICK_TEST_BIN=build, SLIMWICK_SOURCE_DIR=source)
    tests_dir = os.path.join(build, "tests")
    programs = [os.path.join(tests_dir, "test_" + b) for b in BINARIES] + \
        [os.path.join(build, "slimwick-cli"), os.path.join(build, "slimgrf")]

    def fingerprint():
        digest = hashlib.sha256()
        for program in programs:
            with open(program, "rb") as f:
                digest.update(f.read())
        return digest.hexdigest()

    build_cmd = ["cmake", "--build", build, "-j2", "--target"] + TARGETS

    # The test programs, then the script test CTest runs beside them (a merge past 4 GiB;
    # 77: skipped for want of room, as under CTest).
    commands = {b: [os.path.join(tests_dir, "test_" + b), "--gtest_fail_fast"] for b in BINARIES}
    commands["large-merge"] = ["bash", os.path.join(source, "tests", "e2e", "large_copy_test.sh"),
                               os.path.join(build, "slimgrf"), "merge"]

    def suite(first, limits):
        order = [first] + [b for b in commands if b != first]
        for b in order:
            code, _ = run(commands[b], tests_dir, limits[b], env)
            if code not in (0, 77):
                return f"{b} {'timed out' if code is None else 'failed'}"
        return None

    code, seconds = run(build_cmd, source, 1800, log=os.path.join(build, "mutate-build.log"))
    if code != 0:
        sys.exit(f"the unchanged sources do not build (see {build}/mutate-build.log)")
    limits = {}
    for b, command in commands.items():
        code, seconds = run(command, tests_dir, 600, env)
        if code not in (0, 77):
            sys.exit(f"{b} fails on the unchanged sources")
        limits[b] = max(60.0, 6 * seconds)  # generous: the machine may be busier later
    unchanged = fingerprint()
    print("baseline passes; time limits " + ", ".join(f"{b} {limits[b]:.0f}s" for b in commands), flush=True)

    caught, survivors, skipped, same, per_layer, timeouts = 0, [], 0, 0, {}, 0
    counted = 0
    started = time.monotonic()
    for path, n, what, new_line in sites:
        if counted >= args.count:
            break
        full = os.path.join(source, path)
        with open(full) as f:
            original = f.read()
        lines = original.split("\n")
        lines[n] = new_line
        try:
            with open(full, "w") as f:
                f.write("\n".join(lines))
            code, _ = run(build_cmd, source, 900)
            if code != 0:
                skipped += 1
                continue
            if fingerprint() == unchanged:
                same += 1
                print(f"[ --] same     {path}:{n + 1}: {what}: the programs built are the same", flush=True)
                continue
            layer = path.split("/")[0]
            verdict = suite({"grf": "grf", "engine": "engine", "support": "support"}[layer], limits)
        finally:
            with open(full, "w") as f:
                f.write(original)
        counted += 1
        got = per_layer.setdefault(layer, [0, 0])
        got[1] += 1
        if verdict:
            caught += 1
            timeouts += verdict.endswith("timed out")
            got[0] += 1
        else:
            survivors.append(f"{path}:{n + 1}: {what}\n      {new_line.strip()}")
        print(f"[{counted:3}] {'caught  ' if verdict else 'SURVIVED'} {path}:{n + 1}: {what}"
              f"{'  (' + verdict + ')' if verdict else ''}", flush=True)

    run(build_cmd, source, 1800)  # leave the build matching the sources
    minutes = (time.monotonic() - started) / 60
    print(f"\nseed {seed}: caught {caught} of {counted} ({caught / max(counted, 1):.2f}); "
          f"{skipped} did not compile; {same} built the same programs; {timeouts} caught by a time limit; "
          f"{minutes:.1f} min")
    for layer, (c, t) in sorted(per_layer.items()):
        print(f"  {layer}: {c} of {t}")
    if survivors:
        print("survivors:")
        for s in survivors:
            print("  " + s)
    return 0


if __name__ == "__main__":
    sys.exit(main())
