# SPDX-License-Identifier: GPL-3.0-or-later
# A site over TLS with Windows in it, sourced by tests/windows/run.sh (its prefix, its Xvfb, its
# helpers, COM1's virtual panel): a Linux Mosquitto with test certificates made here; the portable
# Windows post on COM1 and a Linux post on a virtual panel of its own, both over TLS; a request with
# a `pedido` to each, their retained states, info and Home Assistant entries read back and held
# against each other and against what they must say; painel-central.exe seeing both and stopping
# both with Escape. Then what a post refuses, which must be the same on both systems: no TLS to a
# broker elsewhere, an authority that did not sign the broker's certificate, a broker down at the
# start, a password file others may read. Last, the time from a request's publication to its
# last byte on the line, for each post (reported, no goal).

step "a site over TLS: test certificates and a broker"
site=$scratch/site
mkdir -p "$site"
(
    cd "$site"
    # An authority, the broker's certificate from it for localhost, and an authority nobody used.
    for ca in ca other; do
        openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=painel-teste-$ca" -keyout "$ca.key" -out "$ca.pem"
    done
    openssl req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout broker.key -out broker.csr
    printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\n' >san.ext
    openssl x509 -req -in broker.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile san.ext -out broker.pem
) >"$scratch/certificates.log" 2>&1 || fail "no test certificates"
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
mqtt_port=$(free_port)
# On both loopback addresses, whichever "localhost" gives first.
for address in 127.0.0.1 ::1; do
    printf 'listener %s %s\ncafile %s\ncertfile %s\nkeyfile %s\n' "$mqtt_port" "$address" "$site/ca.pem" "$site/broker.pem" "$site/broker.key"
done >"$site/mosquitto.conf"
# As whoever runs the test, who alone may read its folder (root's Mosquitto would become mosquitto).
printf 'allow_anonymous true\nuser %s\n' "$(id -un)" >>"$site/mosquitto.conf"
/usr/sbin/mosquitto -c "$site/mosquitto.conf" >"$scratch/mosquitto.log" 2>&1 &
pids+=($!)
broker=(-h localhost -p "$mqtt_port" --cafile "$site/ca.pem" -q 1)
broker_up() { timeout 5 mosquitto_pub "${broker[@]}" -t painel-teste/up -n 2>/dev/null; }
within 10 broker_up || fail "the broker did not start"

