#!/usr/bin/env bash
# scripts/lab and scripts/netns-run under signals and concurrency:
#   an early TERM, INT or HUP stops a lab at once instead of being lost;
#   netns-run hands TERM and INT to its command;
#   labs started together each keep their own namespaces to the end.
#   lab_scripts_test.sh SCRIPTS_DIR      (KOVA_DEVSIM names the simulator)
set -uo pipefail
scripts=${1:?scripts directory}
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Sends `signal` to `pid` after `delay` seconds; the run must end within 10 s
# (its command would take 60) with `want` as its status.
signal_ends_run() {
    local what=$1 signal=$2 delay=$3 want=$4 pid=$5 status start
    sleep "$delay"
    start=$SECONDS
    kill -"$signal" "$pid"
    for _ in $(seq 1 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        fail "$what: $signal after ${delay} s was lost"
        kill -KILL "$pid"
    fi
    wait "$pid"
    status=$?
    [ "$status" -eq "$want" ] || fail "$what: $signal after ${delay} s gave status $status, not $want"
    echo "$what: $signal after ${delay} s: status $status in $((SECONDS - start)) s"
}

# A command started in the background ignores INT; one started from a terminal does not.
for run in "TERM 0 143" "INT 0.03 130" "HUP 0.06 129" "TERM 0.1 143" "INT 0.15 130" "HUP 0.3 129"; do
    read -r signal delay want <<<"$run"
    env --default-signal=INT "$scripts/lab" -- sleep 60 &
    signal_ends_run lab "$signal" "$delay" "$want" $!
done

for run in "TERM 0.5 143" "INT 0.5 130"; do
    read -r signal delay want <<<"$run"
    env --default-signal=INT "$scripts/netns-run" sleep 60 &
    signal_ends_run netns-run "$signal" "$delay" "$want" $!
done

# Several labs at once: none may sweep another's namespaces away.
pids=()
for _ in $(seq 1 6); do
    "$scripts/lab" -- bash -c 'sleep 2; ls /sys/class/net | grep -q "^vt[0-9a-f]*a$"' &
    pids+=($!)
done
for pid in "${pids[@]}"; do
    wait "$pid" || fail "a lab started with five others ended with status $?"
done

[ "$failures" -eq 0 ] && echo "lab scripts: all passed"
exit $((failures > 0))
