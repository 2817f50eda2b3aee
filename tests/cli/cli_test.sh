#!/usr/bin/env bash
# End-to-end tests of the quelvan program: every client subcommand against `quelvan serve` on
# a virtual null-modem (`quelvan null-modem`) in RTU and ASCII, the exit code of each outcome,
# bad arguments, --poll with SIGINT, serve with SIGTERM, and the simulation.
#
# Usage: cli_test.sh path/to/quelvan
#
# Every wait is bounded: port paths are read with a time-out, the servers are ready once a
# read has been answered (retried), and replies that should come get a generous time-out.

set -u
Q=${1:?usage: cli_test.sh path/to/quelvan}
WORK=$(mktemp -d)
declare -a BACKGROUND=()
FAILURES=0
CASES=0

cleanup() {
    local p
    for p in "${BACKGROUND[@]}"; do kill -TERM "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    FAILURES=$((FAILURES + 1))
}

# start_null_modem NAME [options]: runs `quelvan null-modem` and sets NAME_A and NAME_B to the
# two port paths.
start_null_modem() {
    local name=$1 fd a b
    shift
    mkfifo "$WORK/$name.fifo"
    "$Q" null-modem "$@" >"$WORK/$name.fifo" 2>"$WORK/$name.err" &
    BACKGROUND+=($!)
    exec {fd}<"$WORK/$name.fifo"
    if ! read -r -t 30 -u "$fd" a || ! read -r -t 30 -u "$fd" b; then
        echo "FATAL: quelvan null-modem printed no ports: $(cat "$WORK/$name.err")"
        exit 1
    fi
    printf -v "${name}_A" '%s' "$a"
    printf -v "${name}_B" '%s' "$b"
}

# start_server NAME PORT CLIENT_PORT MODE [serve options]: runs `quelvan serve` (log in
# $WORK/NAME.log, pid in NAME_PID) and returns once it has answered a read from CLIENT_PORT
# (with the client options in PROBE_OPTIONS).
PROBE_OPTIONS=()
start_server() {
    local name=$1 port=$2 client=$3 mode=$4 i
    shift 4
    "$Q" serve --port "$port" --mode "$mode" "$@" >"$WORK/$name.log" 2>&1 &
    BACKGROUND+=($!)
    printf -v "${name}_PID" '%s' "$!"
    for ((i = 0; i < 60; i++)); do
        "$Q" read holding 0 1 --port "$client" --mode "$mode" --timeout 500 "${PROBE_OPTIONS[@]}" >/dev/null 2>&1 &&
            return 0
    done
    echo "FATAL: quelvan serve ($name) never answered: $(cat "$WORK/$name.log")"
    exit 1
}

# check EXPECTED_EXIT PATTERN ARGS...: runs quelvan ARGS; the exit code must be EXPECTED_EXIT and
# the output (stdout and stderr) must match the extended regular expression PATTERN. Requests
# that expect an answer get a generous time-out unless they set one.
check() {
    local expected=$1 pattern=$2 out rc
    shift 2
    local args=("$@")
    if [[ " ${args[*]} " != *" --timeout "* && " ${args[*]} " == *" --port "* && $expected -le 1 ]]; then
        args+=(--timeout 5000)
    fi
    CASES=$((CASES + 1))
    out=$("$Q" "${args[@]}" 2>&1)
    rc=$?
    if [[ $rc -ne $expected ]]; then
        fail "quelvan ${args[*]}: exit $rc, expected $expected; output:"$'\n'"$out"
    elif ! grep -Eq -- "$pattern" <<<"$out"; then
        fail "quelvan ${args[*]}: output does not match /$pattern/:"$'\n'"$out"
    fi
}

cat >"$WORK/map.txt" <<'EOF'
# the items of the RTU server
coils 0-99
inputs 0-15
inputs 3 = 1
holding 0-99 = 7
input-registers 0-9 = 0x1234   # 4660
EOF
cat >"$WORK/bad.map" <<'EOF'
coils 0-9
holdin 0-9 = 1
EOF

# Each mode: a plain cable with a server (RTU from the map file, ASCII from the same ranges on
# the command line), and an echoing cable (its first port hears its own bytes back).
start_null_modem LINE_RTU
start_null_modem LINE_ASCII
start_null_modem ECHO_RTU --echo
start_null_modem ECHO_ASCII --echo
start_server SERVE_RTU "$LINE_RTU_B" "$LINE_RTU_A" rtu --map "$WORK/map.txt"
start_server SERVE_ASCII "$LINE_ASCII_B" "$LINE_ASCII_A" ascii \
    --coils 0-99 --inputs 0-15 3=1 --holding 0-99=7 --input-registers 0-9=0x1234
# The echoing RTU cable has a server too: with --echo the client skips the echo and gets the reply.
PROBE_OPTIONS=(--echo)
start_server SERVE_ECHO "$ECHO_RTU_B" "$ECHO_RTU_A" rtu

