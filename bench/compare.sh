#!/usr/bin/env bash
# Our engine, host and open beside their peers, measured in one run on this
# machine, as one table: work, ours, peer, ratio, target, met. Exits 1 when a
# target is missed, 2 when it cannot run. Not part of scripts/test.
#   bench/compare.sh            (builds the default preset's benchmarks)
# Peers: fftwf (FFTW_MEASURE, in place), numpy (bench/numpy_getfft.py),
# our own serial FFmpeg decode loop and a plain pread of the file (bench_open).
# AAC decodes serially whatever the threads (see media/parallel_decode.cpp),
# so the M4A row on two threads shows the serial open against its target. HX_BENCH_OPEN_DIR keeps the
# generated 10-minute files between runs.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
[[ -x /usr/bin/ffmpeg ]] || need+=(ffmpeg)
/usr/bin/python3 -c 'import numpy' 2>/dev/null || need+=(python3-numpy)
pkg-config --exists fftw3f 2>/dev/null || need+=(libfftw3-dev)
if ((${#need[@]})); then
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  echo "Installing: ${need[*]}" >&2
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}" >&2
fi

cmake --preset default >/dev/null
cmake --build --preset default -j2 --target fft_vs_fftw bench_methods bench_open >/dev/null
bin=build/default/bench

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
echo "measuring the transform..." >&2
"$bin/fft_vs_fftw" >"$out/fft.txt"
# getFFT and numpy take turns, five rounds: each ratio is a median of the
# rounds' own ratios, so that a machine slowing down or speeding up between
# the two programs does not pass for a difference between them.
rounds=5
for round in $(seq "$rounds"); do
  echo "round $round of $rounds: getFFT and getSamples through our host, then numpy..." >&2
  "$bin/bench_methods" --benchmark_filter='BM_GetFFT|BM_GetSamples$' --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true --benchmark_format=json >"$out/methods.$round.json" 2>/dev/null
  /usr/bin/python3 bench/numpy_getfft.py >"$out/numpy.$round.txt"
done
"$bin/bench_methods" --benchmark_filter='BM_GetSamplesHuge' --benchmark_format=json \
  >"$out/huge.json" 2>/dev/null
echo "measuring open (10-minute WAV, MP3, M4A and FLAC), ours, the loop and the plain read interleaved..." >&2
"$bin/bench_open" --benchmark_filter='BM_ReaderOpen/|BM_DecodeLoop|BM_PlainRead' --benchmark_repetitions=5 \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
  --benchmark_format=json >"$out/open.json" 2>/dev/null

/usr/bin/python3 - "$out" "$rounds" <<'PY'
import json, sys
d = sys.argv[1]
rows = []  # work, ours, peer, ratio, target text, met

def row(work, ours, peer, unit, limit, absolute=False, ratio=None):
    if ratio is None:
        ratio = ours / peer if peer else float("nan")
    met = ours <= limit if absolute else ratio <= limit
    target = f"<= {limit:g} {unit}" if absolute else f"<= {limit:g}x"
    rows.append((work, f"{ours:.2f} {unit}", peer if peer is None else f"{peer:.2f} {unit}",
                 "-" if peer is None else f"{ratio:.2f}", target, met))

for line in open(f"{d}/fft.txt"):
    n, ours, fftw = line.split()
    row(f"complexFFT N={n} (fftwf)", float(ours), float(fftw), "us", 3)

def median(v):
    v = sorted(v)
    return v[len(v) // 2]

rounds = range(1, int(sys.argv[2]) + 1)
benches = [{b["run_name"]: b for b in json.load(open(f"{d}/methods.{r}.json"))["benchmarks"]
            if b.get("aggregate_name") == "median"} for r in rounds]
numpys = [{(int(m), int(t)): float(us) for m, t, us in (l.split() for l in open(f"{d}/numpy.{r}.txt"))}
          for r in rounds]
for t in (1, 8):
    for m in (256, 1024, 8192):
        ours = [b[f"BM_GetFFT/{m}/{t}"]["real_time"] for b in benches]
        peer = [n[(m, t)] for n in numpys]
        row(f"getFFT m={m} t={t} (numpy)", median(ours), median(peer), "us",
            0.2 if m <= 1024 else 0.5, ratio=median([o / p for o, p in zip(ours, peer)]))
samples = median([b["BM_GetSamples"]["real_time"] for b in benches])
rows.append(("getSamples 44,100 frames", f"{samples:.2f} us", "-", "-", "<= 300 us", samples <= 300))
huge = json.load(open(f"{d}/huge.json"))["benchmarks"][0]
rows.append(("getSamples of the longest list", f"{huge['real_time']:.0f} ms", "-", "-", "<= 500 ms",
             huge["real_time"] <= 500))
rows.append(("  its peak resident growth", f"{huge['peak_MB']:.0f} MB", "-", "-", "<= 600 MB",
             0 <= huge["peak_MB"] <= 600))
rows.append(("  per element (host + buffers)", f"{huge['bytes_per_element']:.1f} B", "-", "-",
             "<= 30 B", 0 <= huge["bytes_per_element"] <= 30))

opens = {b["run_name"]: b for b in json.load(open(f"{d}/open.json"))["benchmarks"]
         if b.get("aggregate_name") == "median"}
def open_run(kind, threads):  # threads: 0 for the serial path
    return opens[f"BM_ReaderOpen/{kind}/{threads}/iterations:3/real_time"]
def peer_run(name, kind):
    return opens[f"{name}/{kind}/iterations:3/real_time"]
def info(work, ms, peer_ms, note):
    rows.append((work, f"{ms:.2f} ms", f"{peer_ms:.2f} ms", f"{ms / peer_ms:.2f}", note, True))

pcm_mb = open_run("wav", 0)["pcm_MB"]
for kind in ("wav", "mp3", "m4a", "flac"):
    loop = peer_run("BM_DecodeLoop", kind)["real_time"]
    serial = open_run(kind, 0)["real_time"]
    row(f"open 10 min {kind.upper()} serial (decode loop)", serial, loop, "ms", 1.0)
    if kind == "wav":
        read = peer_run("BM_PlainRead", kind)["real_time"]
        row("open 10 min WAV direct (plain read)", open_run(kind, 2)["real_time"], read, "ms", 1.5)
    else:
        info(f"  {kind.upper()} on 1 thread (decode loop)", open_run(kind, 1)["real_time"], loop, "scaling")
        # The time of all threads, serial and on two: what free cores would make of it.
        info(f"  {kind.upper()} CPU of all threads, 2 vs serial", open_run(kind, 2)["cpu_ms"],
             open_run(kind, 0)["cpu_ms"], "cpu")
        row(f"open 10 min {kind.upper()} 2 threads (decode loop)", open_run(kind, 2)["real_time"], loop, "ms", 0.6)
    for threads, how in ((0, "serial"), (1, "1 thread"), (2, "2 threads")):
        if kind == "wav" and threads == 1:
            continue
        peak = open_run(kind, threads)["peak_MB"]
        limit = pcm_mb * 1.1 + 50
        rows.append((f"  {kind.upper()} {how if kind != 'wav' or threads == 0 else 'direct'} peak memory",
                     f"{peak:.1f} MB", f"PCM {pcm_mb:.1f} MB", "-", "<= PCM + 10% + 50 MB",
                     0 <= peak <= limit))

head = ("work", "ours", "peer", "ratio", "target", "met")
table = [head] + [(w, o, p or "-", r, t, "yes" if m else "NO") for w, o, p, r, t, m in rows]
widths = [max(len(str(r[i])) for r in table) for i in range(6)]
cpu = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), "?")
print(f"CPU: {cpu}")
for i, r in enumerate(table):
    print("| " + " | ".join(str(c).ljust(widths[k]) for k, c in enumerate(r)) + " |")
    if i == 0:
        print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
missed = [r[0] for r in rows if not r[5]]
print("all targets met" if not missed else f"targets missed: {len(missed)}")
sys.exit(1 if missed else 0)
PY
