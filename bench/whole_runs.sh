#!/usr/bin/env bash
# Whole runs of velmora-cli, timed by /usr/bin/time: the 10-proton COSY (every pair coupled,
# 64 runs), the 3-spin COSY of the examples with Ni 255 and np 1024 (512 runs, result files
# included) and the 10-proton 1D gradient pair at 128 slices, each on one thread and on every core.
#   bench/whole_runs.sh [BUILD_DIR]     (default: build)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cli="$(cd "${1:-$root/build}" && pwd)/velmora-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root"/examples/*.mol "$root"/examples/*.psq "$work"/

# Ten protons (and the first six of them) 0.3 ppm apart, J(i, j) = 1 + (3i + 5j) mod 15 Hz for every pair, T1 1000 ms, T2 100 ms.
for n in 6 10; do
python3 - "$work/h$n.mol" "$n" <<'PY'
import sys
n = int(sys.argv[2])
labels = ",".join(f"H{i}" for i in range(n)) + ","
shifts = ",".join(f"{-1.5 + 0.3 * i:g}" for i in range(n)) + ","
j = [[0 if a == b else 1 + (3 * min(a, b) + 5 * max(a, b)) % 15 for b in range(n)] for a in range(n)]
lines = [f"{n},14,{n},", labels, labels, shifts, ",".join(str(j[a][b]) for a in range(n) for b in range(n)) + ",",
         ",".join(["1000"] * n) + ",", ",".join(["100"] * n) + ",", "spare,", "spare,", "spare,"]
open(sys.argv[1], "w", newline="").write("\r\n".join(lines) + "\r\n")
PY
done

# A folder of its own for each run, with the molecules and sequences but no automatic copies: what
# one run remembers (rem.psq, rem.options: its slices, its strong-coupling switch) must not carry
# into the next.
freshFolder() {
    local fresh
    fresh=$(mktemp -d -p "$work")
    cp "$work"/*.mol "$work"/*.psq "$fresh"/
    rm -f "$fresh"/rem.*
    echo "$fresh"
}

# Each run on one thread and on every core; $peakKiB holds the last run's peak resident size.
measure() {
    local name=$1
    shift
    for threads in 1 0; do
        local option=()
        [ "$threads" -ne 0 ] && option=(--threads "$threads")
        /usr/bin/time -o "$work/time.txt" -f "%e s wall, %U s user, %M KiB peak" \
            "$cli" run --workdir "$(freshFolder)" --quiet "${option[@]}" "$@" >/dev/null
        echo "$name, threads ${threads/#0/all}: $(cat "$work/time.txt")"
        peakKiB=$(sed -E 's/.* ([0-9]+) KiB peak/\1/' "$work/time.txt")
        lastThreads=$threads
    done
}

# Without gradients a run holds at most three state rows per thread (8 MiB each at ten spins),
# the resume state, and records that keep no row: the operator record keeps about 400
# coefficients per run. Target on two cores: under 100 MB.
measure "10-proton COSY (64 runs)" --mol h10.mol --psq cosy.psq --2d
echo "  peak $peakKiB KiB (target under 102400 KiB)"
measure "3-spin COSY, Ni 255, np 1024 (512 runs)" --mol cosy.mol --psq cosy.psq --2d \
    --set 'Text14(11)=255' --set 'Text14(12)=1024'
measure "3-spin COSY, Ni 255, np 1024 (512 runs), map only" --mol cosy.mol --psq cosy.psq --2d \
    --set 'Text14(11)=255' --set 'Text14(12)=1024' --outputs map
measure "10-proton gradient pair, 128 slices (1D)" --mol h10.mol --psq gradient_echo.psq \
    --set 'Text14(11)=0' --set 'Text14(5)=127'

# The exact strong-coupling path (every pair of these protons coupled with the full scalar term):
# the first six in the COSY of the examples (64 runs), and all ten after one pulse.
measure "6-proton strongly coupled COSY (64 runs)" --mol h6.mol --psq cosy.psq --2d --set strong-coupling=1
measure "10-proton strongly coupled pulse-acquire" --mol h10.mol --psq pulse_acquire.psq --set strong-coupling=1

# The NumPy yardstick (bench/numpy_cosy.py) doing the same COSY work, timed here in the same way,
# and Velmora on every core as a fraction of it (targets: 10-proton COSY at least 30 times faster,
# the map-only 3-spin COSY at least 3 times).
if /usr/bin/python3 -c 'import numpy' 2>/dev/null; then
    yardstick() {
        local name=$1 velmoraSeconds=$2
        shift 2
        /usr/bin/time -o "$work/time.txt" -f "%e" /usr/bin/python3 "$root/bench/numpy_cosy.py" "$@" >/dev/null
        local seconds
        seconds=$(cat "$work/time.txt")
        echo "NumPy yardstick, $name: $seconds s wall; Velmora $velmoraSeconds s:" \
             "$(python3 -c "print(f'{$seconds / $velmoraSeconds:.1f}')") times faster"
    }
    wall() {
        /usr/bin/time -o "$work/time.txt" -f "%e" "$cli" run --workdir "$(freshFolder)" --quiet "$@" >/dev/null
        cat "$work/time.txt"
    }
    yardstick "10-proton COSY" "$(wall --mol h10.mol --psq cosy.psq --2d)" --spins 10 --ni 31 --np 256
    yardstick "3-spin COSY with its map" "$(wall --mol cosy.mol --psq cosy.psq --2d --set 'Text14(11)=255' \
        --set 'Text14(12)=1024' --outputs map)" --spins 3 --ni 255 --np 1024 --map "$work/numpy_map.tsv"
else
    echo "NumPy yardstick skipped: python3-numpy is not installed"
fi
