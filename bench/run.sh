#!/bin/sh
# Every figure of docs/performance.md, measured again:
#
#   bench/run.sh [BUILD_DIR]        (default: build, the default preset)
#
# Environment: RUNS (runs per measurement, default 5; the median is kept),
# TIMEOUT (seconds before a run is killed, default 60), SIZES (flow table
# sizes, default "10000 100000 1000000"), SW_SIZES (softwire flow table
# sizes, default "1000000"), MAPPING_SIZES (NAT mapping listings, default
# "1000000"), MICRO=0 to skip the
# micro-benchmarks.  Everything runs against labs started here and stopped
# on exit; nothing is left behind.  The shell only glues: scenarios come
# from bench_scenario, measurements from bench_measure, the floors from
# wire_reader and bench_sink.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$root/build}" && pwd)/bin
runs=${RUNS:-5}
timeout=${TIMEOUT:-60}
sizes=${SIZES:-"10000 100000 1000000"}
sw_sizes=${SW_SIZES:-"1000000"}
micro=${MICRO:-1}

for tool in vorel vorel-lab bench_scenario bench_measure bench_sink wire_reader; do
    [ -x "$bin/$tool" ] || { echo "run.sh: $bin/$tool is missing; build the default preset" >&2; exit 2; }
done

work=$(mktemp -d /tmp/vorel-bench.XXXXXX)
results=$work/results
lab_dir=
stop_lab() {
    [ -n "$lab_dir" ] && "$bin/vorel-lab" stop --dir "$lab_dir" >/dev/null 2>&1 || true
    lab_dir=
}
trap 'stop_lab; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# start_lab NAME SCENARIO: a lab in the background, the environment pointing at it.
start_lab() {
    stop_lab
    lab_dir=$work/lab-$1
    "$bin/vorel-lab" start "$2" --dir "$lab_dir" >/dev/null
    eval "$("$bin/vorel-lab" env --dir "$lab_dir")"
}

# measure LABEL SINK COMMAND...: one line of key=value figures into $results.
measure() {
    label=$1 sink=$2
    shift 2
    "$bin/bench_measure" --sink "$sink" --runs "$runs" --timeout "$timeout" --label "$label" \
        -- "$@" >>"$results" 2>>"$work/runs.log"
}

# figure LABEL KEY: a figure of an earlier measurement.
figure() {
    sed -n "s/^label=$1 .*$2=\([^ ]*\).*/\1/p" "$results" | tail -n 1
}

echo "machine: $(nproc) CPUs, $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -n 1)," \
     "$(uname -sr), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "runs per figure: $runs (median wall time; peak memory is the largest of the runs)"

# ---- 1 and 2: flow tables, and their floors -------------------------------
for n in $sizes; do
    "$bin/bench_scenario" flows "$n" >"$work/flows-$n.yaml"
    start_lab "flows-$n" "$work/flows-$n.yaml"
    measure "wire-raw-$n" null "$bin/wire_reader" --raw
    measure "wire-lib-$n" null "$bin/wire_reader"
    for mode in text xml; do
        x=
        [ "$mode" = xml ] && x=-X
        # A sample of the rendered output, repeated by bench_sink to the
        # volume of the whole table.
        [ -s "$work/sample-$mode" ] || "$bin/vorel" -C sfw -S flows $x | head -c 4000000 >"$work/sample-$mode"
        measure "vorel-$mode-pipe-$n" pipe "$bin/vorel" -C sfw -S flows $x
        measure "vorel-$mode-null-$n" null "$bin/vorel" -C sfw -S flows $x
        bytes=$(figure "vorel-$mode-pipe-$n" bytes)
        for sink in null pipe; do
            measure "sink-$mode-$sink-$n" "$sink" "$bin/bench_sink" --sample "$work/sample-$mode" --bytes "$bytes"
        done
    done
    stop_lab
done

echo
echo "Flow dump, one service set, N flows (6 shapes, half with a NAT or softwire line)"
printf '%-5s %-4s %8s %8s %8s %11s %7s %7s %9s %8s %8s %6s %6s\n' \
    mode sink N "wall s" "best s" "flows/s" "user s" "sys s" "peak KiB" "wire s" "sink s" ratio best
