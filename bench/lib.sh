# Shared by the bench scripts: time whole commands with hyperfine and print
# the ratio dorvane time / tool time.
#   source bench/lib.sh; bench_setup; compare LABEL 'dorvane command' 'tool command'
# Commands are split into words as a shell would (a word starting with "#" is
# a comment), so quote the token form: "$DORVANE '#P(out)#F(file)'".
# Needs hyperfine (Debian package hyperfine) and a built build/dorvane.
set -euo pipefail

BENCH_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
DORVANE=${DORVANE:-$BENCH_ROOT/build/dorvane}
BENCH_RUNS=${BENCH_RUNS:-5}

bench_setup() {
  command -v hyperfine >/dev/null || { echo "bench: hyperfine is not installed" >&2; exit 1; }
  [ -x "$DORVANE" ] || { echo "bench: build $DORVANE first" >&2; exit 1; }
  BENCH_DIR=${BENCH_DIR:-$(mktemp -d /tmp/dorvane-bench.XXXXXX)}
  export DORVANE_REGISTRY="$BENCH_DIR/registry.reg"
  echo "bench: work folder $BENCH_DIR"
}

# Runs a command with hyperfine, each run preceded by `prepare` (for example
# emptying the output folder), and prints the named result fields.
hyperfine_fields() {
  local prepare=$1 command=$2 fields=$3 json
  json=$(mktemp)
  hyperfine -N --style none --warmup 1 --runs "$BENCH_RUNS" --prepare "$prepare" \
    --export-json "$json" "$command" >/dev/null 2>&1 ||
    hyperfine --style none --warmup 1 --runs "$BENCH_RUNS" --prepare "$prepare" \
      --export-json "$json" "$command" >/dev/null
  python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"][0]; print(*(r[f] for f in sys.argv[2].split()))' \
    "$json" "$fields"
  rm -f "$json"
}

# Median wall seconds of a command.
median_seconds() { hyperfine_fields "$1" "$2" median; }

# Wall time (median) and user CPU time (mean) of each side: on a shared
# machine the wall times are noisy, the CPU times less so.
# compare_with_cpu LABEL PREPARE DORVANE_COMMAND TOOL_COMMAND
compare_with_cpu() {
  local label=$1 prepare=$2 ours=$3 theirs=$4 a b
  a=$(hyperfine_fields "$prepare" "$ours" "median user")
  b=$(hyperfine_fields "$prepare" "$theirs" "median user")
  python3 -c 'import sys; a=list(map(float,sys.argv[2].split())); b=list(map(float,sys.argv[3].split())); print(f"{sys.argv[1]:<32} wall {a[0]:6.3f}s / {b[0]:6.3f}s ratio {a[0]/b[0]:5.2f}   user {a[1]:6.3f}s / {b[1]:6.3f}s ratio {a[1]/b[1]:5.2f}")' \
    "$label" "$a" "$b"
}

# compare LABEL PREPARE DORVANE_COMMAND TOOL_COMMAND
compare() {
  local label=$1 prepare=$2 ours=$3 theirs=$4 a b
  a=$(median_seconds "$prepare" "$ours")
  b=$(median_seconds "$prepare" "$theirs")
  python3 -c 'import sys; a,b=float(sys.argv[2]),float(sys.argv[3]); print(f"{sys.argv[1]:<40} dorvane {a:8.3f}s  tool {b:8.3f}s  ratio {a/b:5.2f}")' \
    "$label" "$a" "$b"
}

# Mixed text and binary data of about N MiB, deterministic.
make_mixed_data() {
  local out=$1 mib=$2
  python3 - "$out" "$mib" <<'PY'
import random, sys
out, mib = sys.argv[1], int(sys.argv[2])
rng = random.Random(1234)
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(4000)]
with open(out, "wb") as f:
    written = 0
    while written < mib << 20:
        if rng.random() < 0.6:
            chunk = b" ".join(rng.choice(words) for _ in range(20000)) + b"\n"
        else:
            base = bytes(rng.getrandbits(8) for _ in range(4096))
            chunk = b"".join(base[: rng.randint(256, 4096)] if rng.random() < 0.5 else bytes(rng.getrandbits(8) for _ in range(512)) for _ in range(64))
        f.write(chunk)
        written += len(chunk)
PY
}

# Peak resident memory in MiB of one run of a command (after `prepare`),
# through GNU time; the command runs under sh, so it may redirect.
peak_mib() {
  local prepare=$1 command=$2 kib
  sh -c "$prepare" >/dev/null 2>&1 || true
  kib=$(/usr/bin/time -f %M sh -c "exec $command" 2>&1 >/dev/null | tail -n 1)
  python3 -c 'import sys; print(f"{int(sys.argv[1]) / 1024:.1f}")' "$kib"
}

# compare_fastest LABEL PREPARE DORVANE_COMMAND "NAME=COMMAND"...
# Median wall time and peak memory of dorvane and of each tool, dorvane's
# ratio to each tool and to the fastest of them. Tool commands run under sh
# for the memory figure and as hyperfine runs them for the time.
compare_fastest() {
  local label=$1 prepare=$2 ours=$3 tool name cmd rows=()
  shift 3
  rows+=("dorvane|$(median_seconds "$prepare" "$ours")|$(peak_mib "$prepare" "$ours")")
  for tool in "$@"; do
    name=${tool%%=*}
    cmd=${tool#*=}
    rows+=("$name|$(median_seconds "$prepare" "$cmd")|$(peak_mib "$prepare" "$cmd")")
  done
  python3 - "$label" "${rows[@]}" <<'PY'
import sys
label, rows = sys.argv[1], [r.split("|") for r in sys.argv[2:]]
ours_t = float(rows[0][1])
print(f"{label}: dorvane {ours_t:.3f}s, peak {rows[0][2]} MiB")
for name, t, m in rows[1:]:
    print(f"  {name:<24} {float(t):7.3f}s  peak {m:>6} MiB  ratio {ours_t / float(t):5.2f}")
best = min(rows[1:], key=lambda r: float(r[1]))
print(f"  ratio against the fastest ({best[0]}): {ours_t / float(best[1]):5.2f}")
PY
}
