#!/usr/bin/env bash
# The demo: print a sample receipt in ESC/POS and a sample label in CPCL with qx-print,
# through the graphics engine and QX470.dll, into qx-emulator listening on loopback; a
# 58 mm receipt through model B's QX250.dll into a model-B emulator; then one label over
# IPP through qx-printer-app.
# Everything it writes stays in out/demo/, with a registry file of its own.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
bin="$top/build/demo/bin"
out="$top/out/demo"
address=127.0.77.1  # the driver always talks to TCP port 9100
address_b=127.0.77.2  # the model-B printer

rm -rf "$out"
mkdir -p "$out"
export QX_REGISTRY="$out/registry.reg"
export QX_DEBUG_LOG="$out/debug.log"

# Writes the printer's key: emulation (0 ESC/POS, 1 CPCL label), "PrintingLength",
# and the label length in tenths of a millimetre.
write_registry() {
  cat > "$QX_REGISTRY" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\Printers\\QX-470 Driver]
"Driver"="QX470.dll"
"Port"="$address"
"StartDocText"="$4"
"EndDocText"=""
"PHeight"=dword:$(printf '%08x' "$3")
"PWidth"=dword:00000050
"PaperSize"=dword:00000000
"Copies"=dword:00000001
"StartLogo"=dword:00000000
"EndLogo"=dword:00000000
"PrintingLength"=dword:$(printf '%08x' "$2")
"UserPaper"=dword:00000001
"Emulation"=dword:$(printf '%08x' "$1")
"BackFeed"=dword:00000000
"Rotation"=dword:00000000

[HKEY_LOCAL_MACHINE\\PrintSettings]
"TimeOut"=dword:0000000a
REG
}

mkdir -p "$out/model-b"
"$bin/qx-emulator" --tcp "$address:9100" --out "$out" > "$out/emulator.out" 2>&1 &
emulator=$!
"$bin/qx-emulator" --model b --tcp "$address_b:9100" --out "$out/model-b" > "$out/model-b/emulator.out" 2>&1 &
emulator_b=$!
trap 'kill $emulator $emulator_b 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  grep -q . "$out/emulator.out" 2>/dev/null && grep -q . "$out/model-b/emulator.out" 2>/dev/null && break
  sleep 0.1
done

echo "printing a receipt (ESC/POS) ..."
write_registry 0 0 1500 "*** SAMPLE RECEIPT ***"
"$bin/qx-print" "$top/tools/demo/logo.png" "$top/tools/demo/receipt.txt"

echo "printing a label (CPCL) ..."
write_registry 1 1 508 ""
"$bin/qx-print" "$top/tools/demo/label.txt"

echo "printing a 58 mm receipt on model B (QX250.dll) ..."
cat > "$QX_REGISTRY" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\Printers\\QX-250 Driver]
"Driver"="QX250.dll"
"Port"="$address_b"
"StartDocText"="*** MODEL B ***"
"EndDocText"=""
"PHeight"=dword:00000096
"PWidth"=dword:0000003a
"PaperSize"=dword:00000000
"Copies"=dword:00000001
"StartLogo"=dword:00000000
"EndLogo"=dword:00000000
"PrintingLength"=dword:00000000
"UserPaper"=dword:00000001

[HKEY_LOCAL_MACHINE\\PrintSettings]
"TimeOut"=dword:0000000a
REG
"$bin/qx-print" -P "QX-250 Driver" "$top/tools/demo/logo.png" "$top/tools/demo/receipt.txt"

echo "printing a label over IPP (qx-printer-app) ..."
port=8470  # the first free port from here on
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
app=("$bin/qx-printer-app")
"${app[@]}" server -o server-port=$port -o listen-hostname=localhost \
  -o spool-directory="$out/ipp-state" -o log-file="$out/qx-printer-app.log" &
server=$!
trap 'kill $emulator $emulator_b $server 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done
system="ipp://localhost:$port/ipp/system" printer="ipp://localhost:$port/ipp/print/demo-label"
"${app[@]}" add -u "$system" -d demo-label -v "qx:$address" -m qx470-cpcl-gap
"${app[@]}" submit -u "$printer" -o copies=1 "$top/tools/demo/logo.png"
for _ in $(seq 300); do  # the job's end, as any IPP client sees it
  state=$("${app[@]}" jobs -u "$printer" | awk '{print $2}')
  case "$state" in completed|aborted|canceled) break ;; esac
  sleep 0.1
done
echo "  job 1: $state"
ipptool -t "$system" "$top/tools/qx-printer-app/shutdown.test" > /dev/null
wait $server || true

sleep 1
kill -TERM $emulator $emulator_b
wait $emulator || true
wait $emulator_b || true
trap - EXIT

echo
echo "The printer's output, as the emulator rendered it:"
ls -1 "$out"/*.png "$out"/model-b/*.png | sed 's/^/  /'
echo "The decoded commands: $out/emulator.log and $out/model-b/emulator.log"
echo "The printer application's log: $out/qx-printer-app.log"