for mode in rtu ascii; do
    if [[ $mode == rtu ]]; then port=$LINE_RTU_A echo_port=$ECHO_RTU_A; else port=$LINE_ASCII_A echo_port=$ECHO_ASCII_A; fi
    m=(--port "$port" --mode "$mode")
    # Every client subcommand, and what the server answers.
    check 0 'holding 1 = 7 \(0x0007\)' read holding 0 2 "${m[@]}"
    check 0 'input-register 9 = 4660 \(0x1234\)' read input-registers 8 2 "${m[@]}"
    check 0 'inputs 0-7 = 0 0 0 1 0 0 0 0' read inputs 0 8 "${m[@]}"
    check 0 'write single coil 5 = on @1: normal reply' write coil 5 on "${m[@]}"
    check 0 'write multiple coils 10-12 @1: normal reply' write coils 10 1 1 0 "${m[@]}"
    check 0 'coils 0-7 = 0 0 0 0 0 1 0 0' read coils 0 16 "${m[@]}"
    check 0 'coils 8-15 = 0 0 1 1 0 0 0 0' read coils 0 16 "${m[@]}"
    check 0 'holding 3 = 48879 \(0xBEEF\)' write register 3 0xBEEF "${m[@]}"
    check 0 'write multiple registers 20-22 @1: normal reply' write registers 20 1 2 3 "${m[@]}"
    check 0 'holding 21 = 2 ' read holding 20 3 "${m[@]}"
    check 0 '@broadcast: sent' write register 30 999 --broadcast "${m[@]}"
    check 0 '@broadcast: sent' write coils 40 1 1 --broadcast "${m[@]}"
    check 0 'holding 30 = 999' read holding 30 1 "${m[@]}"
    check 0 'coils 40-41 = 1 1' read coils 40 2 "${m[@]}"
    check 0 '"reply":"normal".*"values":\[7,7\]' read holding 0 2 --json "${m[@]}"
    check 0 ' RX  (01 03 02 00 07|:01030200)' read holding 0 1 --frames "${m[@]}"
    # The server refuses what is outside its map and the commands it does not serve.
    check 1 'exception reply, code 2: Illegal data address' read holding 95 10 "${m[@]}"
    check 1 '"reply":"exception","server":1,' read holding 95 10 --json "${m[@]}"
    check 1 'exception reply, code 1: Illegal command' mask-write 1 0xFF00 0x0012 "${m[@]}"
    check 1 'exception reply, code 1: Illegal command' diag return-query-data "${m[@]}"
    check 1 'exception reply, code 1: Illegal command' file-read 4:1:3 5:0:1 "${m[@]}"
    check 1 'exception reply, code 1: Illegal command' file-write 4:1:1,2,3 "${m[@]}"
    # Nobody at address 9: no reply, after each attempt.
    check 2 '@9: no reply \(2 attempts\)' read holding 0 1 --address 9 --timeout 200 --retries 2 "${m[@]}"
    # An echoing line without --echo: the echo is taken for the reply and does not fit it.
    check 3 '@9: unmatched reply' read holding 0 3 --address 9 --timeout 300 --port "$echo_port" --mode "$mode"
    check 2 '@9: no reply' read holding 0 3 --address 9 --timeout 300 --echo --port "$echo_port" --mode "$mode"
done
check 0 'read holding registers 0-2 @1: normal reply' read holding 0 3 --echo --port "$ECHO_RTU_A"

# Bad arguments: one line naming the argument, exit 4, and nothing sent (the server logs no
# request: the read afterwards is the only new one).
logged=$(wc -l <"$WORK/SERVE_RTU.log")
p=(--port "$LINE_RTU_A")
check 4 'not expected: --bogus' read holding 0 1 --bogus "${p[@]}"
check 4 '^quelvan: COUNT: Register count must be between 1 and 125$' read holding 0 0 "${p[@]}"
check 4 '^quelvan: COUNT: Discrete i/o count must be between 1 and 2008$' read coils 0 0 "${p[@]}"
check 4 '^quelvan: COUNT: Register count must be between 1 and 125$' read input-registers 0 126 "${p[@]}"
check 4 '^quelvan: START: Starting register index is invalid \(65535\)$' read holding 65535 2 "${p[@]}"
check 4 '^quelvan: START: 65536 is out of range \(0..65535\)$' read holding 65536 1 "${p[@]}"
check 4 '^quelvan: VALUE: 70000 is out of range \(0..65535\)$' write register 0 70000 "${p[@]}"
check 4 "^quelvan: VALUE: 'x' is not a bit value" write coils 0 1 x "${p[@]}"
check 4 '^quelvan: VALUE: Discrete i/o count must be between 1 and 1976$' write coils 0 $(printf '1 %.0s' {1..1977}) "${p[@]}"
check 4 '^quelvan: VALUE: write coil takes one value' write coil 0 1 0 "${p[@]}"
check 4 '^quelvan: AND: 0x10000 is out of range' mask-write 1 0x10000 0 "${p[@]}"
check 4 '^quelvan: ACTION: nonsense not in' diag nonsense "${p[@]}"
check 4 '^quelvan: 4:10000:1: Starting register index is invalid \(10000\)$' file-read 4:10000:1 "${p[@]}"
check 4 '^quelvan: 4:1:200: The file record request does not fit in a frame' file-read 4:1:200 "${p[@]}"
check 4 '^quelvan: 4:1: expected FILE:RECORD:VALUE' file-write 4:1 "${p[@]}"
check 4 '^quelvan: --address: Value must be between 1 and 247$' read holding 0 1 --address 248 "${p[@]}"
check 4 '^quelvan: --retries: Value must be between 1 and 4294967295$' read holding 0 1 --retries 0 "${p[@]}"
check 4 '^quelvan: --mode: tcp not in' read holding 0 1 --mode tcp "${p[@]}"
check 4 '^quelvan: --poll: ' read holding 0 1 --poll 0 "${p[@]}"
check 4 'not expected: --broadcast' read holding 0 1 --broadcast "${p[@]}"
check 4 '^quelvan: --port is required' read holding 0 1
check 4 "bad.map:2: unknown table 'holdin'" serve --map "$WORK/bad.map" "${p[@]}"
check 4 "^quelvan: --holding: '9-2' ends before it starts$" serve --holding 9-2 "${p[@]}"
check 0 'holding 0 = 7' read holding 0 1 "${p[@]}"
(($(wc -l <"$WORK/SERVE_RTU.log") == logged + 1)) ||
    fail "a rejected command reached the server: $(tail -n +$((logged + 1)) "$WORK/SERVE_RTU.log")"

