#!/bin/sh
# zmod4710-sim watch in a terminal of tmux's: the view drawn, redrawn soon after
# another program's change, a state that cannot be read told in the view, a
# terminal too small told and a resize redrawn, next to no CPU while nothing
# changes, and q and Ctrl-C leaving the terminal as it was; then, with no
# terminal, a line a change.
#
#   check-watch.sh ZMOD4710_SIM AO_POWER_ON
set -eu
sim=$1
power_on=$2
work=$(mktemp -d)
server="zmod4710-watch-$$"
trap 'tmux -L "$server" kill-server 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir "$work/traces"
export ZMOD4710_SIM_STATE="$work/backplane.json" ZMOD4710_SIM_TRACE="$work/traces/trace.txt"

fail() {
    echo "check-watch: $*" >&2
    tmux -L "$server" capture-pane -p -t watch >&2 2>/dev/null || true
    exit 1
}

screen() {
    tmux -L "$server" capture-pane -p -t watch
}

# Milliseconds now, from the kernel's clock.
now() {
    awk '{ printf "%d\n", $1 * 1000 }' /proc/uptime
}

# Waits up to $2 milliseconds for the screen to hold $1; how long it took.
await() {
    started=$(now)
    until screen | grep -qF -- "$1"; do
        [ $(($(now) - started)) -le "$2" ] || fail "not on the screen within $2 ms: $1"
        sleep 0.02
    done
    echo $(($(now) - started))
}

# Seconds of CPU the process has used, in clock ticks.
ticks() {
    awk '{ print $14 + $15 }' "/proc/$1/stat"
}

