#!/usr/bin/env python3
"""make_extract_payload.py OUT.zip
make_extract_payload.py --tree DIR

The extraction benchmark's payload: the regular files of the JDK trees under
/usr/lib/jvm until at least 320 MB, plus 300 small text files from
/usr/lib/python3*, deflated at level 6 by Info-ZIP zip. Without a JDK the
bulk is generated: 480 files of mixed text and binary data. With --tree, the
same files under the same names are copied into DIR instead (the tree that
bench/run_method_bench.sh packs with each method).
"""
import glob
import os
import random
import shutil
import subprocess
import sys
import tempfile

TARGET_BYTES = 320 * 1000 * 1000


def regular_files(root):
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames.sort()
        for n in sorted(filenames):
            p = os.path.join(dirpath, n)
            if os.path.isfile(p) and not os.path.islink(p):
                yield p


def jdk_files():
    chosen, total, seen = [], 0, set()
    for root in sorted(glob.glob("/usr/lib/jvm/*")):
        real = os.path.realpath(root)
        if real in seen or not os.path.isdir(real) or os.path.islink(root):
            continue
        seen.add(real)
        for p in regular_files(root):
            chosen.append(p)
            total += os.path.getsize(p)
            if total >= TARGET_BYTES:
                return chosen, total
    return chosen, total


def python_files(limit=300):
    found = []
    for root in sorted(glob.glob("/usr/lib/python3*")):
        for p in regular_files(root):
            if p.endswith(".py") and os.path.getsize(p) < 40000:
                found.append(p)
                if len(found) == limit:
                    return found
    return found


def generated(stage):
    rng = random.Random(7)
    words = [b"alpha", b"install", b"java", b"class", b"module", b"\n", b"{", b"}"]
    paths, total, i = [], 0, 0
    while total < TARGET_BYTES or len(paths) < 480:
        size = rng.choice([2000, 40000, 700000, 2500000])
        if i % 3 == 0:
            data = bytes(rng.getrandbits(8) for _ in range(size // 8)) * 8
        else:
            data = b" ".join(rng.choice(words) for _ in range(size // 5))[:size]
        p = os.path.join(stage, "gen/d%02d/file%04d.bin" % (i % 40, i))
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(data)
        paths.append(p)
        total += len(data)
        i += 1
    return paths


def copy_tree(groups, target):
    for base, names in groups.items():
        for name in names:
            dest = os.path.join(target, name)
            os.makedirs(os.path.dirname(dest), exist_ok=True)
            shutil.copy2(os.path.join(base, name), dest)


def main():
    tree = sys.argv[2] if sys.argv[1] == "--tree" else None
    out = os.path.abspath(tree or sys.argv[1])
    files, total = jdk_files()
    stage = None
    if total < TARGET_BYTES:
        stage = tempfile.mkdtemp(prefix="payload_", dir=os.path.dirname(out))
        files = generated(stage)
    files += python_files()
    if os.path.exists(out) and not tree:
        os.remove(out)
    # Names relative to / (or to the staging directory), one per line.
    groups = {}
    for p in files:
        base = stage if stage and p.startswith(stage) else "/"
        groups.setdefault(base, []).append(os.path.relpath(p, base))
    if tree:
        copy_tree(groups, out)
    else:
        for base, names in groups.items():
            subprocess.run(["zip", "-q", "-6", out, "-@"], cwd=base, check=True,
                           input="\n".join(names).encode())
    if stage:
        shutil.rmtree(stage)
    size = sum(os.path.getsize(p) for p in files) if not stage else None
    print("payload: %s, %d entries%s" % (out, len(files),
                                         ", %.1f MB uncompressed" % (size / 1e6) if size else ""))


if __name__ == "__main__":
    main()
