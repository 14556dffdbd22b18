#!/usr/bin/env bash
# Runs the whole service on its stand-ins so a newcomer sees it work:
#   a POS database (pos-sim), the cloud stand-in (cloud-sim), a sandbox home
#   folder with the registry file and the cloud settings, and CourioSvc in the
#   foreground. It rings up a few delivery invoices; they reach the cloud, the
#   cloud assigns, dispatches and delivers them, and the POS invoices get the
#   driver and the three times back. Then a delivery is turned into a
#   collection, a collection into a delivery and a delivery is overrung; the
#   cloud hears of them as status 93, a new order and status 94. Alongside, a
#   driver's road: driver 0044 clocks in at the POS and the cloud shows it,
#   the POS hands him an invoice and the cloud shows the hand-over, then the
#   cloud sends him on the road and back and the POS attendance row's
#   OnDelivery follows.
#   Ctrl-C stops everything it started.
# COURIO_DEMO_SECONDS=N ends the demo by itself after N seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_TARGETS="CourioSvc pos-sim cloud-sim courio-settings courio_tsql" scripts/build.sh >/dev/null
echo "Built."

SANDBOX=${COURIO_DEMO_HOME:-$PWD/sandbox/demo}
POS=$SANDBOX/pos.db
USER_NAME=demo@courio.test
PASSWORD=demo-pass
STORE_ID=7
rm -rf "$SANDBOX" && mkdir -p "$SANDBOX"

pids=()
cleanup() {
  trap - INT TERM EXIT
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  echo
  echo "Stopped. Sandbox kept in $SANDBOX (log: $SANDBOX/CourioSvc ($(hostname)).log)"
}
trap cleanup INT TERM EXIT

build/pos-sim init "$POS" >/dev/null
build/pos-sim regfile "$POS" >"$SANDBOX/Plinth.reg"
build/pos-sim clockin "$POS" 0042 >/dev/null   # driver Sam (0042) is at work

# The cloud stand-in moves every order one step every few seconds.
build/cloud-sim --port 0 --user "$USER_NAME" --password "$PASSWORD" --auto-progress 4 \
  >"$SANDBOX/cloud-sim.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q "listening on" "$SANDBOX/cloud-sim.out" && break; sleep 0.1; done
PORT=$(sed -n 's/.*listening on \([0-9]*\).*/\1/p' "$SANDBOX/cloud-sim.out" | head -1)
[ -n "$PORT" ] || { echo "cloud-sim did not start"; cat "$SANDBOX/cloud-sim.out"; exit 1; }
curl -s -X POST "http://127.0.0.1:$PORT/_sim/drivers/PLINTH_0042/status" -d '{"status":0}' >/dev/null
# Driver Max (0044) is known to the cloud but not working yet.
curl -s -u "$USER_NAME:$PASSWORD" -X POST "http://127.0.0.1:$PORT/api/driver/json" \
  -d '{"first_name":"Max","last_name":"","current_status":-1,"external_id":"PLINTH_0044"}' >/dev/null

build/courio-settings --home "$SANDBOX" \
  WebService "{\"Url\":\"http://127.0.0.1:$PORT\"}" \
  Account "{\"email_address\":\"$USER_NAME\",\"password\":\"$PASSWORD\"}" \
  Store "{\"id\":$STORE_ID}" >/dev/null

# The admin console's templates and assets live in the home folder.
cp -r build/HTTP "$SANDBOX/"
ADMIN_AUTH=${COURIO_ADMIN_AUTH:-admin:demo}
COURIO_ADMIN_AUTH=$ADMIN_AUTH build/CourioSvc debug --home "$SANDBOX" &
pids+=($!)
echo "CourioSvc is running (home $SANDBOX); cloud stand-in on port $PORT."
echo "Admin console: http://127.0.0.1:${COURIO_HTTP_PORT:-9889}/admin (user ${ADMIN_AUTH%%:*}, password ${ADMIN_AUTH#*:})"
echo "Follow the service's log with: tail -f \"$SANDBOX/CourioSvc ($(hostname)).log\""
echo

# What the cloud stand-in says, as it happens.
tail -n +2 -f "$SANDBOX/cloud-sim.out" | sed -u 's/^/  cloud: /' &
pids+=($!)

