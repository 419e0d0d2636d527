#!/usr/bin/env bash
# scripts/lab and scripts/netns-run: an early TERM, INT or HUP stops a lab at
# once instead of being lost; netns-run hands TERM and INT to its command; labs
# started together each keep their namespaces to the end.
#   lab_scripts_test.sh SCRIPTS_DIR      (KOVA_DEVSIM names the simulator)
set -uo pipefail
scripts=${1:?scripts directory}
failures=0

# RUNNER... -- sleep 60, sent SIGNAL after DELAY s, must end within 10 s with WANT.
# (A command started in the background ignores INT, one started from a terminal does not.)
for run in "lab TERM 0 143" "lab INT 0.03 130" "lab HUP 0.06 129" "lab TERM 0.1 143" \
    "lab INT 0.15 130" "lab HUP 0.3 129" "netns-run TERM 0 143" "netns-run INT 0.5 130"; do
    read -r runner signal delay want <<<"$run"
    if [ "$runner" = lab ]; then
        env --default-signal=INT "$scripts/lab" -- sleep 60 &
    else
        env --default-signal=INT "$scripts/netns-run" sleep 60 &
    fi
    pid=$!
    sleep "$delay"
    kill -"$signal" "$pid"
    timeout 10 tail --pid="$pid" -f /dev/null || kill -KILL "$pid"
    wait "$pid"
    status=$?
    echo "$run: status $status"
    [ "$status" -eq "$want" ] || { echo "FAIL: $run gave $status" >&2; failures=$((failures + 1)); }
done

# Six labs at once: none may sweep another's namespaces away.
pids=()
for _ in 1 2 3 4 5 6; do
    "$scripts/lab" -- bash -c 'sleep 2; ls /sys/class/net | grep -q "^vt[0-9a-f]*a$"' &
    pids+=($!)
done
for pid in "${pids[@]}"; do
    wait "$pid" || { echo "FAIL: a lab of six ended with $?" >&2; failures=$((failures + 1)); }
done
exit $((failures > 0))
