#!/usr/bin/env bash
# The self-extractor's peak memory per compression method: one 24 MiB text
# entry, deflated (level 6), LZMA with a 16 MiB dictionary and Zstandard
# level 19 (an 8 MiB window), each packed into an installer of the Linux
# release build of sea and run in silent mode into a temporary folder. Prints
# each run's peak RSS; the budget is 24 MiB. The entries come from other
# tools (Python's lzma and zlib, the zstd program), not from sea-build.
#
#   bench/run_decoder_peak.sh             release build in build/native-release
#   SEA_BENCH_BUILD=build/x-release ...   another build directory
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${SEA_BENCH_BUILD:-build/native-release}
cmake --preset native-release -B "$build" >/dev/null
cmake --build "$build" -j 2 --target sea >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/sea-decoder-peak.XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 - "$root/$build/bin/sea" "$work" <<'PY'
import lzma, os, random, subprocess, sys
sys.path.insert(0, os.path.join(os.getcwd(), "tests", "e2e"))
from payload import build_installer, zip_bytes
stub, work = sys.argv[1], sys.argv[2]
random.seed(1)
words = [bytes(random.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(random.randint(2, 9)))
         for _ in range(5000)]
data = b" ".join(random.choice(words) for _ in range(4000000))[:24 << 20]
lzma1 = {"id": lzma.FILTER_LZMA1, "dict_size": 16 << 20, "lc": 3, "lp": 0, "pb": 2}
packed_lzma = (b"\x09\x14\x05\x00" + lzma._encode_filter_properties(lzma1) +
               lzma.compress(data, format=lzma.FORMAT_RAW, filters=[lzma1]))
packed_zstd = subprocess.run(["zstd", "-q", "-c", "-19"], input=data, check=True,
                             stdout=subprocess.PIPE).stdout
with open("/bin/true", "rb") as f:
    launcher = f.read()
for name, extra in (("deflate", {}), ("lzma", {"method": 14, "packed": packed_lzma, "flags": 0x080A}),
                    ("zstd", {"method": 93, "packed": packed_zstd})):
    build_installer(stub, os.path.join(work, name), zip_bytes(
        [("Windows/install.exe", launcher, {"external_attr": (0o100755 << 16) | 0x20}),
         ("big.txt", data, extra)]))
PY
for method in deflate lzma zstd; do
  mkdir "$work/t-$method"
  /usr/bin/time -f "$method: peak RSS %M KB, %e s, exit code %x" \
    "$work/$method" -i silent -tempdir "$work/t-$method" 2>&1 | tail -n 1
done
