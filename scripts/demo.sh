#!/usr/bin/env bash
# demo.sh BUILD_DIR: the installer's main job end to end on the built-in demo,
# headless. Everything happens in a sandbox under BUILD_DIR/demo (made fresh
# each run): HOME, the XDG folders, the machine prefix and the temporary
# folder point there, and every server listens on 127.0.0.1 only.
#
#   1. zel-pack packs the demo product (Brondex.exe, uninstall.exe).
#   2. One mirror-server plays three mirrors; the third resets its
#      connections mid-transfer, so the engine's supervision has work to do.
#   3. zel-pack writes the download configuration for the three mirrors.
#   4. vendor-server stands in for the statistics server.
#   5. zel-install downloads, verifies, installs, registers, makes shortcuts,
#      runs the product's install step and reports.
#   6. The results are shown and checked; any failed check fails the demo.
set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
tools=$build/tools
demo=$build/demo

say() { printf '\n== %s\n' "$*"; }
fail() {
  echo "demo: FAILED: $*" >&2
  exit 1
}

for program in zel-pack/zel-pack mirror-server/mirror-server vendor-server/vendor-server \
  zel-install/zel-install zel-reg/zel-reg demo-product/Brondex.exe demo-product/uninstall.exe; do
  [[ -x $tools/$program ]] || fail "$tools/$program is missing; build first (cmake --build --preset release)"
done

# --- The sandbox -------------------------------------------------------------
rm -rf "$demo"
mkdir -p "$demo"/{home,machine,tmp,product,pkg,store}
export HOME=$demo/home
export XDG_CONFIG_HOME=$HOME/.config
export XDG_DATA_HOME=$HOME/.local/share
export XDG_CACHE_HOME=$HOME/.cache
export XDG_DOCUMENTS_DIR=$HOME/Documents
export XDG_DESKTOP_DIR=$HOME/Desktop
export ZEL_MACHINE_PREFIX=$demo/machine
export TMPDIR=$demo/tmp
unset ZEL_EMULATE_WINVER ZEL_EMULATE_ARCH

# --- Servers, stopped whatever happens ---------------------------------------
pids=()
stop_servers() {
  local pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
}
trap stop_servers EXIT

# Waits up to 10 s for a line matching $2 in file $1 written by process $3.
wait_for_line() {
  local i
  for ((i = 0; i < 100; i++)); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    kill -0 "$3" 2>/dev/null || fail "server $3 ended early: $(cat "$1" "$1.err" 2>/dev/null)"
    sleep 0.1
  done
  fail "server $3 did not start in time"
}

started=$(date +%s)

# --- 1. The package -----------------------------------------------------------
say "Packing the demo product"
cp "$tools/demo-product/Brondex.exe" "$demo/product/"
# Incompressible sample data, so the package spans several 1 MiB chunks and
# the download has something to split between mirrors.
head -c $((5 * 1024 * 1024)) /dev/urandom >"$demo/product/brondex-data.bin"
package=$demo/pkg/setup.exe
"$tools/zel-pack/zel-pack" build --files "$demo/product" \
  --uninstaller "$tools/demo-product/uninstall.exe" --out "$package" --x64
echo "package: $package ($(stat -c %s "$package") bytes)"

# --- 2. Mirrors ----------------------------------------------------------------
say "Starting three mirrors on 127.0.0.1 (mirror 2 resets its first transfers mid-way)"
# The mirror server ends when its standard input closes: the script holds the
# writing end, so the server cannot outlive it even after a kill -9.
mkfifo "$demo/mirror.in"
"$tools/mirror-server/mirror-server" --file "$package" --name setup.exe \
  --log "$demo/mirror-requests.log" --watch-stdin \
  --mirror port=0,rate=400K \
  --mirror port=0,rate=400K \
  --mirror port=0,rate=400K,reset_after=300K,faults_for=2 \
  <"$demo/mirror.in" >"$demo/mirror.out" 2>"$demo/mirror.out.err" &
pids+=($!)
exec 3>"$demo/mirror.in"
wait_for_line "$demo/mirror.out" '^ready' "${pids[-1]}"
urls=()
while read -r _ index _ port _; do
  urls+=("http://127.0.0.1:$port/download/setup.exe")
  echo "mirror $index: http://127.0.0.1:$port/download/setup.exe"