for n in $sizes; do
    for mode in text xml; do
        for sink in null pipe; do
            v=vorel-$mode-$sink-$n w=wire-raw-$n o=sink-$mode-$sink-$n
            awk -v n="$n" -v mode="$mode" -v sink="$sink" \
                -v wall="$(figure "$v" wall)" -v best="$(figure "$v" wall_min)" \
                -v user="$(figure "$v" user)" -v sys="$(figure "$v" sys)" \
                -v peak="$(figure "$v" peak_kib)" \
                -v wire="$(figure "$w" wall)" -v wire_best="$(figure "$w" wall_min)" \
                -v out="$(figure "$o" wall)" -v out_best="$(figure "$o" wall_min)" 'BEGIN {
                    printf "%-5s %-4s %8d %8.3f %8.3f %11.0f %7.3f %7.3f %9d %8.3f %8.3f %6.2f %6.2f\n",
                        mode, sink, n, wall, best, n / wall, user, sys, peak, wire, out,
                        wall / (wire + out), best / (wire_best + out_best)
                }'
        done
    done
done
echo "(wall, flows/s, user, sys: medians; best: the fastest run; wire: the raw reader;"
echo " ratio: vorel's wall time / the floor, wire + sink, from medians; best: from the fastest runs)"
echo
echo "The wire: the lab serving N flows to a reader that discards them"
printf '%8s %10s %14s %16s\n' N "raw s" "library s" "vorel text / raw"
for n in $sizes; do
    awk -v n="$n" -v raw="$(figure "wire-raw-$n" wall)" -v lib="$(figure "wire-lib-$n" wall)" \
        -v text="$(figure "vorel-text-null-$n" wall)" \
        'BEGIN { printf "%8d %10.3f %14.3f %16.1f\n", n, raw, lib, text / raw }'
done

# ---- the lab's tables: the same flows from a table, not a rule -------------
# lab_peak: the running lab's peak resident memory in KiB.
lab_peak() {
    sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$(cat "$lab_dir/pid")/status"
}
big=$(echo "$sizes" | awk '{ print $NF }')
start_lab "flows-rule-$big" "$work/flows-$big.yaml"
measure "rule-text-null-$big" null "$bin/vorel" -C sfw -S flows
rule_peak=$(lab_peak)
"$bin/bench_scenario" flow-table "$big" >"$work/flow-table-$big.yaml"
start_lab "flow-table-$big" "$work/flow-table-$big.yaml"
measure "table-text-null-$big" null "$bin/vorel" -C sfw -S flows
table_peak=$(lab_peak)
stop_lab
echo
echo "The lab's flow table, $big flows: a rule's generated replies against the agent's table"
printf '%-6s %8s %11s %14s\n' source "wall s" "flows/s" "lab peak KiB"
awk -v n="$big" -v w="$(figure "rule-text-null-$big" wall)" -v p="$rule_peak" \
    'BEGIN { printf "%-6s %8.3f %11.0f %14d\n", "rule", w, n / w, p }'
awk -v n="$big" -v w="$(figure "table-text-null-$big" wall)" -v p="$table_peak" \
    'BEGIN { printf "%-6s %8.3f %11.0f %14d\n", "table", w, n / w, p }'

# ---- output buffering: one write per line ---------------------------------
n=$(echo "$sizes" | awk '{ print $1 }')
bytes=$(figure "vorel-text-pipe-$n" bytes)
lines=$(figure "vorel-text-pipe-$n" lines)
measure "lines-chunked" pipe "$bin/bench_sink" --sample "$work/sample-text" --bytes "$bytes"
measure "lines-per-line" pipe "$bin/bench_sink" --sample "$work/sample-text" --bytes "$bytes" --per-line
echo
echo "Writing the text output of $n flows ($lines lines) into a pipe"
awk -v lines="$lines" -v chunked="$(figure lines-chunked wall)" -v per="$(figure lines-per-line wall)" 'BEGIN {
    printf "  64 KiB writes:     %.4f s\n  one write a line:  %.4f s (%.2f us a line)\n",
        chunked, per, (per - chunked) * 1e6 / lines
}'

