#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The example flow for Node-RED (packaging/node-red/) end to end: a real Node-RED (installed from
# npm by scripts/deps.sh node-red), a real Mosquitto and two posts, each on a virtual panel. The
# flow's injects set one post, then the other, then stop them all; the frames must reach the
# panels' lines, and the flow must have received every request's answer, with its id, and each
# post's state.
# Usage: tests/node-red/run.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
node_red=${NODE_RED:-${XDG_CACHE_HOME:-$HOME/.cache}/painel-sinaletico/node-red/node_modules/.bin/node-red}
flow=$root/packaging/node-red/painel-sinaletico.json
tab=b0a1f0000000001

scratch=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
    echo "node-red check: $*" >&2
    for log in "$scratch"/*.log; do [ -s "$log" ] && { echo "--- $(basename "$log")"; tail -n 30 "$log"; } >&2; done
    exit 1
}
step() { echo "== node-red: $*"; }
# Tries the command every 100 ms for up to $1 seconds.
within() {
    local tenths=$(($1 * 10))
    shift
    for ((i = 0; i < tenths; i++)); do "$@" && return 0; sleep 0.1; done
    return 1
}
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

[ -x "$node_red" ] || fail "no Node-RED at $node_red (scripts/deps.sh node-red installs it)"
mqtt_port=$(free_port)
api=http://127.0.0.1:$(free_port)

step "a broker and two posts on virtual panels"
printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$mqtt_port" >"$scratch/mosquitto.conf"
/usr/sbin/mosquitto -c "$scratch/mosquitto.conf" >"$scratch/mosquitto.log" 2>&1 &
pids+=($!)
for n in 1 2; do
    home=$scratch/posto-$n
    mkdir -p "$home/config/painel-sinaletico" "$home/state"
    mkdir -m 700 "$home/runtime"
    "$build/painel-monitor" --pty >"$scratch/panel-$n.log" 2>&1 &
    pids+=($!)
    within 10 test -s "$scratch/panel-$n.log" || fail "virtual panel $n did not start"
    ln -s "$(head -n 1 "$scratch/panel-$n.log")" "$home/config/painel-sinaletico/com1"
    printf '[mqtt]\nhost=127.0.0.1\nport=%s\nid=posto-%s\n' "$mqtt_port" "$n" >"$home/config/painel-sinaletico/painel-sinaletico.conf"
    env HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_STATE_HOME="$home/state" XDG_RUNTIME_DIR="$home/runtime" QT_QPA_PLATFORM=offscreen \
        DBUS_SESSION_BUS_ADDRESS=disabled: "$build/painel-sinaletico" >"$scratch/posto-$n.log" 2>&1 &
    pids+=($!)
done

step "Node-RED with the example flow"
mkdir "$scratch/node-red"
cp "$flow" "$scratch/node-red/flows.json"
PAINEL_MQTT_HOST=127.0.0.1 PAINEL_MQTT_PORT=$mqtt_port "$node_red" --userDir "$scratch/node-red" --port "${api##*:}" flows.json >"$scratch/node-red.log" 2>&1 &
pids+=($!)
# What the flow keeps in its context, as JSON.
context() { curl -sf "$api/context/flow/$tab/$1" | python3 -c 'import json, sys; print(json.loads(sys.stdin.read())["msg"])'; }
# The flow knows both posts online once its broker node is connected and both posts are.
both_online() { [ "$(context em_linha 2>/dev/null)" = '{"posto-1":true,"posto-2":true}' ]; }
within 60 both_online || fail "the flow never saw both posts online: $(context em_linha 2>&1)"

# Presses an inject of the flow.
press() { curl -sf -X POST "$api/inject/$1" >/dev/null || fail "inject $1 refused"; }
# The frames a virtual panel has printed, without their times.
frames() { grep '  A5 ' "$1" | sed 's/^[0-9.]*  //' || true; }
# Pipes end in a variable, not in grep -q: with pipefail, grep quitting at its first match would
# fail the writer with a broken pipe and the check with it.
has_sign() { local f; f=$(frames "$scratch/panel-$1.log"); grep -q "set_sign_code $2$" <<<"$f"; }
# The answers the flow received, one "post resultado sinal origem pedido" a line.
answers() {
    context respostas | python3 -c '
import json, sys
for a in json.loads(sys.stdin.read()):
    print(a["posto"], a["resultado"], a.get("sinal", "-"), a.get("origem", "-"), a["pedido"])'
}
answered() { [ "$(answers | grep -c "$1")" -ge "$2" ]; }

step "Frente on posto-1, Xadrez on posto-2"
press b0a1f0000000010
within 10 has_sign 1 2 || fail "no Frente (code 2) on posto-1's panel: $(frames "$scratch/panel-1.log" | tail -n 3)"
press b0a1f0000000011
within 10 has_sign 2 7 || fail "no flag on posto-2's panel"
within 10 answered "enviado" 2 || fail "the flow has not both answers: $(answers)"
got=$(answers)
grep -Eq '^posto-1 enviado Frente node-red node-red-[0-9]+-1$' <<<"$got" || fail "posto-1's answer: $got"
grep -Eq '^posto-2 enviado Xadrez node-red node-red-[0-9]+-2$' <<<"$got" || fail "posto-2's answer: $got"

step "Parar em todos"
before=$(frames "$scratch/panel-1.log" | grep -c 'set_sign_code 4$' || true)
press b0a1f0000000013
stopped() {
    local last
    last=$(frames "$scratch/panel-2.log" | tail -n 40)
    [ "$(frames "$scratch/panel-1.log" | grep -c 'set_sign_code 4$')" -gt "$before" ] && grep -q 'set_sign_code 4$' <<<"$last"
}
within 10 stopped || fail "not every panel shows Parar"
within 10 answered "enviado Parar node-red node-red-todos-" 2 || fail "not every post answered the stop: $(answers)"
states() { context estados | python3 -c 'import json, sys; s = json.loads(sys.stdin.read()); print(" ".join(s[p]["sinal"] + "/" + s[p]["escolhido"] for p in sorted(s)))'; }
# What each panel shows and what was chosen last, as the posts' states say.
stopped_states() { [ "$(states)" = "Parar/Parar Parar/Parar" ]; }
within 10 stopped_states || fail "the flow's states: $(states)"
echo "node-red check: all passed"