done < <(grep '^mirror ' "$demo/mirror.out")
[[ ${#urls[@]} -eq 3 ]] || fail "expected three mirrors, got ${#urls[@]}"

# --- 3. The download configuration --------------------------------------------
"$tools/zel-pack/zel-pack" config "$package" "${urls[@]}" >"$demo/download.xml"
echo "configuration: $demo/download.xml"

# --- 4. The statistics server --------------------------------------------------
say "Starting the vendor's statistics server on 127.0.0.1"
"$tools/vendor-server/vendor-server" --store "$demo/store" \
  >"$demo/vendor.out" 2>"$demo/vendor.out.err" &
pids+=($!)
wait_for_line "$demo/vendor.out" '^[0-9]' "${pids[-1]}"
vendor=http://127.0.0.1:$(head -n 1 "$demo/vendor.out")
echo "vendor server: $vendor"

# --- 5. The installation -------------------------------------------------------
say "Running zel-install"
"$tools/zel-install/zel-install" --config "$demo/download.xml" --desktop-shortcut \
  --stats-url "$vendor/api/install/online.php" --log-url "$vendor/api/install/index_log.php" ||
  fail "zel-install exited with status $?"

# --- 6. What happened ----------------------------------------------------------
log=$XDG_DOCUMENTS_DIR/Telviska/Log/install.log
key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Telviska(x64)'

say "The install log (last 40 lines of $log)"
[[ -f $log ]] || fail "no install log at $log"
tail -n 40 "$log"
grep -q 'Download Finish Result : succeed(5)' "$log" || fail "the log shows no successful download"

say "Supervision: transfers that failed and the ones that replaced them"
grep -E 'Download_Internal ERROR|Download_BeginDownloadItem|Download_CheckFinish : Finish' "$log" || true
for index in 0 1 2; do
  echo "mirror $index: $(grep -c "^$index GET /download/" "$demo/mirror-requests.log" || true) range requests"
done
grep -q 'Download_Internal ERROR' "$log" || fail "mirror 2's resets did not show in the log"
[[ $(grep -c 'Download_BeginDownloadItem' "$log") -gt 6 ]] ||
  fail "the dispatcher did not replace the failed transfers"

say "The registry entry ($key)"
"$tools/zel-reg/zel-reg" query "$key" || fail "no uninstall entry"
folder=$("$tools/zel-reg/zel-reg" query "$key" InstallLocation) || fail "no InstallLocation"

say "The installed files ($folder)"
[[ -d $folder ]] || fail "the install folder $folder is missing"
(cd "$folder" && find . -type f -printf '%-24p %10s bytes\n' | sort)
[[ -x $folder/Brondex.exe && -x $folder/uninstall.exe ]] || fail "Brondex.exe or uninstall.exe missing"
cmp -s "$demo/product/brondex-data.bin" "$folder/brondex-data.bin" || fail "installed data differs"

say "The shortcuts"
shortcuts=$(find "$HOME" "$ZEL_MACHINE_PREFIX" -name '*.desktop' | sort)
[[ -n $shortcuts ]] || fail "no shortcuts were made"
sed "s|^$demo/||" <<<"$shortcuts"
[[ -f "$XDG_DESKTOP_DIR/Telviska (x64).desktop" ]] || fail "no desktop shortcut"

say "Brondex.log (the product's own install step)"
[[ -f $folder/Brondex.log ]] || fail "the product's install step did not run"
cat "$folder/Brondex.log"
grep -q '/install' "$folder/Brondex.log" || fail "Brondex.log does not show /install"

say "What the statistics server received"
reports=0
for request in "$demo"/store/*; do
  [[ -d $request ]] || continue
  echo "${request##*/}:"
  if [[ -f $request/json_data ]]; then
    cat "$request/json_data"
    echo
    reports=$((reports + 1))
  else
    cut -f1-3 "$request/parts.txt"
  fi
done
grep -qs '"install_status":"start"' "$demo"/store/*-online/json_data || fail "no start report arrived"
grep -qs '"install_status":"success"' "$demo"/store/*-online/json_data || fail "no final report with success arrived"

say "Done in $(($(date +%s) - started)) s; everything is under $demo"
echo "demo: not built yet: the wizard window and the install worker of the setup workflow; this demo runs the main job headless through zel-install."