# ---- subscriber sessions (XML only) ----------------------------------------
n=$(echo "$sizes" | awk '{ print $NF }')
"$bin/bench_scenario" mss "$n" >"$work/mss-$n.yaml"
start_lab "mss-$n" "$work/mss-$n.yaml"
for sink in null pipe; do
    measure "mss-xml-$sink-$n" "$sink" "$bin/vorel" -C mss -S sessions -X
done
stop_lab
echo
echo "Subscriber sessions (-C mss -S sessions -X), one PIC, N sessions of two flows"
printf '%-4s %8s %8s %11s %9s\n' sink N "wall s" "sessions/s" "peak KiB"
for sink in null pipe; do
    awk -v n="$n" -v sink="$sink" -v wall="$(figure "mss-xml-$sink-$n" wall)" \
        -v peak="$(figure "mss-xml-$sink-$n" peak_kib)" \
        'BEGIN { printf "%-4s %8d %8.3f %11.0f %9d\n", sink, n, wall, n / wall, peak }'
done

# ---- SIP calls: one large-object part per call ----------------------------
n=$(echo "$sizes" | awk '{ print $NF }')
"$bin/bench_scenario" sipcalls "$n" >"$work/sipcalls-$n.yaml"
start_lab "sipcalls-$n" "$work/sipcalls-$n.yaml"
for sink in pipe null; do
    measure "sip-xml-$sink-$n" "$sink" "$bin/vorel" -X -C sfw -S sip-call
    measure "sip-text-$sink-$n" "$sink" "$bin/vorel" -C sfw -S sip-call
done
stop_lab
echo
echo "SIP calls of one service set, $n calls, into a pipe"
printf '%-5s %8s %11s %9s\n' mode "wall s" "calls/s" "peak KiB"
for mode in text xml; do
    awk -v n="$n" -v mode="$mode" -v wall="$(figure "sip-$mode-pipe-$n" wall)" \
        -v peak="$(figure "sip-$mode-pipe-$n" peak_kib)" \
        'BEGIN { printf "%-5s %8.3f %11.0f %9d\n", mode, wall, n / wall, peak }'
done

# ---- softwire flow tables ---------------------------------------------------
echo
echo "Softwire flow table, one service set, N flows (6 shapes, half with NAT or softwire lines)"
printf '%-5s %-4s %8s %8s %11s %7s %9s\n' mode sink N "wall s" "flows/s" "user s" "peak KiB"
for n in $sw_sizes; do
    "$bin/bench_scenario" softwires "$n" >"$work/softwires-$n.yaml"
    start_lab "softwires-$n" "$work/softwires-$n.yaml"
    for mode in text xml; do
        x=
        [ "$mode" = xml ] && x=-X
        for sink in null pipe; do
            v=softwire-$mode-$sink-$n
            measure "$v" "$sink" "$bin/vorel" -C softwire -S flows $x
            awk -v n="$n" -v mode="$mode" -v sink="$sink" -v wall="$(figure "$v" wall)" \
                -v user="$(figure "$v" user)" -v peak="$(figure "$v" peak_kib)" 'BEGIN {
                    printf "%-5s %-4s %8d %8.3f %11.0f %7.3f %9d\n", mode, sink, n, wall, n / wall, user, peak
                }'
        done
    done
    echo "(the softwires themselves, same N)"
    for mode in text xml; do
        x=
        [ "$mode" = xml ] && x=-X
        for sink in null pipe; do
            v=softwire-entries-$mode-$sink-$n
            measure "$v" "$sink" "$bin/vorel" -C softwire -S entries -d $x
            awk -v n="$n" -v mode="$mode" -v sink="$sink" -v wall="$(figure "$v" wall)" \
                -v user="$(figure "$v" user)" -v peak="$(figure "$v" peak_kib)" 'BEGIN {
                    printf "%-5s %-4s %8d %8.3f %11.0f %7.3f %9d\n", mode, sink, n, wall, n / wall, user, peak
                }'
        done
    done
    stop_lab
