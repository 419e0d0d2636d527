# Shell form of the private-network guard (see netns/netns_guard.cpp).
# require_private_netns: exits 2 unless this shell runs in a network namespace
# other than the machine's own, entered through the project's scripts, and
# holding only loopback and the lab's own "vt" interfaces.
require_private_netns() {
    local own init
    own=$(stat -L -c %i /proc/self/ns/net 2>/dev/null) || own=""
    init=$(stat -L -c %i /proc/1/ns/net 2>/dev/null) || init=""
    local why=""
    if [ -z "$own" ] || [ -z "$init" ]; then
        why="cannot read the network namespaces"
    elif [ "$own" = "$init" ]; then
        why="this is the machine's own network namespace"
    elif [ -z "${VELTRONA_HOST_NETNS:-}" ] || [ "$VELTRONA_HOST_NETNS" = "$own" ]; then
        why="not started through scripts/netns-run or scripts/lab"
    else
        local dev
        for dev in /sys/class/net/*; do
            dev=${dev##*/}
            case "$dev" in lo | vt*) ;; *) why="foreign interface $dev present" ;; esac
        done
    fi
    if [ -n "$why" ]; then
        echo "refusing to send KOVA datagrams: $why" >&2
        exit 2
    fi
}