# The watch run by a shell that compares the terminal's settings before and
# after it: what a program that left it raw or without echo would change.
watched="settings() { stty -a | tr ' ;' '\\n\\n' | grep -xE -- '-?(icanon|echo|isig|icrnl|opost)'; }
before=\$(settings); TERM=screen $sim watch; echo \"exit \$?\"
[ \"\$(settings)\" = \"\$before\" ] && echo \"the terminal as it was:\" \$before; sleep 60"
# A session of its own keeps the server up between the watch's sessions: the
# last session killed ends the server, and a session asked for while it ends
# is refused with "server exited unexpectedly".
tmux -L "$server" -f /dev/null new-session -d -s keeper "sleep 600"
tmux -L "$server" -f /dev/null new-session -d -s watch -x 100 -y 30 "$watched"
await "Slot 0: ZM-4710, firmware 3, power-on mode 1 (power-on value)" 3000 >/dev/null
screen | grep -qF "Refusals pending: none" || fail "no refusals line"

# Another program's change, redrawn at once: a refusal for slot 3, marked in
# the grid and told in its detail, where the cursor goes with its digit.
"$sim" refuse GetFirmwareVersion --slot 3 >/dev/null
await " 3 ----!" 1000 >/dev/null
tmux -L "$server" send-keys -t watch 3
await "Refusals pending: zmod4710_GetFirmwareVersion, slot 3: result -4, the next call" 1000 >/dev/null
tmux -L "$server" send-keys -t watch 0
await "Refusals pending: none" 1000 >/dev/null
# The tool's write, its bar, its call.
printf '4\n12\n1\n1\n4\n' | "$power_on" >/dev/null &
took=$(await "  CH 1  12.000 mA [##########          ] 4 ~ 20mA  power-on   4.000 mA 4 ~ 20mA" 1000)
wait
await "zmod4710_WritePowerOn_AO(0, 1, 4, 4) = 0" 1000 >/dev/null
echo "check-watch: redrawn $took ms after the tool's run began"

# Nothing changes for three seconds: at most 1% of a core.
pid=$(tmux -L "$server" list-panes -t watch -F '#{pane_pid}')
watcher=$(pgrep -P "$pid" -f "watch" || echo "$pid")
before=$(ticks "$watcher")
sleep 3
used=$(($(ticks "$watcher") - before))
ticks_a_second=$(getconf CLK_TCK)
[ "$used" -le $((3 * ticks_a_second / 100)) ] || fail "$used ticks of CPU in 3 idle seconds"

# A state that cannot be read is told in the view, which waits for one that can.
printf '{' >"$ZMOD4710_SIM_STATE"
await "  $ZMOD4710_SIM_STATE is not a backplane state" 1000 >/dev/null
"$sim" reset >/dev/null 2>&1 || rm -f "$ZMOD4710_SIM_STATE"
"$sim" insert 5 --module ZM-4704 >/dev/null
await " 5 4704    0.00V    0.00V    0.00V    0.00V         -        -        -        -" 1000 >/dev/null
tmux -L "$server" send-keys -t watch Up Up Up
await "Slot 5: ZM-4704, firmware 3" 1000 >/dev/null

# Too small, told; larger again, redrawn.
tmux -L "$server" resize-window -t watch -x 60 -y 12
await "The terminal is too small (60x12):" 1000 >/dev/null
tmux -L "$server" resize-window -t watch -x 100 -y 30
await "Slot 5: ZM-4704, firmware 3" 1000 >/dev/null

# q leaves the terminal as it was: its status 0, and the settings a shell had.
tmux -L "$server" send-keys -t watch q
await "exit 0" 1000 >/dev/null
await "the terminal as it was: icrnl opost isig icanon echo" 1000 >/dev/null
tmux -L "$server" kill-session -t watch

# So does Ctrl-C.
tmux -L "$server" -f /dev/null new-session -d -s watch -x 100 -y 30 "$watched"
await ">0 4710" 3000 >/dev/null
tmux -L "$server" send-keys -t watch C-c
await "exit 0" 1000 >/dev/null
await "the terminal as it was: icrnl opost isig icanon echo" 1000 >/dev/null

tmux -L "$server" kill-session -t watch

# Eight modules in 80x24: the grid whole, the cursor's detail, its calls; the
# trace's folder removed and made again, followed still.
for slot in 1 2 3 4 6 7; do "$sim" insert "$slot" >/dev/null; done
"$sim" insert 5 --replace >/dev/null
tmux -L "$server" -f /dev/null new-session -d -s watch -x 80 -y 24 "$watched"
await " 7 4710" 3000 >/dev/null
tmux -L "$server" send-keys -t watch Left
await "Slot 7: ZM-4710, firmware 3, power-on mode 1 (power-on value)" 1000 >/dev/null
# A change is among the lines of the slots it changed alone.
await "! insert 7 ZM-4710 firmware 3" 1000 >/dev/null
screen | grep -qF "! insert 6 " && fail "slot 6's insert among slot 7's lines"
screen | sed -n '2,10p' >"$work/grid"
{
    echo "  Module      CH0      CH1      CH2      CH3      CH4      CH5      CH6      CH7"
    for slot in 0 1 2 3 4 5 6; do
        echo " $slot 4710    0.00V    0.00V    0.00V    0.00V    0.00V    0.00V    0.00V    0.00V"
    done
    echo ">7 4710    0.00V    0.00V    0.00V    0.00V    0.00V    0.00V    0.00V    0.00V"
} >"$work/expected"
cmp -s "$work/grid" "$work/expected" || fail "the grid: $(diff "$work/expected" "$work/grid")"
[ "$(screen | wc -l)" -le 24 ] || fail "more than 24 rows"
rm -r "$work/traces" && mkdir "$work/traces"
"$sim" calibrate 7 2 0 --gain 7 --offset 7 >/dev/null
await "! calibrate 7 2 0 gain 7 offset 7" 1000 >/dev/null
tmux -L "$server" resize-window -t watch -x 20 -y 5
await "The terminal is too" 1000 >/dev/null
screen | awk 'length > 20 { bad = 1 } END { exit bad }' || fail "the message is wider than 20"
tmux -L "$server" kill-session -t watch

# A view whose standard input is at its end waits without a core.
tmux -L "$server" -f /dev/null new-session -d -s watch -x 80 -y 24 \
    "TERM=screen $sim watch </dev/null; sleep 60"
await ">0 4710" 3000 >/dev/null
pid=$(tmux -L "$server" list-panes -t watch -F '#{pane_pid}')
watcher=$(pgrep -P "$pid" -f "watch" || echo "$pid")
before=$(ticks "$watcher")
sleep 2
used=$(($(ticks "$watcher") - before))
[ "$used" -le $((2 * ticks_a_second / 100)) ] || fail "$used ticks in 2 s with input at its end"
tmux -L "$server" kill-session -t watch

# With no terminal, a line a change, each begun with the time.
logged() {
    tries=0
    until grep -qF -- "$1" "$work/log"; do
        tries=$((tries + 1))
        [ "$tries" -le 100 ] || fail "not logged within 2 s: $1"
        sleep 0.02
    done
}
"$sim" watch >"$work/log" 2>&1 &
logger=$!
logged "refusals pending: none"
"$sim" remove 5 >/dev/null
"$sim" calibrate 0 0 0 --gain 1 --offset 1 >/dev/null # no output changed: no line
"$sim" refuse WriteAO >/dev/null
logged "refusals pending: zmod4710_WriteAO"
kill -TERM "$logger"
wait "$logger" || fail "watch ended with $? on a termination"
sed 's/^[0-9T:.-]*Z //' "$work/log" | tail -n 2 >"$work/changes"
printf '%s\n' "slot 5: empty" \
    "refusals pending: zmod4710_WriteAO, any slot, any channel: result -4, the next call" \
    >"$work/expected"
cmp -s "$work/changes" "$work/expected" || fail "the lines logged: $(cat "$work/log")"
grep -qvE '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]{15}Z ' "$work/log" && fail "a line without its time"
echo "check-watch: the view, its redraws, its refusals and its lines are as they should be"
