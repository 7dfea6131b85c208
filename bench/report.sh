#!/usr/bin/env bash
# Builds the benchmarks if needed, runs every one of them under a headless display and sound
# server, and prints one table of their headline figures.
#
#   bash bench/report.sh [--quick]
#
# BUILD_DIR picks the build folder (default build/). Each benchmark's full output is kept in
# <build>/bench-report/<name>.log. --quick shortens the recording rounds and the event rounds (the
# sixteen-slot recordings to 150 s with a split every minute, from 10 minutes split every 2).
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
quick=0
case "${1:-}" in
--quick) quick=1 ;;
"") ;;
*) echo "usage: bash bench/report.sh [--quick]" >&2; exit 2 ;;
esac

benches=(bench_ndi bench_recording bench_recording_processes bench_render bench_audio bench_tcpapi
    bench_httpapi bench_window bench_slots bench_soak bench_sixteen)
# BENCH_ONLY="bench_a bench_b" runs just those; the table shows "-" for the rest.
if [ -n "${BENCH_ONLY:-}" ]; then
    read -r -a benches <<<"$BENCH_ONLY"
fi

if [ ! -f "$build/build.ninja" ]; then
    BUILD_DIR=$build bash "$top/scripts/build.sh" || exit 1
fi
# Only the benchmarks and what they run; the rest of a configured folder is left as it is.
cmake --build "$build" --target "${benches[@]}" -- -j"$(nproc)" >"$build/bench-build.log" 2>&1 || {
    tail -n 30 "$build/bench-build.log" >&2
    exit 1
}

out=$build/bench-report
mkdir -p "$out"
results=$out/results.txt
: >"$results"
rm -f "$out/failed.txt"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/bench-report-XXXXXX")
state=$scratch/env

cleanup() {
    bash "$top/tests/env/stop.sh" "$state" >/dev/null 2>&1
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

bash "$top/tests/env/start.sh" "$state" >/dev/null 2>"$out/env.log"
set -a
# shellcheck disable=SC1091
. "$state/env"
set +a

if [ "$quick" = 1 ]; then
    recording_args=("$scratch" 2)
    programs_args=("$scratch" 3 4)
    export BENCH_EVENT_ROUNDS=15
    export BENCH_SIXTEEN_SECONDS=150 BENCH_SIXTEEN_SPLIT_MINUTES=1
else
    recording_args=("$scratch" 6)
    programs_args=("$scratch" 8 16)
    export BENCH_EVENT_ROUNDS=40
    export BENCH_SIXTEEN_SECONDS=600 BENCH_SIXTEEN_SPLIT_MINUTES=2
fi

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date +%s)
for bench in "${benches[@]}"; do
    args=()
    limit=300
    case $bench in
    bench_sixteen)
        # The raw round saturates the machine: start-up, stop and the file checks slow down a lot.
        limit=$((4 * BENCH_SIXTEEN_SECONDS + 1500))
        export QTEST_FUNCTION_TIMEOUT=$(((2 * BENCH_SIXTEEN_SECONDS + 600) * 1000))
        ;;
    bench_recording) args=("${recording_args[@]}") ;;
    bench_recording_processes) args=("${programs_args[@]}") ;;
    esac
    printf '%-28s' "$bench" >&2
    t0=$(date +%s)
    (cd "$scratch" && timeout "$limit" "$build/bin/$bench" "${args[@]}") >"$out/$bench.log" 2>"$out/$bench.err"
    rc=$?
    printf '%4d s  exit %d\n' $(($(date +%s) - t0)) "$rc" >&2
    [ "$rc" = 0 ] || echo "$bench exit=$rc" >>"$out/failed.txt"
    sed -n 's/^RESULT \([A-Za-z0-9_]*\)=\([^ ]*\) \(.*\)$/\1 \2 \3/p' "$out/$bench.log" >>"$results"
done
elapsed=$(($(date +%s) - started))

# value KEY: the figure, or "-" when the benchmark did not report it.
value() {
    awk -v k="$1" '$1 == k { v = $2 } END { print (v == "" ? "-" : v) }' "$results"
}
# ratio A B: A as a percentage of B.
ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b + 0 == 0) print "-"; else printf "%.1f %%", 100 * a / b }'
}
row() {
    printf '%-20s %-46s %14s  %s\n' "$1" "$2" "$3" "$4"
}

echo
echo "Benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPUs, load before $load_before," \
    "$([ "$quick" = 1 ] && echo quick || echo full) run of ${elapsed} s"
row "area" "figure" "value" "against"
row "--------------------" "----------------------------------------------" "--------------" "-------------------------"
row "NDI discovery" "16 sources listed after" "$(value ndi_discovery_ms) ms" ""
for f in UYVY BGRA; do
    v=$(value ndi_frame_${f}_ms)
    row "NDI frames" "1080p $f frame built, CPU" "$v ms" "$(ratio "$v" 33.333) of a 30 fps period"
done
for k in recv sync; do
    [ $k = recv ] && what="16 x 1080p30 received, 16 capture threads" || what="16 x 1080p30 through frame synchronisers"
    row "NDI frames" "$what" "$(value ndi_16src_${k}_fps) fps" "each; $(value ndi_16src_${k}_cpu) % of a core"
done
row "recording" "speedhq 1080p encode on one thread, CPU" "$(value recording_speedhq_cpu_fps) fps" ""
row "recording" "writers in one process held in real time" "$(value recording_writers_realtime)" "1080p30 each"
row "recording" "recording programs held in real time" "$(value recording_programs_realtime)" \
    "1080p30 each; $(value recording_program_cpu) CPU s per s"
