"""The attacker of the link-race tests: run as an unprivileged user, it
keeps swapping the subdirectories of a folder it may write into with
symbolic links to a victim folder, as fast as it can, until a stop file
appears. Each name in turn is a directory with a file and a subdirectory
in it, then, renamed away, a link to the victim.

    link_swapper.py FOLDER VICTIM STOPFILE [MARKER]

With MARKER the folder is first made (mode 0755) with an empty file of
that name in it: a tree planted to look like one an interrupted run left.
"""
import os
import shutil
import sys

NAMES = ["d%d" % i for i in range(6)]


def make_dir(path):
    os.mkdir(path)
    os.mkdir(os.path.join(path, "inner"))
    with open(os.path.join(path, "f.txt"), "wb") as f:
        f.write(b"attacker")


def main():
    folder, victim, stop = sys.argv[1:4]
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
