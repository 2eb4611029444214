#!/usr/bin/env bash
# run.sh BUILD_DIR [ROUNDS]: ten mirrors, each in a network namespace of its
# own (10.213.x.2, HTTP through a DNAT rule to a mirror-server on the
# namespace's loopback); four of them ignore ICMP echo. Runs zel-fetch with
# sequential and with concurrent probing and prints the time to the first
# byte of each and their ratio. Needs root, ip (iproute2) and nft.
set -euo pipefail
build=$(cd "$1" && pwd)
rounds=${2:-3}
fetch=$build/tools/zel-fetch/zel-fetch
server=$build/tools/mirror-server/mirror-server
for tool in "$fetch" "$server"; do
  [ -x "$tool" ] || { echo "bench: missing $tool" >&2; exit 1; }
done
[ "$(id -u)" -eq 0 ] || { echo "bench: needs root for network namespaces" >&2; exit 1; }
command -v nft >/dev/null || { echo "bench: nft (nftables) is not installed" >&2; exit 1; }

work=$(mktemp -d /tmp/zel-probe-bench-XXXXXX)
tag=$(( $$ % 10000 ))
base=$(( ($$ % 24) * 10 ))
namespaces=()
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  for ns in "${namespaces[@]}"; do ip netns del "$ns" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

size=$((4 * 1048576))
head -c "$size" /dev/urandom > "$work/pkg.bin"
file_md5=$(md5sum "$work/pkg.bin" | cut -c1-32 | tr 'a-f' 'A-F')

urls=()
for k in $(seq 0 9); do
  ns="zelprobe_${tag}_$k"; out="zph${tag}_$k"; in="zpn${tag}_$k"
  net="10.213.$((base + k))"
  ip netns add "$ns"; namespaces+=("$ns")
  ip link add "$out" type veth peer name "$in" netns "$ns"
  ip addr add "$net.1/24" dev "$out"; ip link set "$out" up
  ip -n "$ns" addr add "$net.2/24" dev "$in"; ip -n "$ns" link set "$in" up; ip -n "$ns" link set lo up
  ip netns exec "$ns" sysctl -qw net.ipv4.conf.all.route_localnet=1 "net.ipv4.conf.$in.route_localnet=1"
  # Mirrors 1, 4, 6 and 8 do not answer the echo.
  case $k in 1|4|6|8) ip netns exec "$ns" sysctl -qw net.ipv4.icmp_echo_ignore_all=1 ;; esac
  ip netns exec "$ns" "$server" --file "$work/pkg.bin" --name pkg.bin --mirror "" \
      > "$work/server$k.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do grep -q '^ready' "$work/server$k.out" && break; sleep 0.05; done
  port=$(awk '/^mirror/ { print $4 }' "$work/server$k.out")
  [ -n "$port" ] || { echo "bench: mirror $k did not start" >&2; exit 1; }
  ip netns exec "$ns" nft add table ip zel
  ip netns exec "$ns" nft 'add chain ip zel pre { type nat hook prerouting priority -100; }'
  ip netns exec "$ns" nft add rule ip zel pre ip daddr "$net.2" tcp dport 8080 dnat to "127.0.0.1:$port"
  urls+=("http://$net.2:8080/download/pkg.bin")
done

{
  echo '<?xml version="1.0" encoding="utf-8"?>'
  echo "<download version=\"1\" size=\"$size\" name=\"pkg.bin\"><url size=\"10\">"
  for i in "${!urls[@]}"; do echo "<item_$i value=\"${urls[$i]}\"/>"; done
  echo "</url><hash size=\"1\"><item_0 value=\"$file_md5\"/></hash></download>"
} > "$work/config.xml"

# first_byte MODE: milliseconds to the first byte, the median of $rounds runs.
first_byte() {
  local values=()
  for _ in $(seq "$rounds"); do
    rm -f "$work/out.bin"
    "$fetch" "$work/config.xml" "$work/out.bin" --probe "$1" > "$work/fetch.out" 2>&1 || {
      echo "bench: zel-fetch --probe $1 failed:" >&2; tail -5 "$work/fetch.out" >&2; exit 1; }
    cmp -s "$work/out.bin" "$work/pkg.bin" || { echo "bench: downloaded file differs" >&2; exit 1; }
    [ "$(grep -c '^ranked' "$work/fetch.out")" -eq 5 ] || { echo "bench: expected 5 ranked" >&2; exit 1; }
    values+=("$(awk '/^first_byte_ms:/ { print $2 }' "$work/fetch.out")")
  done
  printf '%s\n' "${values[@]}" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

sequential=$(first_byte sequential)
concurrent=$(first_byte concurrent)
echo "bench/probe: 10 mirrors, 4 silent to ICMP echo, median of $rounds runs"
echo "time to first byte, sequential probing: ${sequential} ms"
echo "time to first byte, concurrent probing: ${concurrent} ms"
awk -v s="$sequential" -v c="$concurrent" 'BEGIN { printf "ratio sequential / concurrent: %.2f\n", (c > 0 ? s / c : 0) }'
grep -E '^(ranked|probed)' "$work/fetch.out"