# The Windows post's folders, as Wine's %APPDATA% and %LOCALAPPDATA% are for it.
appdata=$(dirname "$prefs")
win_ca="Z:${site}/ca.pem"
# The Linux post: its own home, runtime folder and virtual panel.
home=$site/linux
mkdir -p "$home/config/painel-sinaletico" "$home/state"
mkdir -m 700 "$home/runtime"
"$linux/painel-monitor" --pty >"$scratch/linux-panel.log" 2>&1 &
pids+=($!)
within 10 test -s "$scratch/linux-panel.log" || fail "the Linux post's virtual panel did not start"
ln -s "$(head -n 1 "$scratch/linux-panel.log")" "$home/config/painel-sinaletico/com1"
printf 'COM=1\r\nMODE= 1\r\nCOLOUR= 255\r\n' >"$home/config/painel-sinaletico/pref.vyr"
printf 'COM=1\r\nMODE= 1\r\nCOLOUR= 255\r\n' >"$appdata/pref.vyr"
linux_post() {
    env HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_STATE_HOME="$home/state" XDG_RUNTIME_DIR="$home/runtime" QT_QPA_PLATFORM=offscreen \
        DBUS_SESSION_BUS_ADDRESS=disabled: "$linux/painel-sinaletico" >>"$scratch/linux-post.log" 2>&1 &
    linux_pid=$!
    pids+=($linux_pid)
}
win_post() {
    wine "$scratch/portable/painel-sinaletico.exe" >>"$scratch/windows-post.log" 2>&1 &
    pids+=($!)
}
# Both posts' [mqtt] settings: $1 the Windows post's id and authority, $2 the Linux post's, then
# the lines both share.
settings() {
    local common=$3
    printf '[mqtt]\nid=janela\nca_file=%s\n%s' "$1" "$common" | sed 's/$/\r/' >"$appdata/painel-sinaletico.conf"
    printf '[mqtt]\nid=linux\nca_file=%s\n%s' "$2" "$common" >"$home/config/painel-sinaletico/painel-sinaletico.conf"
}
# Both programs end; Wine's too, so that the next start is a first copy.
end_posts() {
    kill "$linux_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    timeout 60 wineserver -w || true
    within 10 bash -c "! kill -0 $linux_pid 2>/dev/null" || fail "the Linux post did not end"
}
# The last MQTT failure a journal holds: "resultado: motivo", with the post's own file names as FILE.
# A journal's rows, `$2` a query: read from a copy of the file and its write-ahead log, as a
# Windows program's locks on the log's index mean nothing to Linux's SQLite.
journal_query() {
    python3 - "$1" "$2" <<'PY'
import os, shutil, sqlite3, sys, tempfile
with tempfile.TemporaryDirectory() as folder:
    copy = os.path.join(folder, "registo.sqlite")
    try:
        shutil.copy(sys.argv[1], copy)
        if os.path.exists(sys.argv[1] + "-wal"):
            shutil.copy(sys.argv[1] + "-wal", copy + "-wal")
        rows = sqlite3.connect(copy).execute(sys.argv[2]).fetchall()
    except (OSError, sqlite3.Error):
        rows = []
print("\n".join(str(row[0]) for row in rows))
PY
}
mqtt_failure() {
    local said
    said=$(journal_query "$1" "SELECT resultado || ': ' || motivo FROM registo WHERE acao = 'MQTT' AND falha = 1 ORDER BY id DESC LIMIT 1")
    printf '%s' "${said//$2/FILE}"
}
win_journal() { find "$WINEPREFIX/drive_c/users" -path '*/AppData/Local/painel-sinaletico/registo.sqlite' | head -n 1; }
linux_journal=$home/state/painel-sinaletico/registo.sqlite
# Waits until both journals say why MQTT failed, and the reasons agree; $1 the Windows post's file
# name as its reasons say it, $2 the Linux post's.
same_failure() {
    local w l
    w=$(mqtt_failure "$(win_journal)" "$1")
    l=$(mqtt_failure "$linux_journal" "$2")
    [ -n "$w" ] && [ -n "$l" ] && [ "${w%% (*}" = "${l%% (*}" ]
}

step "a site over TLS: a Windows post and a Linux post"
settings "$win_ca" "$site/ca.pem" "host=localhost
port=$mqtt_port
tls=true
home_assistant=true
"
printf '[mqtt]\r\nhost=localhost\r\nport=%s\r\ntls=true\r\nca_file=%s\r\nid=central\r\n' "$mqtt_port" "$win_ca" >"$appdata/painel-central.conf"
wine "$scratch/portable/painel-central.exe" >"$scratch/central.log" 2>&1 &
pids+=($!)
within 60 shown '^Painel Central$' || fail "no Painel Central window"
central_journal() { find "$WINEPREFIX/drive_c/users" -path '*/AppData/Local/painel-sinaletico/registo-central.sqlite' | head -n 1; }
journal_says() { journal_query "$(central_journal)" "SELECT acao || ' ' || resultado || ' ' || coalesce(pormenor, '') FROM registo ORDER BY id"; }
# The control room first: the posts' coming online is news it journals.
central_connected() { local j; j=$(journal_says); grep -q '^MQTT MQTT ligado' <<<"$j"; }
within 60 central_connected || fail "the control room did not connect: $(journal_says)"
before_win=$(lines_of "$scratch/com1.log")
win_post
linux_post
within 60 has_frames "$scratch/com1.log" "$before_win" 9 || fail "no start-up from the Windows post"
online() { [ "$(timeout 10 mosquitto_sub "${broker[@]}" -t "painel-sinaletico/$1/estado" -C 1 -W 5 2>/dev/null)" = online ]; }
within 60 online janela || fail "the Windows post is not online over TLS"
within 30 online linux || fail "the Linux post is not online over TLS"

# The same request to each, with its pedido; the answer comes back with it.
for post in janela linux; do
    timeout 30 mosquitto_sub "${broker[@]}" -t "painel-sinaletico/$post/resposta" -C 1 -W 25 >"$site/$post.answer" 2>/dev/null &
    answer_pid=$!
    sleep 0.5 # mosquitto_sub has no word for "subscribed"; its own connection takes less than this
    mosquitto_pub "${broker[@]}" -t "painel-sinaletico/$post/sinal/set" -m "{\"sinal\":\"Xadrez\",\"pedido\":\"wine-$post\",\"origem\":\"teste\"}" ||
        fail "the request to $post was not published"
    wait "$answer_pid" || fail "no answer from $post: $(cat "$site/$post.answer")"