for g in 4UYVY 16UYVY 16BGRA; do
    row "render" "paint CPU per frame, ${g%%[A-Z]*} x 1080p25 ${g##*[0-9]} full res." "$(value render_paint_$g) ms" \
        "at $(value render_fps_$g) frames/s ($(ratio "$(value render_fps_$g)" 25) of the sources')"
done
memcpy=$(value render_memcpy)
for g in 4UYVY 16UYVY 16BGRA; do
    up=$(value render_upload_$g)
    row "render" "upload, ${g%%[A-Z]*} slots ${g##*[0-9]}" "$up MB/s" \
        "$(ratio "$up" "$(awk -v m="$memcpy" 'BEGIN { print (m == "-") ? "-" : m * 1000 }')") of memcpy ($memcpy GB/s)"
done
row "audio" "pull, 16 slots, none listened" "$(value audio_pull_none_us) us" "$(value audio_pull_none_pct) % of a pull period"
row "audio" "pull, 16 slots, one listened" "$(value audio_pull_one_us) us" "$(value audio_pull_one_pct) % of a pull period"
for c in 1 50; do
    echo_rate=$(value tcp_echo_c$c)
    for k in status listen_off; do
        v=$(value tcp_${k}_c$c)
        row "TCP" "<$k> replies/s, $c connection(s)" "$v" "$(ratio "$v" "$echo_rate") of echo ($echo_rate)"
    done
done
for c in 1 10; do
    const_rate=$(value http_const_c$c)
    for k in status metrics listen_off static; do
        v=$(value http_${k}_c$c)
        row "HTTP" "$k requests/s, $c connection(s)" "$v" "$(ratio "$v" "$const_rate") of constant reply ($const_rate)"
    done
done
for c in 1 10; do
    v=$(value http_metrics_c${c}_p99)
    row "HTTP" "/metrics p99 latency, 16 slots, $c connection(s)" "$v ms" "$(ratio "$v" 50) of 50 ms"
done
row "HTTP events" "command to event on a stream, mean" "$(value http_event_latency_mean) ms" \
    "p90 $(value http_event_latency_p90) ms, max $(value http_event_latency_max) ms"
src_fps=$(value window_source_fps)
for c in idle default16 full16 rec6; do
    case $c in
    idle) what="4x4 idle, nothing bound" ;;
    default16) what="16 x 1080p30, default previews" ;;
    full16) what="16 x 1080p30, full resolution" ;;
    rec6) what="16 default previews, 6 recording" ;;
    esac
    fps=$(value window_fps_$c)
    row "window" "$what, app CPU" "$(value window_cpu_$c) %" "of a core; $fps frames/s drawn ($(ratio "$fps" "$src_fps") of the sources' $src_fps)"
done
row "window" "frames drawn per frame with a new picture" "$(value window_drawn_per_new_default16)" \
    "16 default previews; full resolution $(value window_drawn_per_new_full16), recording $(value window_drawn_per_new_rec6)"
row "window" "every recording kept real time" "$(value window_kept_up_rec6)" "6 of 16 slots recording, previews shown"
rss=$(value window_rss_full16)
row "memory" "application, 16 full-resolution slots, resident" "$rss MB" \
    "$(ratio "$rss" 500) of 500 MB; default previews $(value window_rss_default16) MB"
row "start-up" "start to first preview picture" "$(value window_first_picture_default16) ms" "16 bound slots"
row "soak" "resident memory, second half against first" "$(value soak_rss_growth) %" \
    "$(value soak_cycles) cycles of 4 recordings; threads +$(value soak_threads_growth)"
for m in pass raw; do
    [ $m = pass ] && what="as received" || what="raw"
    app=$(value sixteen_${m}_app_cpu)
    idle=$(value sixteen_${m}_app_idle_cpu)
    row "16 x 1080p30 rec." "$what: frames written of sent, worst" "$(value sixteen_${m}_written) %" \
        "goal 100 %; $(value sixteen_${m}_delays) \"can't keep up\" reports (goal 0)"
    row "16 x 1080p30 rec." "$what: app CPU while recording" "$app %" \
        "of a core; $(awk -v a="$app" -v i="$idle" 'BEGIN { if (a == "-" || i == "-") print "-"; else printf "%+.1f", a - i }') points on the run before recording ($idle %); goal at most +10"
    p=$(value sixteen_${m}_program_cpu)
    row "16 x 1080p30 rec." "$what: busiest recording program CPU" "$p %" "$(ratio "$p" 5) of the 5 % goal"
    row "16 x 1080p30 rec." "$what: app resident memory" "$(value sixteen_${m}_app_rss) MB" \
        "largest recording program $(value sixteen_${m}_program_rss) MB"
    row "16 x 1080p30 rec." "$what: record-all first-frame spread" "$(value sixteen_${m}_spread) frames" "goal at most 1 frame"
    row "16 x 1080p30 rec." "$what: slots say, at the end" "$(value sixteen_${m}_words)" \
        "panel the same for $(value sixteen_${m}_panel_agrees); dropping first seen $(value sixteen_${m}_dropping_seen) ms after the start"
    row "16 x 1080p30 rec." "$what: frames lost, records" "$(value sixteen_${m}_dropped) frames" \
        "files: $(value sixteen_${m}_dropped_probed) frames; worst slot differs by $(value sixteen_${m}_dropped_difference) frames"
done
row "slots" "building 16 slots, CPU" "$(value slots_build16) ms" "$(value slots_level_report) us per level report"
echo
echo "Full output: $out/<benchmark>.log"
if [ -s "$out/failed.txt" ]; then
    echo "Failed: $(tr '\n' ' ' <"$out/failed.txt")"
    rm -f "$out/failed.txt"
    exit 1
fi
