# Hands signals that a wrapper script receives to a process that it starts in
# the background, possibly some generations below. Sourced by scripts/netns-run
# and scripts/lab.
#
#   trap 'forward_signal TERM' TERM    (before starting the process)
#   COMMAND... &
#   forward_to=$!      the background process
#   forward_depth=N    the target is its first child's first child ... N levels down
#   wait_forwarding    waits for it to end; its status is then in $forwarded_status
#
# A signal that comes before the target exists, or while it cannot take it yet
# (process 1 of a PID namespace drops a signal it has no handler for), is kept
# and handed over as soon as it can be, so an early signal is never lost.
# forward_needs_handler=1 waits for the target to catch the signal first.

forward_to=""
forward_depth=1
forward_needs_handler=0
forward_pending=""
forwarded_status=0

# The target's process id, or nothing yet.
forward_target() {
    local pid=$forward_to level children
    [ -n "$pid" ] || return 1
    for ((level = 0; level < forward_depth; level++)); do
        children=$(cat "/proc/$pid/task/$pid/children" 2>/dev/null) || return 1
        pid=${children%% *}
        [ -n "$pid" ] || return 1
    done
    echo "$pid"
}

# Hands the pending signal over when the target can take it.
forward_deliver() {
    local target caught number
    target=$(forward_target) || return 1
    if [ "$forward_needs_handler" -eq 1 ]; then
        caught=$(sed -n 's/^SigCgt:[[:space:]]*//p' "/proc/$target/status" 2>/dev/null) || return 1
        number=$(kill -l "$forward_pending")
        [ -n "$caught" ] && (((0x$caught >> (number - 1)) & 1)) || return 1
    fi
    kill -"$forward_pending" "$target" 2>/dev/null || return 1
    forward_pending=""
}

forward_signal() {
    forward_pending=$1
    forward_deliver || true
}

wait_forwarding() {
    while :; do
        if [ -n "$forward_pending" ] && kill -0 "$forward_to" 2>/dev/null && ! forward_deliver; then
            sleep 0.02
            continue
        fi
        forwarded_status=0
        wait "$forward_to" || forwarded_status=$?
        kill -0 "$forward_to" 2>/dev/null || break
    done
}
