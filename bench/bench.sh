#!/usr/bin/env bash
# Throughput and read counts of the filter, measured through the flvdmx tool.
# A benchmark, not a test: nothing here passes or fails on a time.
#
#   bench/bench.sh [--rounds N] [--seeks N] [--dir DIR] [--baseline FLVDMX]
#                  [--wine MINGW_BUILD]
#
# Makes, once (kept in DIR, default build/bench):
#   hour.flv       one hour of 320x240 H.264 (25 frames/s) + AAC (44.1 kHz)
#                  without metadata, about 245,000 samples in 170 MB: the
#                  many-sample file, whose duration comes from the file's tail
#   big.flv        >= 1 GB of H.264 + AAC (a 720p clip encoded once, then
#                  repeated with stream copy until the file passes 1 GB)
# Then, for each file, in the same run, N rounds each (default 3; the rounds
# interleave the tools), prints the median wall time, the median CPU time
# (user + system) and the peak memory of
#   flvdmx packets F --quiet              every sample through the pins
#   FLVDMX packets F --quiet              (--baseline: another build of the
#                                         tool, e.g. one from before a change)
#   ffmpeg -i F -map 0 -c copy -f null -
#   gst-launch-1.0 filesrc ! flvdemux ! queue ! fakesink, one sink per pad
#                                         (when gst-launch-1.0 and its
#                                         flvdemux are installed)
#   cat F > /dev/null                     reading the bytes, nothing more
# and the reads the filter made through the file reader (`--stats`): to open
# the file (the scan, as `probe` does it), per sample while playing, and per
# seek over N random seeks (default 100; `packets --start T --count 1`).
# --wine: the same read counts again through flvdmx.exe of that mingw build
# under Wine, with the platform's file source and graph (the build's Wine
# prefix, as the test command's Wine stage leaves it; the DLL is registered
# for the run and unregistered after).
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=3
seeks=100
dir=build/bench
baseline=
wine_build=
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --seeks) seeks=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    --baseline) baseline=$2; shift 2 ;;
    --wine) wine_build=$(cd "$2" && pwd); shift 2 ;;
    *) echo "usage: bench/bench.sh [--rounds N] [--seeks N] [--dir DIR] [--baseline FLVDMX]" \
         "[--wine MINGW_BUILD]" >&2
       exit 2 ;;
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

# One minute of 320x240 at 25 frames/s and 44.1 kHz AAC (43 frames/s), looped
# to an hour: 90,000 video and 155,100 audio samples.
make hourclip.flv -f lavfi -i testsrc2=size=320x240:rate=25:duration=60 \
  -f lavfi -i sine=frequency=440:sample_rate=44100:duration=60 \
  -c:v libx264 -preset ultrafast -b:v 300k -maxrate 300k -bufsize 600k -g 50 -pix_fmt yuv420p \
  -c:a aac -b:a 64k
make hour.flv -stream_loop 59 -i "$dir/hourclip.flv" -map 0 -c copy -flvflags no_metadata

# 20 s of 720p at a high bit rate, then as many copies as make 1 GB.
make clip.flv -f lavfi -i testsrc2=size=1280x720:rate=25:duration=20 \
  -f lavfi -i sine=frequency=440:sample_rate=44100:duration=20 \
  -c:v libx264 -preset ultrafast -b:v 40M -maxrate 40M -bufsize 20M -g 50 -pix_fmt yuv420p \
  -c:a aac -b:a 128k
clip_bytes=$(stat -c %s "$dir/clip.flv")
loops=$(( (1100000000 + clip_bytes - 1) / clip_bytes ))
make big.flv -stream_loop "$loops" -i "$dir/clip.flv" -map 0 -c copy

wine=
if [ -n "$wine_build" ]; then
  wine=$(command -v wine || command -v wine64 || echo /usr/lib/wine/wine64)
  export WINEPREFIX=$wine_build/wineprefix WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv=d"
  unset DISPLAY WAYLAND_DISPLAY
  if [ ! -d "$WINEPREFIX" ]; then
    echo "no Wine prefix in $wine_build: run the test command's Wine stage once" >&2
    exit 1
  fi
  dll="Z:$(echo "$wine_build/src/module/OXFLVDmxx.dll" | tr / '\\')"
  "$wine" regsvr32 /s "$dll"
  trap '"$wine" regsvr32 /s /u "$dll" || true' EXIT
fi

python3 - "$flvdmx" "$dir" "$rounds" "$seeks" "$baseline" "$wine" "$wine_build" <<'EOF'
import os, random, re, shutil, statistics, subprocess, sys, time

flvdmx, folder, rounds, seeks, baseline, wine, wine_build = sys.argv[1:8]
rounds, seeks = int(rounds), int(seeks)

def gst_available():
    if shutil.which("gst-launch-1.0") is None or shutil.which("gst-inspect-1.0") is None:
        return False
    return subprocess.run(["gst-inspect-1.0", "flvdemux"], capture_output=True).returncode == 0

def run(cmd):
    """Wall time, stdout and stderr of one run; a failure ends the bench."""
    start = time.perf_counter()
    proc = subprocess.run(cmd, capture_output=True)
    elapsed = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit(f"failed ({proc.returncode}): {cmd}\n{proc.stderr.decode(errors='replace')}")
    return elapsed, proc.stdout.decode(errors="replace"), proc.stderr.decode(errors="replace")

