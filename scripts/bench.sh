#!/usr/bin/env bash
# Runs every benchmark and prints one table: each figure beside its reference measured in the same
# run, their ratio and the target. Figures go to build/bench/results.json; each benchmark's own
# output to build/bench/*.log. `--quick` is a short form (about 10 minutes on 2 busy cores); the
# full run about 20. Prints figures only; never fails on a time.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${NIMBREL_BUILD_DIR:-$top/build}"
out="$build/bench"

quick=0
for arg in "$@"; do
  case "$arg" in
    --quick) quick=1 ;;
    *) echo "usage: scripts/bench.sh [--quick]" >&2; exit 2 ;;
  esac
done

if (( quick )); then
  play_args=(--seconds 5 --runs 3 --capacity-seconds 10 --cycles 200)
  host_args=(--runs 3 --idle-seconds 3)
  client_args=(10000 --runs 3)
else
  play_args=(--seconds 20 --runs 3 --capacity-seconds 60 --cycles 1000)
  host_args=(--runs 5 --idle-seconds 10)
  client_args=(30000 --runs 5)
fi

for tool in ffmpeg jq; do
  command -v "$tool" >/dev/null || { echo "bench.sh: $tool is needed" >&2; exit 1; }
done
[[ -f "$build/build.ninja" ]] || cmake -S "$top" -B "$build" -G Ninja ${NIMBREL_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j "${NIMBREL_JOBS:-$(nproc)}" --target play_bench host_bench stream_client_bench >/dev/null
mkdir -p "$out"
rm -f "$out"/part-*.json

started="$(date -u '+%Y-%m-%d %H:%M UTC')"
machine="$(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo)"
echo "bench.sh: $started on $machine; load average $(cut -d' ' -f1-3 /proc/loadavg)"

run() {  # name, binary, args...: its output to $out/name.log, its figures to $out/part-name.json
  local name="$1"; shift
  echo "bench.sh: $name ... (log: $out/$name.log)"
  if ! "$@" --json "$out/part-$name.json" >"$out/$name.log" 2>&1; then
    echo "bench.sh: $name failed; see $out/$name.log" >&2
  fi
}
run host "$build/bench/host/host_bench" "${host_args[@]}"
run client "$build/bench/stream_client_bench" "${client_args[@]}"
run play "$build/bench/play/play_bench" "${play_args[@]}"

# One object: every benchmark's figures, then the keys the table and its readers expect (null
# when a benchmark did not measure them).
required=(cif16_cpu_ratio cif16_cpu_ratio_bgra hd2_h264_cpu_ratio hd2_h264_cpu_ratio_bgra hd2_h265_cpu_ratio cif_capacity_panes cif_capacity_ratio
  latency_p50_ms_16 latency_p99_ms_16 latency_p99_ms_64 idle_cpu_pct_nopage idle_cpu_pct_64panes rtt_p50_us
  rtt_p99_us commands_per_s echo_commands_per_s rss_mb_0 rss_mb_16 rss_mb_64 rss_growth_pct_1000cycles
  client_vs_socket_ratio)
keys_json="$(printf '%s\n' "${required[@]}" | jq -R . | jq -s .)"
shopt -s nullglob
parts=("$out"/part-*.json)
jq -s --argjson keys "$keys_json" --argjson quick "$quick" --argjson at "$(date -u +%s)" '
  (reduce .[] as $p ({}; . + $p)) as $all
  | (reduce $keys[] as $k ({}; . + {($k): ($all[$k] // null)})) + $all + {quick: $quick, unix_time: $at}
' "${parts[@]}" </dev/null >"$out/results.json"
missing="$(jq -r --argjson keys "$keys_json" '[$keys[] as $k | select(.[$k] == null) | $k] | join(" ")' "$out/results.json")"

# The table, from the JSON. Each row: figure, measured, reference, ratio, target.
jq -r '
  def n($d): if . == null then "-" else (. * pow(10; $d) | round / pow(10; $d) | tostring) end;
  def ratio($a; $b): if $a == null or $b == null or $b == 0 then "-" else ($a / $b | n(2)) end;
  def cpu($p; $name; $target):
    [$name, (.[$p + "_cpu_ms_per_frame"] | n(3)) + " ms",
     "ffmpeg -threads 1 decode " + (.[$p + "_ffmpeg_ms_per_frame"] | n(3)) + " ms", (.[$p + "_cpu_ratio"] | n(2)), $target],
    ["  beside decode+scale+BGRA", "", "ffmpeg -vf scale,format=bgra " + (.[$p + "_ffmpeg_scaled_ms_per_frame"] | n(3)) + " ms",
     (.[$p + "_cpu_ratio_vs_scaled"] | n(2)), ""];
  # The same panes with the pictures converted and scaled on the CPU (NIMBREL_VIDEO_YUV=0).
  def cpu_bgra($p):
    ["  the CPU converts (no YUV to the display)", (.[$p + "_cpu_ms_per_frame_bgra"] | n(3)) + " ms",
     "ffmpeg -threads 1 decode " + (.[$p + "_ffmpeg_ms_per_frame_bgra"] | n(3)) + " ms", (.[$p + "_cpu_ratio_bgra"] | n(2)), ""],
    ["    beside decode+scale+BGRA", "", "ffmpeg -vf scale,format=bgra " + (.[$p + "_ffmpeg_scaled_ms_per_frame_bgra"] | n(3)) + " ms",
     (.[$p + "_cpu_ratio_vs_scaled_bgra"] | n(2)), ""];
  (["figure", "measured", "reference (same run)", "ratio", "target"]),
  cpu("cif16"; "CPU/frame, 16 CIF H.264"; "<= 1.15"),
  cpu_bgra("cif16"),
  cpu("h264_16"; "CPU/frame, 16 640x360 H.264"; ""),
  cpu("hd2_h264"; "CPU/frame, 2 1080p H.264"; ""),
  cpu_bgra("hd2_h264"),
  cpu("hd2_h265"; "CPU/frame, 2 1080p H.265"; ""),
  ["CIF H.264 panes held " + (.capacity_seconds | n(0)) + " s", (.cif_capacity_panes | n(0)), "ffmpeg real-time streams " + (.cif_ffmpeg_realtime_streams | n(0)),
   (.cif_capacity_ratio | n(3)), "64 panes"],
  ["1080p H.264 panes held " + (.capacity_seconds | n(0)) + " s", (.hd_h264_capacity_panes | n(0)), "ffmpeg real-time streams " + (.hd_h264_ffmpeg_realtime_streams | n(0)),
   (.hd_h264_capacity_ratio | n(3)), ""],
  ["latency p50/p99, 16 panes", (.latency_p50_ms_16 | n(1)) + " / " + (.latency_p99_ms_16 | n(1)) + " ms", "frame interval 40 ms",
   ratio(.latency_p99_ms_16; 40), "p99 < 40 ms"],
  ["  the CPU converts", (.cif16_latency_p50_ms_bgra | n(1)) + " / " + (.cif16_latency_p99_ms_bgra | n(1)) + " ms", "frame interval 40 ms",
   ratio(.cif16_latency_p99_ms_bgra; 40), ""],
  ["latency p50/p99, 64 panes", (.latency_p50_ms_64 | n(1)) + " / " + (.latency_p99_ms_64 | n(1)) + " ms", "frame interval 40 ms",
   ratio(.latency_p99_ms_64; 40), ""],
  ["idle CPU, no page", (.idle_cpu_pct_nopage | n(3)) + " %", "nimbrelsvc process " + (.idle_cpu_pct_nopage_process | n(3)) + " %", "-", ""],
  ["idle CPU, 64 idle panes", (.idle_cpu_pct_64panes | n(3)) + " %", "-", "-", "< 0.5 %"],
  ["webconnect rtt p50", (.rtt_p50_us | n(1)) + " us", "WebSocket echo " + (.echo_rtt_p50_us | n(1)) + " us", ratio(.rtt_p50_us; .echo_rtt_p50_us), ""],
  ["webconnect rtt p99", (.rtt_p99_us | n(1)) + " us", "WebSocket echo " + (.echo_rtt_p99_us | n(1)) + " us", ratio(.rtt_p99_us; .echo_rtt_p99_us), ""],
  ["commands/s, 16 connections", (.commands_per_s | n(0)), "WebSocket echo " + (.echo_commands_per_s | n(0)), ratio(.commands_per_s; .echo_commands_per_s), ""],
  ["commands/s, 1 connection", (.commands_per_s_1conn | n(0)), "WebSocket echo " + (.echo_commands_per_s_1conn | n(0)), ratio(.commands_per_s_1conn; .echo_commands_per_s_1conn), ""],
  ["RSS 0 / 16 / 64 CIF panes", (.rss_mb_0 | n(1)) + " / " + (.rss_mb_16 | n(1)) + " / " + (.rss_mb_64 | n(1)) + " MiB",
   "bench harness alone " + (.harness_rss_mb | n(1)) + " MiB", "-", ""],
  ["RSS growth, " + (.rss_cycles_done | n(0)) + " start/stop cycles", (.rss_growth_pct_1000cycles | n(1)) + " %", "-", "-", "< 5 %"],
  ["stream client CPU/message", "StreamClient", "plain socket reader", (.client_vs_socket_ratio | n(2)), "~1"],
  ["  over TLS", "StreamClient", "plain socket reader", (.client_vs_socket_tls_ratio | n(2)), ""]
  | join("\t")
' "$out/results.json" | column -t -s $'\t'
echo
echo "$started, $machine$( (( quick )) && echo ', --quick')"
echo "figures: $out/results.json; logs: $out/*.log"
[[ -z "$missing" ]] || echo "not measured: $missing"
