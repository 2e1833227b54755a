#!/usr/bin/env bash
# The recorder as it runs for real, for the figures that a benchmark cannot give: N simulated
# devices on loopback addresses 127.0.0.2 up (faults on), `record` with three triggers for
# SECONDS, and every 30 s the recorder's resident memory (VmRSS, VmHWM) and CPU time read from
# /proc. Prints the samples, then the datagrams each device sent against those in its
# segments (lost = sent - recorded) and the recorder's summary.
#   bench/record_soak.sh CLI DIR DEVICES BIT_RATE SECONDS [PORT] [PAIRS] [TRIGGERS]
# TRIGGERS: "yes" (default) for the three triggers, "no" to record only.
# e.g. bench/record_soak.sh build/bin/morvelip-osc-cli /tmp/soak 8 1000000 600
# DIR gets a segment a minute, 4 GiB kept at most (--keep), so a long run does not fill a disk.
set -euo pipefail

cli=$(realpath "$1") dir=$2 devices=$3 rate=$4 seconds=$5 port=${6:-24971} pairs=${7:-256}
triggers=(--trigger 'error != none' --trigger 'issue == no_answer' --trigger 'rt > 30' --pre 10
    --post 2)
[ "${8:-yes}" = yes ] || triggers=()
rm -rf "$dir"
mkdir -p "$dir"
cd "$dir"
sims=()
args=()
for ((i = 0; i < devices; i++)); do
    address=127.0.0.$((i + 2))
    "$cli" sim --bind "$address" --port "$port" --bit-rate "$rate" --pairs "$pairs" --seed "$i" \
        --bit-errors 0.01 --loss 0.01 --late 0.01 >"sim-$address.log" 2>&1 &
    sims+=($!)
    args+=(--device "$address:$port")
done
sleep 1
"$cli" record "${args[@]}" --bind 127.0.0.1 --port "$port" --dir rec --segment 1m --keep 4G \
    "${triggers[@]}" --json --seconds "$seconds" >events.jsonl 2>record.log &
recorder=$!
ticks=$(getconf CLK_TCK)
echo "seconds rss_kib hwm_kib cpu_s"
start=$(date +%s)
while kill -0 "$recorder" 2>/dev/null; do
    if [ -r "/proc/$recorder/status" ]; then
        rss=$(awk '/VmRSS/ { print $2 }' "/proc/$recorder/status" 2>/dev/null || echo 0)
        hwm=$(awk '/VmHWM/ { print $2 }' "/proc/$recorder/status" 2>/dev/null || echo 0)
        cpu=$(awk -v t="$ticks" '{ printf "%.1f", ($14 + $15) / t }' "/proc/$recorder/stat" \
            2>/dev/null || echo 0)
        echo "$(($(date +%s) - start)) $rss $hwm $cpu"
    fi
    sleep 30 &
    wait $! || true
done
wait "$recorder" || true
for pid in "${sims[@]}"; do
    kill "$pid"
done
wait || true
for ((i = 0; i < devices; i++)); do
    address=127.0.0.$((i + 2))
    sent=$(sed -n 's/.*after \([0-9]*\) sample datagrams.*/\1/p' "sim-$address.log")
    echo "$address: sent $sent"
done
cat record.log
echo "events: $(wc -l <events.jsonl)"