def once(argv):
    """Wall time, CPU time (user + system, the child's own resource usage)
    and peak resident memory (KiB) of one run. The peak is the process's own
    high-water mark, read from /proc while it runs: the child's ru_maxrss
    would count this script's memory from before the exec."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = 0
    while True:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid != 0:
            break
        try:
            with open(f"/proc/{proc.pid}/status") as lines:
                for line in lines:
                    if line.startswith("VmHWM:"):
                        peak = max(peak, int(line.split()[1]))
        except OSError:
            pass
        time.sleep(0.002)
    wall = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit(f"failed ({proc.returncode}): {argv}")
    return wall, usage.ru_utime + usage.ru_stime, peak

OURS, BASE, FFMPEG, GST, CAT = ("flvdmx packets --quiet", "baseline flvdmx",
                                "ffmpeg -c copy -f null", "gst flvdemux, fakesink per pad",
                                "cat > /dev/null")

def peers(path):
    tools = [(OURS, [flvdmx, "packets", path, "--quiet"])]
    if baseline:
        tools.append((BASE, [baseline, "packets", path, "--quiet"]))
    tools.append((FFMPEG, ["ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-i", path,
                           "-map", "0", "-c", "copy", "-f", "null", "-"]))
    if gst_available():
        tools.append((GST, ["gst-launch-1.0", "-q", "filesrc", f"location={path}", "!",
                            "flvdemux", "name=d", "d.video", "!", "queue", "!", "fakesink",
                            "d.audio", "!", "queue", "!", "fakesink"]))
    tools.append((CAT, ["cat", path]))
    return tools

def timings(path):
    tools = peers(path)
    runs = {label: [] for label, _ in tools}
    # Each round runs every tool once, so a change in the machine's load
    # touches all of them alike.
    for _ in range(rounds):
        for label, argv in tools:
            runs[label].append(once(argv))
    size = os.path.getsize(path)
    print(f"{os.path.basename(path)}: {size / 1e6:.0f} MB; {rounds} rounds, medians")
    rows = {}
    for label, results in runs.items():
        wall = statistics.median(r[0] for r in results)
        cpu = statistics.median(r[1] for r in results)
        peak = max(r[2] for r in results)
        rows[label] = (wall, cpu, peak)
        print(f"  {label:32s} wall {wall:7.3f} s  cpu {cpu:7.3f} s  {size / 1e6 / wall:6.0f} MB/s"
              f"  peak {peak / 1024:6.1f} MiB")
    ours, ffmpeg, cat = rows[OURS], rows[FFMPEG], rows[CAT]
    print(f"  flvdmx / ffmpeg: wall {ours[0] / ffmpeg[0]:.2f}, cpu {ours[1] / ffmpeg[1]:.2f};"
          f" flvdmx's speed / cat's: {cat[0] / ours[0]:.2f}")
    if baseline:
        print(f"  peak memory against the baseline: {(ours[2] - rows[BASE][2]) / 1024:+.1f} MiB")

def stats(err):
    m = re.search(r"scan_reads=(\d+) scan_bytes=(\d+) reads=(\d+) bytes=(\d+)", err)
    if m is None:
        sys.exit(f"no read counts in: {err}")
    return tuple(int(g) for g in m.groups())

def read_counts(path, tool=None, arg=None):
    tool, arg = tool or [flvdmx], arg or path
    _, out, err = run(tool + ["packets", arg, "--quiet", "--stats"])
    scan_reads, _, reads, volume = stats(err)
    samples = sum(int(n) for n in re.findall(r"(\d+) samples", out))
    print(f"  reads to open (the scan): {scan_reads}; playing: {reads} for {samples} samples"
          f" = {reads / samples:.4f} per sample ({volume / 1e6:.0f} MB read)")

def seek_counts(path, tool=None, arg=None):
    tool, arg = tool or [flvdmx], arg or path
    _, out, _ = run([flvdmx, "probe", path, "--json"])
    duration_ms = int(re.search(r'"duration":(\d+)', out).group(1)) // 10000
    rng = random.Random(duration_ms)
    reads, volumes = [], []
    for _ in range(seeks):
        target = rng.randrange(0, duration_ms)
        _, _, err = run(tool + ["packets", arg, "--start", str(target), "--count", "1",
                                "--quiet", "--stats"])
        _, _, r, volume = stats(err)
        reads.append(r)
        volumes.append(volume)
    print(f"  {seeks} random seeks, reads per seek (both pins, one sample each, the scan"
          f" not counted): median {statistics.median(reads):.0f}, max {max(reads)};"
          f" bytes median {statistics.median(volumes) / 1024:.0f} KiB")

print(f"load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores")
if not gst_available():
    print("no gst-launch-1.0 with flvdemux installed: no GStreamer figures")
for name in ("hour.flv", "big.flv"):
    path = os.path.join(folder, name)
    timings(path)
    read_counts(path)
    seek_counts(path)
    if wine:
        # The platform's source reads through Windows paths.
        exe = [wine, os.path.join(wine_build, "tools", "flvdmx", "flvdmx.exe")]
        win_path = "Z:" + os.path.abspath(path).replace("/", "\\")
        print("  under Wine (flvdmx.exe, the platform's file source and graph):")
        read_counts(path, exe, win_path)
        seek_counts(path, exe, win_path)
EOF
