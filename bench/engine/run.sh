#!/usr/bin/env bash
# run.sh BUILD_DIR [SIZE_MIB]: zel-fetch against aria2c on the same loopback
# mirrors (BENCH_REPS runs each, 3 by default), same number of connections
# (5 mirrors x 2), 1 MiB pieces, no file allocation. Prints wall times, their
# ratio and zel-fetch's peak memory for three scenarios. Use a release build:
# sanitizers distort every number.
#
# Each mirror listens on a loopback address of its own (127.0.0.1 to
# 127.0.0.5): aria2c's -x counts connections per host, so mirrors sharing
# one address would leave it two connections in all.
#
# zel-fetch only reports success once the whole file matches its MD5 digest;
# plain aria2c checks nothing. Where it does not take minutes, aria2c is also
# timed with --checksum (the same whole-file MD5) as a like-for-like peer,
# and the line "verify" shows how much of zel-fetch's time came after its
# last byte arrived.
set -euo pipefail
build=$(cd "$1" && pwd)
size_mib=${2:-256}
reps=${BENCH_REPS:-3}
fetch=$build/tools/zel-fetch/zel-fetch
server=$build/tools/mirror-server/mirror-server
for tool in "$fetch" "$server" /usr/bin/time; do
  [ -x "$tool" ] || { echo "bench: missing $tool" >&2; exit 1; }
done
for tool in aria2c openssl; do
  command -v $tool >/dev/null || { echo "bench: $tool is not installed" >&2; exit 1; }
done

work=$(mktemp -d /tmp/zel-bench-XXXXXX)
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

size=$((size_mib * 1048576))
head -c "$size" /dev/urandom > "$work/pkg.bin"
file_md5=$(md5sum "$work/pkg.bin" | cut -c1-32)
upper() { tr 'a-f' 'A-F'; }
chunks=$(( (size + 1048575) / 1048576 ))
digests=$work/digests
: > "$digests"
for ((c = 0; c < chunks; c++)); do
  dd if="$work/pkg.bin" bs=1048576 skip=$c count=1 status=none | md5sum | cut -c1-32 | upper >> "$digests"
done