# A port that does not exist: exit 5 with the library's message and the system's reason.
check 5 '^quelvan: --port /dev/quelvan-no-such-port: Could not open serial port \(.*No such file or directory' \
    read holding 0 1 --port /dev/quelvan-no-such-port
check 5 '^quelvan: --port /dev/quelvan-no-such-port: Could not open serial port \(.*No such file or directory' \
    serve --port /dev/quelvan-no-such-port

# --help for the tool and every subcommand; ports lists without failing.
check 0 'Usage: quelvan ' --help
for sub in ports read write mask-write diag file-read file-write serve simulate null-modem; do
    check 0 "Usage: quelvan $sub " "$sub" --help
done
check 0 '' ports
check 0 '^\{"ports":\[' ports --json

# --poll repeats until SIGINT, then ends with the last outcome's code.
coproc POLL { exec "$Q" read holding 0 1 --port "$LINE_RTU_A" --timeout 5000 --poll 0.1; }
poll_pid=$POLL_PID
CASES=$((CASES + 1))
# Two transactions: an outcome line and a value line each.
if read -r -t 60 -u "${POLL[0]}" l1 && read -r -t 60 -u "${POLL[0]}" l2 &&
    read -r -t 60 -u "${POLL[0]}" l3 && read -r -t 60 -u "${POLL[0]}" l4; then
    kill -INT "$poll_pid"
    wait "$poll_pid"
    rc=$?
    [[ $rc -eq 0 ]] || fail "--poll ended with $rc after SIGINT"
    [[ $l3 == *"@1: normal reply"* && $l4 == *"holding 0 = 7"* ]] || fail "--poll printed: $l1 / $l2 / $l3 / $l4"
else
    kill -KILL "$poll_pid"
    fail "--poll printed no repeated outcome"
fi

# The servers logged each request with its outcome, and end cleanly on SIGTERM.
for pattern in 'read holding registers 0-1 @1: normal reply' \
    'read holding registers 95-104 @1: exception reply, code 2: Illegal data address' \
    'mask write register 1 AND 0xFF00 OR 0x0012 @1: exception reply, code 1: Illegal command' \
    'write single register 30 = 999 \(0x03E7\) @broadcast: applied' \
    'read holding registers 0 @9: ignored'; do
    CASES=$((CASES + 1))
    grep -Eq -- "$pattern" "$WORK/SERVE_RTU.log" || fail "serve log lacks /$pattern/"
    grep -Eq -- "$pattern" "$WORK/SERVE_ASCII.log" || fail "ASCII serve log lacks /$pattern/"
done
# An idle server sleeps: its threads together switch out a handful of times in two seconds at
# most (a wait that looked for Ctrl-C every 100 ms made 20 switches). A resource check, not a
# timing one.
switches() {
    cat /proc/"$1"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n + 0 }'
}
CASES=$((CASES + 1))
before=$(switches "$SERVE_RTU_PID")
sleep 2
idle_switches=$(($(switches "$SERVE_RTU_PID") - before))
((idle_switches <= 5)) || fail "an idle quelvan serve switched $idle_switches times in 2 s"

for name in SERVE_RTU SERVE_ASCII SERVE_ECHO; do
    pid_var=${name}_PID
    CASES=$((CASES + 1))
    kill -TERM "${!pid_var}"
    wait "${!pid_var}"
    rc=$?
    [[ $rc -eq 0 ]] || fail "$name ended with $rc after SIGTERM: $(tail -3 "$WORK/$name.log")"
done

# The simulation: every scripted transaction has its expected outcome.
check 0 '12 of 12 transactions had the expected outcome' simulate
check 0 '12 of 12 transactions had the expected outcome' simulate --mode ascii
check 0 '"event":"summary","passed":12' simulate --json

echo "$CASES cases, $FAILURES failed"
[[ $FAILURES -eq 0 ]]