done

# ---- NAT mappings: one service set, N endpoint-independent mappings -------
echo
echo "NAT mappings (-C nat -S mappingsv2-eim), one service set, N mappings (3 shapes)"
printf '%-5s %8s %8s %11s %9s\n' mode N "wall s" "mappings/s" "peak KiB"
for n in ${MAPPING_SIZES:-1000000}; do
    "$bin/bench_scenario" mappings "$n" >"$work/mappings-$n.yaml"
    start_lab "mappings-$n" "$work/mappings-$n.yaml"
    for mode in text xml; do
        x=
        [ "$mode" = xml ] && x=-X
        measure "mappings-$mode-pipe-$n" pipe "$bin/vorel" $x -C nat -S mappingsv2-eim
        measure "mappings-$mode-null-$n" null "$bin/vorel" $x -C nat -S mappingsv2-eim
        awk -v n="$n" -v mode="$mode" -v wall="$(figure "mappings-$mode-null-$n" wall)" \
            -v peak="$(figure "mappings-$mode-null-$n" peak_kib)" \
            'BEGIN { printf "%-5s %8d %8.3f %11.0f %9d\n", mode, n, wall, n / wall, peak }'
    done
    stop_lab
done

# ---- 3: the snapshot -------------------------------------------------------
echo
echo "Snapshot: 64 PICs, S service sets (every second one compressed)"
printf '%6s %14s %9s %22s\n' S "PIC table s" "peak KiB" "empty flow tables s"
for sets in 1000 10000; do
    "$bin/bench_scenario" snapshot 64 "$sets" >"$work/snapshot-$sets.yaml"
    start_lab "snapshot-$sets" "$work/snapshot-$sets.yaml"
    measure "snapshot-list-$sets" null "$bin/vorel"
    measure "snapshot-empty-$sets" null "$bin/vorel" -C sfw -S flows
    stop_lab
    printf '%6d %14s %9s %22s\n' "$sets" "$(figure "snapshot-list-$sets" wall)" \
        "$(figure "snapshot-list-$sets" peak_kib)" "$(figure "snapshot-empty-$sets" wall)"
done

# ---- ALG conversations: 10^6 groups, one reply each --------------------------
n=1000000
cat >"$work/conv.yaml" <<EOF
name: ALG conversations
chassis: {master: true}
interfaces:
  - {index: 130, name: ms-1/0/0, type: 102, fpc: 1, pic: 0}
service_sets:
  - {name: sset-a, id: 1, pic: ms-1/0/0}
agents:
  - pic: ms-1/0/0
    rules:
      - match: {type: 136}
        reply:
          - layout: msp_alg_conv_group_list
            fields: {kind: 1, group_id: 1, state: 1, client: sip, resources: [11, 12]}
            repeat: $n
            vary: {group_id: {start: 1}}
EOF
start_lab conv "$work/conv.yaml"
for mode in text xml; do
    x=
    [ "$mode" = xml ] && x=-X
    measure "conv-$mode-pipe-$n" pipe "$bin/vorel" -C msp $x -S conversations -i ms-1/0/0 -g groups 0
    measure "conv-$mode-null-$n" null "$bin/vorel" -C msp $x -S conversations -i ms-1/0/0 -g groups 0
done
stop_lab
echo
echo "ALG conversations: $n groups of two resources each (-C msp -S conversations -g groups), into a pipe"
printf '%-5s %8s %11s %9s\n' mode "wall s" "groups/s" "peak KiB"
for mode in text xml; do
    awk -v mode="$mode" -v n="$n" -v wall="$(figure "conv-$mode-pipe-$n" wall)" \
        -v peak="$(figure "conv-$mode-pipe-$n" peak_kib)" \
        'BEGIN { printf "%-5s %8.3f %11.0f %9d\n", mode, wall, n / wall, peak }'
done