# start_mirrors SCRIPT...: one server, one mirror per script, mirror k on
# 127.0.0.k; sets $urls.
start_mirrors() {
  : > "$work/server.out"
  args=()
  local k=1
  for script in "$@"; do
    args+=(--mirror "${script:+$script,}host=127.0.0.$k")
    k=$((k + 1))
  done
  "$server" --file "$work/pkg.bin" --name pkg.bin --log "$work/requests.log" "${args[@]}" \
      > "$work/server.out" 2>&1 &
  server_pid=$!
  for _ in $(seq 100); do grep -q '^ready' "$work/server.out" && break; sleep 0.05; done
  urls=()
  while read -r _ _ _ port _ host; do urls+=("http://$host:$port/download/pkg.bin"); done \
      < <(grep '^mirror' "$work/server.out")
  [ ${#urls[@]} -eq $# ] || { echo "bench: mirror-server did not start" >&2; cat "$work/server.out" >&2; exit 1; }
}

stop_mirrors() { kill "$server_pid"; wait "$server_pid" 2>/dev/null || true; server_pid=; }

write_config() {
  {
    echo '<?xml version="1.0" encoding="utf-8"?>'
    echo "<download version=\"1\" size=\"$size\" name=\"pkg.bin\">"
    echo "<url size=\"${#urls[@]}\">"
    for i in "${!urls[@]}"; do echo "<item_$i value=\"${urls[$i]}\"/>"; done
    echo "</url><hash size=\"$((chunks + 1))\"><item_0 value=\"$(echo "$file_md5" | upper)\"/>"
    n=1
    while read -r d; do echo "<item_$n value=\"$d\"/>"; n=$((n + 1)); done < "$digests"
    echo "</hash></download>"
  } > "$work/config.xml"
}

# timed CMD...: sets $wall (s) and $rss (peak KiB) of CMD; its output is in cmd.out.
timed() {
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" > "$work/cmd.out" 2>&1 || {
    echo "bench: '$*' failed:" >&2; tail -5 "$work/cmd.out" >&2; return 1; }
  read -r wall rss < "$work/time"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

# run_aria OUT_ARRAY [EXTRA_OPTION]: one aria2c run on fresh mirrors.
run_aria() {
  local -n walls=$1
  rm -f "$work/aria.bin"
  start_mirrors "${scripts[@]}"
  timed aria2c --quiet=true --allow-overwrite=true --auto-file-renaming=false \
      --file-allocation=none -x 2 -s $((2 * ${#urls[@]})) -k 1M --disable-ipv6=true \
      ${2:+"$2"} -d "$work" -o aria.bin "${urls[@]}"
  walls+=("$wall")
  cmp -s "$work/aria.bin" "$work/pkg.bin" || { echo "bench: aria2c's file differs" >&2; exit 1; }
  stop_mirrors
}

# scenario NAME LIMIT VERIFY SCRIPT...: each tool runs $reps times,
# alternating, each run on fresh mirrors (a fault such as a stall after N
# bytes counts what the mirror has sent so far); the medians are compared.
scenario() {
  local name=$1 limit=$2 verify=$3; shift 3
  scripts=("$@")
  local zel_walls=() zel_last=() aria_walls=() check_walls=() zel_rss=0
  for ((r = 0; r < reps; r++)); do
    rm -f "$work/zel.bin"
    start_mirrors "${scripts[@]}"
    write_config
    timed "$fetch" "$work/config.xml" "$work/zel.bin"
    zel_walls+=("$wall")
    zel_last+=("$(awk '/^last_byte_ms:/ { printf "%.3f", $2 / 1000 }' "$work/cmd.out")")
    [ "$rss" -gt "$zel_rss" ] && zel_rss=$rss
    cmp -s "$work/zel.bin" "$work/pkg.bin" || { echo "bench: zel-fetch's file differs" >&2; exit 1; }
    stop_mirrors
    run_aria aria_walls
    [ "$verify" = yes ] && run_aria check_walls "--checksum=md5=$file_md5"
  done
  local zel_wall aria_wall last
  zel_wall=$(printf '%s\n' "${zel_walls[@]}" | median)
  aria_wall=$(printf '%s\n' "${aria_walls[@]}" | median)
  last=$(printf '%s\n' "${zel_last[@]}" | median)
  printf '%s\n' "$name"
  printf '  zel-fetch %6.2fs  aria2c %6.2fs  ratio %s  peak %d MiB (budget %d MiB)\n' \
      "$zel_wall" "$aria_wall" "$(ratio "$zel_wall" "$aria_wall")" $((zel_rss / 1024)) \
      $((size_mib + 64))
  if [ "$verify" = yes ]; then
    local check_wall
    check_wall=$(printf '%s\n' "${check_walls[@]}" | median)
    printf '  aria2c --checksum %6.2fs  ratio %s\n' "$check_wall" "$(ratio "$zel_wall" "$check_wall")"
  fi
  printf '  verify: last byte at %.2fs, %.2fs after it\n' "$last" \
      "$(awk -v a="$zel_wall" -v b="$last" 'BEGIN { print a - b }')"
  if [ "$limit" != "-" ]; then
    printf '  limit %.2fs: whole run %s x, last byte %s x\n' "$limit" \
        "$(ratio "$zel_wall" "$limit")" "$(ratio "$last" "$limit")"
  fi
  echo "  runs: zel-fetch ${zel_walls[*]}  aria2c ${aria_walls[*]}${check_walls[*]:+  aria2c --checksum ${check_walls[*]}}"
}

# The digest of the whole file cannot be worked out before the bytes in
# front of it have arrived; with ten ranges arriving side by side, about
# nine tenths of it is left when the last byte comes.
openssl dgst -md5 "$work/pkg.bin" > /dev/null
md5_s=$( { /usr/bin/time -f '%e' openssl dgst -md5 "$work/pkg.bin" > /dev/null; } 2>&1 )
echo "bench/engine: ${size_mib} MiB, 5 mirrors x 2 connections, median of $reps runs"
printf 'MD5 of the whole file (openssl, from memory): %.2fs\n' "$md5_s"
scenario "five unthrottled mirrors" - yes "" "" "" "" ""
# 20 MiB/s per connection, 10 connections: the file cannot arrive faster than this.
limit=$(awk -v s="$size_mib" 'BEGIN { printf "%.3f", s / (10 * 20) }')
scenario "five mirrors at 20 MiB/s a connection" "$limit" yes \
    rate=20M rate=20M rate=20M rate=20M rate=20M
# aria2c waits out its 60 s time-out here; timing it with --checksum as well
# would only add minutes.
scenario "four fast, one stalls at 10 %" - no "" "" "" "" "stall_total=$((size / 10))"
