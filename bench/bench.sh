#!/usr/bin/env bash
# Throughput and seek cost of the filter, measured through the flvdmx tool.
#
#   bench/bench.sh [--rounds N] [--seeks N] [--dir DIR]
#
# Makes, once (kept in DIR, default build/bench):
#   big.flv        >= 1 GB of H.264 + AAC (a 720p clip encoded once, then
#                  repeated with stream copy until the file passes 1 GB)
#   hour.flv       one hour of small H.264 + AAC without metadata, so the
#                  duration comes from the file's tail
# Then times, N rounds each (default 3), and prints medians and ratios:
#   flvdmx packets big.flv --quiet        every sample through the pins
#   ffmpeg -i big.flv -map 0 -c copy -f null -
#   cat big.flv > /dev/null               reading the bytes, nothing more
# with flvdmx's peak memory; then `flvdmx probe hour.flv` and N random seeks
# (default 100) on each file (`packets --start T --count 1 --stats`), with the
# reads and bytes read per seek.
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=3
seeks=100
dir=build/bench
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --seeks) seeks=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    *) echo "usage: bench/bench.sh [--rounds N] [--seeks N] [--dir DIR]" >&2; exit 2 ;;
  esac
done

scripts/deps.sh build test
# A release build of the tool alone, in a folder of its own. JOBS limits the
# compile jobs (default: one per core).
cmake -S . -B build/bench-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DFLVDMX_TESTS=OFF >/dev/null
cmake --build build/bench-release --target flvdmx -j "${JOBS:-$(nproc)}" >/dev/null
flvdmx=$PWD/build/bench-release/tools/flvdmx/flvdmx
mkdir -p "$dir"

quiet=(-hide_banner -loglevel error -nostdin -y)

# make NAME ffmpeg-arguments... : DIR/NAME unless it is there, through a
# temporary name so that an interrupted run leaves no half file.
make() {
  local name=$1
  shift
  [ -s "$dir/$name" ] && return 0
  echo "making $dir/$name ..." >&2
  ffmpeg "${quiet[@]}" "$@" -f flv "$dir/.$name.tmp"
  mv -f "$dir/.$name.tmp" "$dir/$name"
}

# 20 s of 720p at a high bit rate, then as many copies as make 1 GB.
make clip.flv -f lavfi -i testsrc2=size=1280x720:rate=25:duration=20 \
  -f lavfi -i sine=frequency=440:sample_rate=44100:duration=20 \
  -c:v libx264 -preset ultrafast -b:v 40M -maxrate 40M -bufsize 20M -g 50 -pix_fmt yuv420p \
  -c:a aac -b:a 128k
clip_bytes=$(stat -c %s "$dir/clip.flv")
loops=$(( (1100000000 + clip_bytes - 1) / clip_bytes ))
make big.flv -stream_loop "$loops" -i "$dir/clip.flv" -map 0 -c copy
make hourclip.flv -f lavfi -i testsrc2=size=160x120:rate=10:duration=60 \
  -f lavfi -i sine=frequency=440:sample_rate=22050:duration=60 \
  -c:v libx264 -preset ultrafast -g 50 -pix_fmt yuv420p -c:a aac -b:a 32k -ac 1
make hour.flv -stream_loop 59 -i "$dir/hourclip.flv" -map 0 -c copy -flvflags no_metadata

python3 - "$flvdmx" "$dir" "$rounds" "$seeks" <<'EOF'
import os, random, re, statistics, subprocess, sys, time

flvdmx, folder, rounds, seeks = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
big = os.path.join(folder, "big.flv")
hour = os.path.join(folder, "hour.flv")

def run(cmd):
    """Wall time and output of one run of the tool."""
    start = time.perf_counter()
    proc = subprocess.run(cmd, capture_output=True)
    elapsed = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit(f"failed ({proc.returncode}): {cmd}\n{proc.stderr.decode(errors='replace')}")
    return elapsed, proc.stdout, proc.stderr

def timed(label, argv):
    """Median wall time and peak resident memory (KiB) of `rounds` runs. The
    peak is the process's own high-water mark, read from /proc while it runs
    (the children's rusage would count this script's memory from the fork)."""
    times, peaks = [], []
    for _ in range(rounds):
        start = time.perf_counter()
        proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        peak = 0
        while proc.poll() is None:
            try:
                with open(f"/proc/{proc.pid}/status") as status:
                    for line in status:
                        if line.startswith("VmHWM:"):
                            peak = max(peak, int(line.split()[1]))
            except OSError:
                pass
            time.sleep(0.002)
        times.append(time.perf_counter() - start)
        if proc.returncode != 0:
            sys.exit(f"failed ({proc.returncode}): {argv}")
        peaks.append(peak)
    return label, statistics.median(times), max(peaks)

size = os.path.getsize(big)
print(f"big.flv: {size / 1e9:.2f} GB; {rounds} rounds each, medians")
results = [
    timed("flvdmx packets --quiet", [flvdmx, "packets", big, "--quiet"]),
    timed("ffmpeg -c copy -f null",
          ["ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-i", big, "-map", "0",
           "-c", "copy", "-f", "null", "-"]),
    timed("cat > /dev/null", ["cat", big]),
]
base = results[0][1]
for label, median, peak in results:
    print(f"  {label:28s} {median:8.3f} s  {size / 1e6 / median:8.1f} MB/s  "
          f"{median / base:5.2f} x flvdmx's time  peak {peak / 1024:7.1f} MiB")

elapsed, out, _ = run([flvdmx, "probe", hour])
print(f"probe hour.flv (no metadata): {elapsed:.3f} s: {out.decode().splitlines()[0]}")

def seek_costs(path, duration_ms):
    rng = random.Random(duration_ms)
    reads, volumes, times = [], [], []
    for _ in range(seeks):
        target = rng.randrange(0, duration_ms)
        elapsed, _, err = run([flvdmx, "packets", path, "--start", str(target), "--count", "1",
                               "--quiet", "--stats"])
        m = re.search(r"reads=(\d+) bytes=(\d+)", err.decode())
        reads.append(int(m.group(1)))
        volumes.append(int(m.group(2)))
        times.append(elapsed)
    return reads, volumes, times

for path in (hour, big):
    _, out, _ = run([flvdmx, "probe", path, "--json"])
    duration_ms = int(re.search(rb'"duration":(\d+)', out).group(1)) // 10000
    reads, volumes, times = seek_costs(path, duration_ms)
    print(f"{seeks} random seeks on {os.path.basename(path)} ({duration_ms / 60000:.0f} min), "
          f"per seek (both pins, one sample each):")
    print(f"  reads  median {statistics.median(reads):8.0f}  max {max(reads):8d}")
    print(f"  bytes  median {statistics.median(volumes):8.0f}  max {max(volumes):8d}")
    print(f"  time   median {statistics.median(times) * 1000:8.1f} ms (whole run, process start included)")
EOF