# ---- tables the lab keeps: one generated block of N entries each ------------
# table_bench PREFIX SCENARIO MODES ARGS...: PREFIX-MODE-SINK-N for each mode
# of MODES ("text xml" or "xml") and both sinks.
table_bench() {
    prefix=$1 scenario=$2 modes=$3
    shift 3
    start_lab "$prefix" "$scenario"
    for mode in $modes; do
        x=
        [ "$mode" = xml ] && x=-X
        for sink in null pipe; do
            measure "$prefix-$mode-$sink-$n" "$sink" "$bin/vorel" $x "$@"
        done
    done
    stop_lab
}
n=1000000
# table_router PIC TABLES: a service PIC and a multiservices PIC with a
# service set each; PIC's agent keeps TABLES (its tables: list).
table_router() {
    cat <<SCENARIO
name: bench tables
chassis: {master: true}
interfaces:
  - {index: 130, name: sp-1/0/0, type: 65, fpc: 1, pic: 0}
  - {index: 131, name: ms-1/1/0, type: 102, fpc: 1, pic: 1}
service_sets:
  - {name: sset-a, id: 1, pic: sp-1/0/0}
  - {name: sset-b, id: 2, pic: ms-1/1/0}
agents:
  - pic: $1
    tables:
$2
SCENARIO
}
table_router sp-1/0/0 "      - table: fwnat_conversations
        svc_set_id: 1
        entries:
          - count: $n
            vary: {flows.0.src: {start: 10.0.0.1}, flows.1.dst: {start: 10.0.0.1}}
            fields: {alg: 4, initiators: 1, responders: 1,
                     flows: [{dst: 192.0.2.80, src_port: 40000, dst_port: 80, proto: 6, state: 2, direction: 1, frames: 18},
                             {src: 192.0.2.80, src_port: 80, dst_port: 40000, proto: 6, state: 2, direction: 2, frames: 25}]}" \
    >"$work/fwconv.yaml"
table_bench fwconv "$work/fwconv.yaml" "text xml" -C sfw -S conversations
table_router sp-1/0/0 "      - table: fwnat_sip_regs
        svc_set_id: 1
        entries:
          - count: $n
            vary: {address: {start: 167772161}}
            fields: {from: 'sip:+14085550101@voice.example.com', to: 'sip:voice.example.com',
                     call_id: reg-4b1d@10.40.1.21, port: 5060, protocol: 17, acked: 1,
                     expiration: 3600, remaining: 2911}" >"$work/sipreg.yaml"
# In text the registrations view prints only that it is shown in XML.
table_bench sipreg "$work/sipreg.yaml" xml -C sfw -S sip-reg
table_router ms-1/1/0 "      - table: msp_sessions
        svc_set_id: 2
        entries:
          - count: $n
            vary: {sess_id: {start: 1}, flows.0.src: {start: 10.0.0.1}, flows.1.dst: {start: 10.0.0.1}}
            fields: {alg: 1003, sess_timeout: 1800,
                     flows: [{dst: 192.0.2.80, src_port: 40000, dst_port: 443, proto: 6, state: 2, direction: 1, frames: 12, role: 1},
                             {src: 192.0.2.80, src_port: 443, dst_port: 40000, proto: 6, state: 2, direction: 2, frames: 9, role: 2}]}" \
    >"$work/mspsess.yaml"
# -a: the session engine asks for 100 entries unless told otherwise.
table_bench mspsess "$work/mspsess.yaml" "text xml" -C msp -S sessions -a
table_router ms-1/1/0 "      - table: msp_flows
        svc_set_id: 2
        entries:
          - count: $n
            vary: {src: {start: 10.0.0.1}, src_port: {start: 1024, step: 7}}
            fields: {dst: 192.0.2.80, dst_port: 443, proto: 6, state: 2, direction: 1, frames: 12, role: 1}" \
    >"$work/mspflow.yaml"