done
within 10 has_frames "$scratch/com1.log" "$before_win" 19 || fail "no chequered flag on the Windows post's line"
[ "$(frames_since "$scratch/com1.log" "$before_win" | sed -n 10,15p)" = "$(sed -n 1,6p <<<"$flag")" ] ||
    fail "the Windows post's flag differs: $(frames_since "$scratch/com1.log" "$before_win" | sed -n 10,15p)"
# What the broker keeps of each post, without the times: the two must agree word for word.
retained() { timeout 10 mosquitto_sub "${broker[@]}" -t "$1" -C 1 -W 5 2>/dev/null; }
held() {
    python3 -c '
import json, sys
text = sys.stdin.read()
try:
    state = json.loads(text)
except ValueError:
    sys.exit(print(repr(text)))
for key in ("hora", "nome"):
    state.pop(key, None)
print(json.dumps(state, ensure_ascii=False, sort_keys=True))'
}
[ "$(held <"$site/janela.answer")" = '{"eco": "desligado", "origem": "teste", "pedido": "wine-janela", "resultado": "enviado", "sinal": "Xadrez"}' ] ||
    fail "the Windows post's answer: $(cat "$site/janela.answer")"
win_state=$(retained painel-sinaletico/janela/sinal | held)
[ "$win_state" = '{"cor": "", "eco": "desligado", "escolhido": "Xadrez", "modo": "multicor", "origem": "remoto", "pedido": "wine-janela", "resultado": "enviado", "sinal": "Xadrez"}' ] ||
    fail "the Windows post's retained state: $win_state"
[ "$(retained painel-sinaletico/linux/sinal | held | sed 's/wine-linux/wine-janela/')" = "$win_state" ] ||
    fail "the Linux post's state differs: $(retained painel-sinaletico/linux/sinal)"
win_info=$(retained painel-sinaletico/janela/info | held)
[ "$win_info" = "{\"cor\": \"\", \"dispositivo\": \"COM1\", \"modo\": \"multicor\", \"porta\": \"COM1\", \"versao\": \"$version\"}" ] ||
    fail "the Windows post's info: $win_info"
ha() { retained "homeassistant/select/$1/sinal/config" | held | sed "s/$1/ID/g"; }
win_ha=$(ha janela)
[[ "$win_ha" == *'"command_topic": "painel-sinaletico/ID/sinal/set"'* ]] || fail "no Home Assistant entry from the Windows post: $win_ha"
[ "$(ha linux | sed 's/"name": "[^"]*", "sw_version"/"sw_version"/')" = "$(sed 's/"name": "[^"]*", "sw_version"/"sw_version"/' <<<"$win_ha")" ] ||
    fail "the posts' Home Assistant entries differ: $win_ha"

step "a site over TLS: painel-central.exe stops both with Escape"
before_linux=$(lines_of "$scratch/linux-panel.log")
before_win=$(lines_of "$scratch/com1.log")
sees_both() { local j; j=$(journal_says); grep -q '^posto em linha .*janela' <<<"$j" && grep -q '^posto em linha .*linux' <<<"$j"; }
within 60 sees_both || fail "the control room did not see both posts: $(journal_says)"
xdo windowactivate --sync "$(window '^Painel Central$')" key Escape
stop_frames="A5 79 5A 75 E7  set_redled_time 25
A5 79 5A 76 51  set_greenled_time 175
A5 79 5A 73 C3 E7 7E 3C 3C 7E E7 C3  red plane
A5 79 5A 74 00 00 00 00 00 00 00 00  green plane
A5 79 5A 7B 04  set_sign_code 4
A5 79 5A 71  display_on"
stopped_on() { frames_since "$1" "$2" | grep -q 'set_sign_code 4$'; }
within 10 stopped_on "$scratch/com1.log" "$before_win" || fail "no Parar on the Windows post's line"
within 10 stopped_on "$scratch/linux-panel.log" "$before_linux" || fail "no Parar on the Linux post's line"
for line in "$scratch/com1.log:$before_win" "$scratch/linux-panel.log:$before_linux"; do
    # The flag's ticks may come before it; from the first frame of Parar, exactly its six.
    got=$(frames_since "${line%:*}" "${line##*:}" | sed -n '/set_redled_time 25$/,$p' | head -n 6)
    [ "$got" = "$stop_frames" ] || fail "Parar on ${line%:*} differs: $got"
