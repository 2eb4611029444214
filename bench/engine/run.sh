#!/usr/bin/env bash
# run.sh BUILD_DIR [SIZE_MIB]: zel-fetch against aria2c on the same loopback
# mirrors (BENCH_REPS runs each, 3 by default), same number of connections (5 mirrors x 2), 1 MiB pieces, no file
# allocation. Prints wall times, their ratio and zel-fetch's peak memory for
# three scenarios. Use a release build: sanitizers distort every number.
set -euo pipefail
build=$(cd "$1" && pwd)
size_mib=${2:-256}
reps=${BENCH_REPS:-3}
fetch=$build/tools/zel-fetch/zel-fetch
server=$build/tools/mirror-server/mirror-server
for tool in "$fetch" "$server" /usr/bin/time; do
  [ -x "$tool" ] || { echo "bench: missing $tool" >&2; exit 1; }
done
command -v aria2c >/dev/null || { echo "bench: aria2c is not installed" >&2; exit 1; }

work=$(mktemp -d /tmp/zel-bench-XXXXXX)
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

size=$((size_mib * 1048576))
head -c "$size" /dev/urandom > "$work/pkg.bin"
upper() { tr 'a-f' 'A-F'; }
file_md5=$(md5sum "$work/pkg.bin" | cut -c1-32 | upper)
chunks=$(( (size + 1048575) / 1048576 ))
digests=$work/digests
: > "$digests"
for ((c = 0; c < chunks; c++)); do
  dd if="$work/pkg.bin" bs=1048576 skip=$c count=1 status=none | md5sum | cut -c1-32 | upper >> "$digests"
done

# start_mirrors SCRIPT...: one server, one mirror per script; sets $urls.
start_mirrors() {
  : > "$work/server.out"
  args=()
  for script in "$@"; do args+=(--mirror "$script"); done
  "$server" --file "$work/pkg.bin" --name pkg.bin --log "$work/requests.log" "${args[@]}" \
      > "$work/server.out" 2>&1 &
  server_pid=$!
  for _ in $(seq 100); do grep -q '^ready' "$work/server.out" && break; sleep 0.05; done
  urls=()
  while read -r _ _ _ port; do urls+=("http://127.0.0.1:$port/download/pkg.bin"); done \
      < <(grep '^mirror' "$work/server.out")
}

stop_mirrors() { kill "$server_pid"; wait "$server_pid" 2>/dev/null || true; server_pid=; }

write_config() {
  {
    echo '<?xml version="1.0" encoding="utf-8"?>'
    echo "<download version=\"1\" size=\"$size\" name=\"pkg.bin\">"
    echo "<url size=\"${#urls[@]}\">"
    for i in "${!urls[@]}"; do echo "<item_$i value=\"${urls[$i]}\"/>"; done
    echo "</url><hash size=\"$((chunks + 1))\"><item_0 value=\"$file_md5\"/>"
    n=1
    while read -r d; do echo "<item_$n value=\"$d\"/>"; n=$((n + 1)); done < "$digests"
    echo "</hash></download>"
  } > "$work/config.xml"
}

# timed OUT_VAR CMD...: wall seconds and peak RSS (KiB) of CMD.
timed() {
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" > "$work/cmd.out" 2>&1 || {
    echo "bench: '$*' failed:" >&2; tail -5 "$work/cmd.out" >&2; return 1; }
  read -r wall rss < "$work/time"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Each tool runs $reps times, alternating, on the same mirrors; the medians
# are compared (this machine's first touches of fresh memory vary a lot).
scenario() {
  local name=$1 limit=$2; shift 2
  local zel_walls=() aria_walls=() zel_rss=0
  for ((r = 0; r < reps; r++)); do
    rm -f "$work/zel.bin" "$work/aria.bin"
    # Fresh mirrors for every run: a fault such as a stall after N bytes
    # counts what the mirror has sent so far.
    start_mirrors "$@"
    write_config
    timed "$fetch" "$work/config.xml" "$work/zel.bin"
    zel_walls+=("$wall")
    [ "$rss" -gt "$zel_rss" ] && zel_rss=$rss
    cmp -s "$work/zel.bin" "$work/pkg.bin" || { echo "bench: zel-fetch's file differs" >&2; exit 1; }
    stop_mirrors
    start_mirrors "$@"
    timed aria2c --quiet=true --allow-overwrite=true --auto-file-renaming=false \
        --file-allocation=none -x 2 -s $((2 * ${#urls[@]})) -k 1M --disable-ipv6=true \
        -d "$work" -o aria.bin "${urls[@]}"
    aria_walls+=("$wall")
    cmp -s "$work/aria.bin" "$work/pkg.bin" || { echo "bench: aria2c's file differs" >&2; exit 1; }
    stop_mirrors
  done
  local zel_wall aria_wall ratio
  zel_wall=$(printf '%s\n' "${zel_walls[@]}" | median)
  aria_wall=$(printf '%s\n' "${aria_walls[@]}" | median)
  ratio=$(awk -v a="$zel_wall" -v b="$aria_wall" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
  local peak_mib=$((zel_rss / 1024))
  printf '%-34s zel-fetch %6.2fs  aria2c %6.2fs  ratio %s  peak %d MiB (budget %d MiB)' \
      "$name" "$zel_wall" "$aria_wall" "$ratio" "$peak_mib" $((size_mib + 64))
  if [ "$limit" != "-" ]; then
    awk -v a="$zel_wall" -v l="$limit" 'BEGIN { printf "  limit %.2fs  vs limit %.2f", l, a / l }'
  fi
  echo
  echo "  runs: zel-fetch ${zel_walls[*]}  aria2c ${aria_walls[*]}"
}

echo "bench/engine: ${size_mib} MiB, 5 mirrors x 2 connections, median of $reps runs"
scenario "five unthrottled mirrors" - "" "" "" "" ""
# 20 MiB/s per connection, 10 connections: the file cannot arrive faster than this.
limit=$(awk -v s="$size_mib" 'BEGIN { printf "%.3f", s / (10 * 20) }')
scenario "five mirrors at 20 MiB/s a link" "$limit" \
    rate=20M rate=20M rate=20M rate=20M rate=20M
scenario "four fast, one stalls at 10 %" - "" "" "" "" "stall_total=$((size / 10))"