table_bench mspflow "$work/mspflow.yaml" "text xml" -C msp -S flows -a
# tcplog's table is one reply of at most 256 connections a PIC: its full
# table on 64 PICs, 16 384 connections.
n=16384
"$bin/bench_scenario" tcplog 64 >"$work/tcplog.yaml"
table_bench tcplog "$work/tcplog.yaml" "text xml" -C tcplog -S connection
# Its floor: a small program asking the 64 PICs in turn (a process start
# and 64 exchanges). The sink of its 2 MB is left out: measured by a process
# of its own, it would count a second start.
start_lab tcplog-floor "$work/tcplog.yaml"
measure "tcplog-raw-$n" null "$bin/wire_reader" --tcplog 64
stop_lab

# ---- the summary: every large table at its largest size ----------------------
# row TABLE N PREFIX [FLOOR_PREFIX]: entries/s and peak memory of PREFIX-MODE-SINK-N
# in text and XML, to /dev/null and into a pipe; the ratio to the floor
# where the floor is measured (the flow table's wire and sink); whether the
# targets hold: 10^6 entries/s in text, 500 000/s in XML, peak
# resident memory under 16 MiB.
row() {
    for mode in text xml; do
        for sink in null pipe; do
            wall=$(figure "$3-$mode-$sink-$2" wall)
            peak=$(figure "$3-$mode-$sink-$2" peak_kib)
            floor=
            if [ -n "${4:-}" ]; then
                floor=$(awk -v w="$(figure "$4-raw-$2" wall)" -v s="$(figure "sink-$mode-$sink-$2" wall)" \
                    'BEGIN { if (w != "") printf "%.3f", w + s }')
            fi
            awk -v t="$1" -v n="$2" -v mode="$mode" -v sink="$sink" -v wall="$wall" -v peak="$peak" \
                -v floor="$floor" 'BEGIN {
                    if (wall == "") { printf "%-22s %-4s %-4s %8d %12s\n", t, mode, sink, n, "(not measured)"; exit }
                    rate = n / wall
                    want = mode == "text" ? 1000000 : 500000
                    ok = (rate >= want && peak < 16384) ? "yes" : "no"
                    ratio = floor != "" && floor > 0 ? sprintf("%.2f", wall / floor) : "-"
                    printf "%-22s %-4s %-4s %8d %12.0f %6s %9d %4s\n", t, mode, sink, n, rate, ratio, peak, ok
                }'
        done
    done
}
big=$(echo "$sizes" | awk '{ print $NF }')
echo
echo "Summary: each large table at its largest size (entries/s from the median wall time)"
printf '%-22s %-4s %-4s %8s %12s %6s %9s %4s\n' table mode sink N entries/s ratio "peak KiB" met
row "firewall flows" "$big" vorel wire
row "subscriber sessions" "$big" mss
row "SIP calls" "$big" sip
for n in $sw_sizes; do row "softwire flows" "$n" softwire; done
for n in ${MAPPING_SIZES:-1000000}; do row "NAT mappings (EIM)" "$n" mappings; done
row "ALG conversations" 1000000 conv
row "firewall conversations" 1000000 fwconv
row "SIP registrations" 1000000 sipreg
row "session-engine sessions" 1000000 mspsess
row "session-engine flows" 1000000 mspflow
for n in $sw_sizes; do row "softwires" "$n" softwire-entries; done
row "tcplog (64 PICs)" 16384 tcplog tcplog
echo "(ratio: wall time over the floor, the lab's wire time plus the sink's, where it is measured;"
echo " met: text at 10^6/s or more, XML at 500 000/s or more, peak under 16 MiB."
echo " Subscriber sessions and SIP registrations are shown in XML only: their text rows are not"
echo " measured.  tcplog's table is one reply of at most 256 entries a PIC: 64 PICs' full tables;"
echo " its floor is a small program asking the 64 PICs in turn, a process start and 64 round trips"
echo " that no program avoids, without a sink.)"

# ---- 4: micro-benchmarks ---------------------------------------------------
if [ "$micro" != 0 ]; then
    for b in flow_render_bench xml_bench format_choice_bench; do
        [ -x "$bin/$b" ] || continue
        echo
        "$bin/$b" --benchmark_min_time=0.2 --benchmark_color=false 2>&1 | sed -n '/^Benchmark/,$p'
    done
fi