LOG="$SANDBOX/CourioSvc ($(hostname)).log"
CLOUD_OUT="$SANDBOX/cloud-sim.out"
# Polls `command...` every half second for up to $1 seconds.
wait_for() {
  local limit=$1
  shift
  for _ in $(seq $((limit * 2))); do "$@" && return 0; sleep 0.5; done
  return 1
}
on_delivery_is() { build/pos-sim attend "$POS" 0044 2>/dev/null | grep -q "\"OnDelivery\":$1"; }
set_status() {
  curl -s -X POST "http://127.0.0.1:$PORT/_sim/drivers/PLINTH_0044/status" -d "{\"status\":$1}" >/dev/null
}

# The driver's road, told alongside the invoices.
driver_road() {
  # Clock in only once the service has looked at the attendance.
  wait_for 30 grep -q "TCourioEventTrackerDriverEvents.Initialise\] Drivers" "$LOG" || return 0
  build/pos-sim clockin "$POS" 0044 >/dev/null
  echo "  POS:   driver Max (0044) clocks in"
  local n
  n=$(build/pos-sim ring "$POS")
  echo "  POS:   rang up delivery invoice $n for Max"
  wait_for 60 grep -q "order plinth-$n received" "$CLOUD_OUT" || return 0
  build/pos-sim assign "$POS" "$n" 0044
  echo "  POS:   invoice $n handed to driver 0044"
  wait_for 60 grep -q "driver PLINTH_0044 clockin" "$CLOUD_OUT" || return 0
  set_status 2
  echo "  demo:  the cloud sends driver PLINTH_0044 on the road (status 2)"
  wait_for 60 on_delivery_is 1 || return 0
  echo "  POS:   driver 0044's attendance row now says OnDelivery=1"
  # The POS reports the departure back; then the driver returns.
  wait_for 60 grep -q "driver PLINTH_0044 leavestore" "$CLOUD_OUT" || return 0
  set_status 0
  echo "  demo:  the cloud has driver PLINTH_0044 back at the store (status 0)"
  wait_for 60 on_delivery_is 0 || return 0
  echo "  POS:   driver 0044's attendance row now says OnDelivery=0"
}
driver_road &
pids+=($!)

sleep 2
invoices=()
for _ in 1 2 3; do
  n=$(build/pos-sim ring "$POS")
  invoices+=("$n")
  echo "  POS:   rang up delivery invoice $n"
  sleep 2
done

# Invoices changed after they were rung up, once the cloud knows the deliveries.
ordered() { [[ $(curl -s "http://127.0.0.1:$PORT/_sim/orders") == *"\"external_id\":\"plinth-$1\""* ]]; }
changes() {
  local collection delivery overrung
  collection=$(build/pos-sim ring "$POS" --collection)
  delivery=$(build/pos-sim ring "$POS")
  overrung=$(build/pos-sim ring "$POS")
  echo "  POS:   rang up collection invoice $collection, delivery invoices $delivery and $overrung"
  for _ in $(seq 60); do ordered "$delivery" && ordered "$overrung" && break; sleep 1; done
  build/pos-sim transtype "$POS" "$delivery" 2 "$collection" 3
  echo "  POS:   turned delivery $delivery into a collection and collection $collection into a delivery"
  build/pos-sim overring "$POS" "$overrung" >/dev/null
  echo "  POS:   overrang delivery $overrung"
}
changes &
pids+=($!)

# One line per invoice: the driver and the three times the cloud sent back.
show() {
  local row field out="  POS:   invoice $1"
  row=$(build/pos-sim show "$POS" "$1")
  for field in Driver TimeToDrvr TimeStampDriver TIMEATCUST; do
    out+=" $field=$(sed -n "s/.*\"$field\":\(\"[^\"]*\"\|null\).*/\1/p" <<<"$row" | tr -d '"')"
  done
  echo "$out"
}

declare -A last
end=$(( $(date +%s) + ${COURIO_DEMO_SECONDS:-1000000000} ))
while [ "$(date +%s)" -lt "$end" ]; do
  for n in "${invoices[@]}"; do
    line=$(show "$n")
    if [ "${last[$n]:-}" != "$line" ]; then echo "$line"; last[$n]=$line; fi
  done
  sleep 2
done
