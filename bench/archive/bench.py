#!/usr/bin/env python3
"""Times our archive component against the standard tools on one station-like tree.

    bench.py VZ_ARCHIVE [SIZE_MB]    (default 1024)

Builds the tree (make_tree.py) as C:\\Replicacao of a throw-away Wine-style
prefix, then in one run:
  - our Add (vz-archive add, 100 MB volumes, level 9) against
    Info-ZIP's `zip -9 -r -s 100m -n .mp3` of the same tree;
  - our Extract of our set against `7z x` of it;
and prints the ratios, the archive sizes and our peak memory. Everything it
writes is removed at the end. VZ_BENCH_DIR chooses where (default: /tmp).
"""
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
MB = 1024 * 1024


def run(args, cwd=None):
    """Runs a command; returns (seconds, peak resident MB) of that process."""
    # Dirty pages of the step before would otherwise be written out during this one.
    os.sync()
    start = time.monotonic()
    proc = subprocess.Popen(args, cwd=cwd, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: %s" % " ".join(args))
    return seconds, usage.ru_maxrss / 1024.0


def folder_bytes(folder, prefix):
    return sum(os.path.getsize(os.path.join(folder, f)) for f in os.listdir(folder) if f.startswith(prefix))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    tool = os.path.abspath(sys.argv[1])
    size_mb = int(sys.argv[2]) if len(sys.argv) > 2 else 1024
    with tempfile.TemporaryDirectory(prefix="vz-bench-archive.", dir=os.environ.get("VZ_BENCH_DIR")) as work:
        prefix = os.path.join(work, "prefix")
        drive = os.path.join(prefix, "drive_c")
        os.makedirs(os.path.join(prefix, "dosdevices"))
        os.symlink("../drive_c", os.path.join(prefix, "dosdevices", "c:"))
        tree = os.path.join(drive, "Replicacao")
        subprocess.run([sys.executable, os.path.join(HERE, "make_tree.py"), tree, str(size_mb)], check=True)
        files = sum(len(f) for _, _, f in os.walk(tree))
        tree_bytes = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(tree) for f in fs)
        ours = os.path.join(drive, "ours")
        infozip = os.path.join(drive, "infozip")
        os.makedirs(ours)
        os.makedirs(infozip)

        add_ours, add_mem = run([tool, "add", tree, os.path.join(ours, "1A2B.zip"), "--volume-kb", "102400",
                                 "--level", "9", "--prefix", prefix])
        add_zip, _ = run(["zip", "-q", "-9", "-r", "-s", "100m", "-n", ".mp3",
                          os.path.join(infozip, "1A2B.zip"), "Replicacao"], cwd=drive)
        size_ours = folder_bytes(ours, "1A2B.")
        size_zip = folder_bytes(infozip, "1A2B.")
        subprocess.run(["rm", "-rf", infozip], check=True)

        out_ours = os.path.join(drive, "x-ours")
        ext_ours, ext_mem = run([tool, "extract", os.path.join(ours, "1A2B.zip"), out_ours, "--prefix", prefix])
        same = subprocess.run(["diff", "-rq", tree, os.path.join(out_ours, "Replicacao")],
                              stdout=subprocess.DEVNULL).returncode == 0
        subprocess.run(["rm", "-rf", out_ours], check=True)
        out_7z = os.path.join(drive, "x-7z")
        ext_7z, _ = run(["7z", "x", "-y", "-o" + out_7z, os.path.join(ours, "1A2B.zip")])

        print("tree: %d files, %.1f MB; volume sets: %d (ours)"
              % (files, tree_bytes / MB, len([f for f in os.listdir(ours) if f.startswith("1A2B.")])))
        print("add:     ours %6.2f s   Info-ZIP %6.2f s   ratio %.2f  (goal <= 0.70)" % (add_ours, add_zip, add_ours / add_zip))
        print("size:    ours %8.1f MB  Info-ZIP %8.1f MB  ratio %.4f  (goal <= 1.0000)"
              % (size_ours / MB, size_zip / MB, size_ours / size_zip))
        print("extract: ours %6.2f s   7-Zip    %6.2f s   ratio %.2f  (goal <= 1.00)%s"
              % (ext_ours, ext_7z, ext_ours / ext_7z, "" if same else "  EXTRACTED TREE DIFFERS"))
        print("peak memory (ours): add %.0f MB, extract %.0f MB  (goal < 200 MB)" % (add_mem, ext_mem))
        if not same:
            sys.exit(1)


if __name__ == "__main__":
    main()