done
summary() { local j; j=$(journal_says); grep '^resumo ' <<<"$j" | tail -n 1; }
summed_up() { [[ "$(summary)" == "resumo Parar: 2 de 2 confirmados pedido "* ]]; }
within 20 summed_up || fail "the control room's summary: $(summary)"

step "a site over TLS: a request's publication to its last byte on the line, each post"
# One publisher connected beforehand, so that only the request's own way is timed: 10 signs in
# turn to each post, each timed until its last frame (display_on) is on the virtual panel's line.
latency() {
    python3 - "$1" "$2" "${broker[@]}" <<'PY'
import statistics, subprocess, sys, time
log, post, broker = sys.argv[1], sys.argv[2], sys.argv[3:]
publisher = subprocess.Popen(["mosquitto_pub", *broker, "-t", f"painel-sinaletico/{post}/sinal/set", "-l"], stdin=subprocess.PIPE, text=True)
time.sleep(1.5)
def shown():
    with open(log, errors="replace") as lines:
        return sum(1 for line in lines if line.rstrip().endswith("display_on"))
times = []
for n in range(10):
    before = shown()
    start = time.monotonic()
    publisher.stdin.write('{"sinal":"%s","pedido":"tempo-%s-%d"}\n' % (("Frente", "Esquerda")[n % 2], post, n))
    publisher.stdin.flush()
    while shown() == before:
        if time.monotonic() - start > 10:
            sys.exit(f"sign {n} never reached {post}'s line")
        time.sleep(0.002)
    times.append((time.monotonic() - start) * 1000)
    time.sleep(0.6)
publisher.stdin.close()
publisher.wait()
print(f"median {statistics.median(times):.0f} ms, worst {max(times):.0f} ms")
PY
}
win_latency=$(latency "$scratch/com1.log" janela) || fail "the Windows post's timing: $win_latency"
linux_latency=$(latency "$scratch/linux-panel.log" linux) || fail "the Linux post's timing: $linux_latency"
echo "   publication to last byte: Windows post under Wine $win_latency; Linux post $linux_latency"

step "a site over TLS: what a post refuses, the same on both systems"
end_posts
# Each case: the settings, then the reason both posts must give.
check_refusal() {
    local what=$1
    # Only this case's reasons: the journals start anew.
    local j
    for j in "$(win_journal)" "$linux_journal"; do [ -z "$j" ] || rm -f "$j" "$j-wal" "$j-shm"; done
    win_post
    linux_post
    within 60 same_failure "$2" "$3" ||
        fail "$what: Windows says \"$(mqtt_failure "$(win_journal)" "$2")\", Linux \"$(mqtt_failure "$linux_journal" "$3")\""
    echo "   $what: $(mqtt_failure "$linux_journal" "$3")"
    end_posts
}
settings "$win_ca" "$site/ca.pem" "host=192.0.2.10
port=$mqtt_port
"
check_refusal "no TLS to a broker elsewhere" "$win_ca" "$site/ca.pem"
settings "Z:${site}/other.pem" "$site/other.pem" "host=localhost
port=$mqtt_port
tls=true
"
check_refusal "another authority" "Z:${site}/other.pem" "$site/other.pem"
settings "$win_ca" "$site/ca.pem" "host=localhost
port=$(free_port)
tls=true
"
check_refusal "no broker at the start" "$win_ca" "$site/ca.pem"
settings "$win_ca" "$site/ca.pem" "host=127.0.0.1
port=$(free_port)
"
check_refusal "no broker at the start, on this machine without TLS" "$win_ca" "$site/ca.pem"
printf 'segredo\n' >"$site/password"
chmod 644 "$site/password"
settings "$win_ca" "$site/ca.pem" "host=localhost
port=$mqtt_port
tls=true
user=posto
password_file=PASSWORD
"
sed -i "s|PASSWORD|Z:${site}/password|" "$appdata/painel-sinaletico.conf"
sed -i "s|PASSWORD|${site}/password|" "$home/config/painel-sinaletico/painel-sinaletico.conf"
check_refusal "a password file others may read" "Z:${site}/password" "$site/password"
